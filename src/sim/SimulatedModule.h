#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <array>
#include <chrono>
#include <functional>

class VOKTRequest;

// A ZIRO-BLDC module in software: it takes 9-byte request frames and gives the 9-byte reply
// a module gives, and behind them runs a small model of a motor on motor/bank 0.
//
// Every reply is: reply address (2), module address, status, the command it answers, the
// 32-bit value most significant byte first, and the checksum (sum of bytes 0-7 modulo
// 256). Frames that carry another module address get no reply at all, as on a bus. A set
// request answers with the value as the module took it; a refused one answers with the
// value the module kept.
//
// The motor moves with the clock: every request first brings the model up to the clock's
// time. The running module uses a monotonic clock; tests hand in a clock they step.
class SimulatedModule
{
public:
    // The reply address every reply carries.
    static constexpr quint8 ReplyAddress = 2;

    // Axis parameter numbers the model acts on.
    enum Parameter : int
    {
        TargetPosition = 0,
        ActualPosition = 1,
        TargetVelocity = 2,
        ActualVelocity = 3,
        MaxRampVelocity = 4,
        MaxCurrent = 6,
        TargetReachedVelocity = 7,
        TargetReachedDistance = 10,
        Acceleration = 11,
        RampVelocity = 13,
        RampEnabled = 146,
        ActualCurrent = 150,
        ActualPwm = 153,
        TargetPwm = 154,
        TargetCurrent = 155,
        StatusFlags = 156,
        CommutationMode = 159,
        SineInitialisation = 160,
        ClearOnce = 161,
        ClearOnNull = 163,
        EncoderSteps = 250,
    };

    // Bits of the status word (parameter 156).
    enum StatusBit : quint32
    {
        MotorHaltedBit = 1u << 4,
        PwmModeBit = 1u << 8,
        VelocityModeBit = 1u << 9,
        PositionModeBit = 1u << 10,
        TorqueModeBit = 1u << 11,
        PositionEndBit = 1u << 14,
        I2tExceededBit = 1u << 17,
    };

    // Where a parameter's value lives.
    enum class Access
    {
        // No such parameter: every request for it is answered with StatusWrongType.
        Unknown,
        // A setting: read, written and kept in non-volatile memory by store and restore.
        Setting,
        // A command value (targets, clear flags): read and written, never stored.
        Command,
        // An actual value the module reports; writes are refused.
        ReadOnly,
    };

    struct ParameterInfo
    {
        Access access = Access::Unknown;
        qint32 minimum = 0;
        qint32 maximum = 0;
        qint32 defaultValue = 0;
    };

    // Time since some fixed point; only differences count.
    using Clock = std::function<std::chrono::nanoseconds()>;

    // Without a clock the module runs on the monotonic clock.
    explicit SimulatedModule(int address = 1, Clock clock = {});

    int address() const { return m_address; }
    void setAddress(int address) { m_address = address; }

    // One request frame in, one reply frame out; empty when the module stays silent (a
    // frame for another address, or one that is not 9 bytes long).
    QByteArray handle(const QByteArray& request);
    // The request as its record goes on the line (its checksum as it stands).
    QByteArray handle(const VOKTRequest& request);

    // Brings the motor up to the clock's time. Every request does this first.
    void update();

    // What a get of the parameter answers now (0 for an unknown number).
    qint32 axisParameter(int type);
    // The value that a restore brings back.
    qint32 storedAxisParameter(int type) const;

    static ParameterInfo parameterInfo(int type);
    // Every axis parameter number the module knows, ascending.
    static QList<int> knownParameters();

private:
    enum class Mode
    {
        Pwm,
        Velocity,
        Position,
        Torque
    };

    struct Answer
    {
        quint8 status;
        qint32 value;
    };

    Answer getAxis(int type, int motorBank);
    Answer setAxis(int type, int motorBank, qint32 value);
    Answer storeOrRestore(int command, int type, int motorBank);
    Answer move(int type, int motorBank, qint32 value);
    Answer getGlobal(int type, int bank);
    Answer setOutput(int type, int bank, qint32 value);
    Answer getInputOutput(int type, int bank);

    qint32 readAxis(int type) const;
    bool acceptsValue(int type, qint32 value) const;
    void applyAxis(int type, qint32 value);
    void enterMode(Mode mode);
    void clearActualPosition(double newPosition);

    // One stretch of motion in which the velocity changes by the same amount every
    // millisecond step (or not at all), so that it can be run in closed form.
    struct Stretch
    {
        double velocity = 0; // rpm at its start
        double change = 0;   // rpm a step
    };

    // The model: one step of at most a millisecond. Long stretches of uniform motion are
    // run in one go instead, with the same result as stepping through them.
    void step(double dt);
    // How many of the next maxSteps steps (up to the last few before anything changes) form
    // one stretch; 0 when the next step has to be taken on its own.
    qint64 stretchAhead(qint64 maxSteps, Stretch* stretch) const;
    qint64 positionStretchAhead(qint64 maxSteps, Stretch* stretch) const;
    // Runs count steps of a stretch from step first on; stops early after the step in which
    // I²t exceeded came or went (the current limit changes there). Returns the steps run.
    qint64 runStretch(const Stretch& stretch, qint64 first, qint64 count);
    // The current drawn at the end of a step of a stretch, under the present current limit.
    double stretchCurrent(const Stretch& stretch, double step) const;
    // Adds one step of I²t; true when I²t exceeded came or went.
    bool accumulateI2t(double current, double dt);
    double rampAcceleration() const;
    double currentLimit() const;
    double loadCurrent(double velocity) const;
    double pwmFor(double velocity, double current) const;
    void advancePosition(double steps);
    quint32 statusWord() const;
    // Deterministic noise in [-1, 1] that changes every few milliseconds of model time.
    double noise(int channel) const;

    qint32 value(int type) const { return m_values[static_cast<size_t>(type)]; }

    int m_address;
    Clock m_clock;
    std::chrono::nanoseconds m_lastUpdate{0};
    std::chrono::nanoseconds m_time{0};
    std::chrono::nanoseconds m_initialisedAt{0};

    std::array<qint32, 256> m_values{};
    std::array<qint32, 256> m_stored{};
    std::array<qint32, 4> m_outputs{};

    Mode m_mode = Mode::Velocity;
    double m_velocity = 0;     // rpm, as the motor turns (no noise)
    double m_rampVelocity = 0; // rpm, the ramp generator in velocity mode
    double m_position = 0;     // steps, the actual position
    double m_encoder = 0;      // steps counted since power-up, for the null channel
    double m_current = 0;      // mA, as the motor draws it (no noise)
    double m_pwm = 0;          // the duty cycle in 1/1000
    double m_i2t = 0;          // mA²s above the continuous current
    bool m_i2tExceeded = false;
};

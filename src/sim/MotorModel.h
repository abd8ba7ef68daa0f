#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>

// The motor behind the simulated module, on motor/bank 0: a rotor with friction and a
// viscous load, driven in PWM, velocity (with its ramp), positioning (a trapezoid) or
// torque mode, with the drive's current limit and its I²t protection, an encoder with a
// null channel, and the readings a module reports (with a little noise). No Qt: the model
// is plain C++, moved on by the clock.
//
// It works on the module's axis parameter values: it reads its settings and targets from
// them (max. current, acceleration, target velocity, ...) and writes back what it changes
// itself (the target position of a move in progress when the count is cleared, the
// clear-on-null flags, the end of a sine initialisation). Every reading first needs
// update(), which runs the model up to the clock's time.
class MotorModel
{
public:
    // Time since some fixed point; only differences count.
    using Clock = std::function<std::chrono::nanoseconds()>;
    // The module's axis parameter values, by number.
    using Values = std::array<std::int32_t, 256>;

    enum class Mode
    {
        Pwm,
        Velocity,
        Position,
        Torque
    };

    // Bits of the status word (parameter 156).
    enum StatusBit : std::uint32_t
    {
        MotorHaltedBit = 1u << 4,
        PwmModeBit = 1u << 8,
        VelocityModeBit = 1u << 9,
        PositionModeBit = 1u << 10,
        TorqueModeBit = 1u << 11,
        PositionEndBit = 1u << 14,
        I2tExceededBit = 1u << 17,
    };

    // Without a clock the model runs on the monotonic clock. It starts at rest, in velocity
    // mode.
    MotorModel(Values& values, Clock clock = {});

    // Runs the motor up to the clock's time.
    void update();

    // What the module reports for a parameter: the actual position, velocity, ramp
    // velocity, current and PWM and the status word as the motor has them, every other
    // number the value it holds.
    std::int32_t reading(int type) const;
    std::uint32_t statusWord() const;
    // Model time since power-up.
    std::chrono::nanoseconds time() const { return m_time; }
    // The current the motor draws, in mA (no noise).
    double current() const { return m_current; }
    Mode mode() const { return m_mode; }

    // A new target of a mode (its value already among the values) takes the motor into it.
    void enterMode(Mode mode);
    // Sets the position count to newPosition; a move in progress keeps its remaining
    // distance.
    void clearActualPosition(double newPosition);
    // A sine initialisation starts now; parameter 160 turns 1 when it is done.
    void startSineInitialisation();

    // The nearest 32-bit value.
    static std::int32_t rounded(double value);

private:
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
    std::int64_t stretchAhead(std::int64_t maxSteps, Stretch* stretch) const;
    std::int64_t positionStretchAhead(std::int64_t maxSteps, Stretch* stretch) const;
    // Runs count steps of a stretch from step first on; stops early after the step in which
    // I²t exceeded came or went (the current limit changes there). Returns the steps run.
    std::int64_t runStretch(const Stretch& stretch, std::int64_t first, std::int64_t count);
    // The current drawn at the end of a step of a stretch, under the present current limit.
    double stretchCurrent(const Stretch& stretch, double step) const;
    // Adds one step of I²t; true when I²t exceeded came or went.
    bool accumulateI2t(double current, double dt);
    double rampAcceleration() const;
    double currentLimit() const;
    double loadCurrent(double velocity) const;
    double pwmFor(double velocity, double current) const;
    void advancePosition(double steps);
    // Deterministic noise in [-1, 1] that changes every few milliseconds of model time.
    double noise(int channel) const;

    std::int32_t value(int type) const { return m_values[static_cast<size_t>(type)]; }

    Values& m_values;
    Clock m_clock;
    std::chrono::nanoseconds m_lastUpdate{0};
    std::chrono::nanoseconds m_time{0};
    std::chrono::nanoseconds m_initialisedAt{0};

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

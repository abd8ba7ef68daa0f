#pragma once

#include "sim/ControlLoop.h"
#include "sim/MotorSettings.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>

// The motor behind the simulated module, on motor/bank 0: a rotor with inertia, friction
// and a viscous load, driven in PWM mode open-loop and otherwise through the module's own
// cascaded loops with the user's PID parameters (position, velocity and current, see
// ControlLoop), with the ramp or positioning profile shaping the target, the drive's
// current limit and its I²t protection, an encoder with a null channel, and the readings a
// module reports (with a little noise). No Qt: the model is plain C++, moved on by the
// clock.
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
    // mode, with the motor of the settings.
    MotorModel(Values& values, Clock clock = {}, const MotorSettings& motor = {});
    const MotorSettings& motor() const { return m_motor; }

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
    double current() const { return m_state.current; }
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
    // Everything of the motor and its drive that changes from one step to the next.
    struct State
    {
        // Along a stretch of uniform motion each of these changes by the same amount every
        // step (see Affine).
        double velocity = 0;        // rpm, as the motor turns (no noise)
        double measured = 0;        // rpm, the drive's filtered measurement, for its loops
        double current = 0;         // mA, as the motor draws it (no noise)
        double demand = 0;          // mA, what the current loop is asked for
        double duty = 0;            // 1/1000 of the supply, the current loop's output
        double rampVelocity = 0;    // rpm, the ramp generator in velocity mode
        double profileVelocity = 0; // steps/s, the positioning profile
        double followingError = 0;  // steps, the profile's position minus the actual one
        ControlLoop::State currentLoop;
        ControlLoop::State velocityLoop;
        ControlLoop::State positionLoop;
        // The rest is run in closed form along such a stretch.
        double position = 0;        // steps, the actual position
        double encoder = 0;         // steps counted since power-up, for the null channel
        double profilePosition = 0; // steps, where the positioning profile is
        double i2t = 0;             // mA²s above the continuous current
        bool i2tExceeded = false;
    };
    // The components of State that change uniformly along a stretch, in one vector.
    static constexpr size_t AffineSize = 14;
    using Affine = std::array<double, AffineSize>;
    static Affine affine(const State& state);
    static void setAffine(State& state, const Affine& values);
    // How large a change of each component is still rounding, in the component's unit.
    Affine magnitudes(const State& state) const;

    // One step of a millisecond: the loops of the mode, the current, the motor. Leaves the
    // position alone (a step may be a trial) and returns the steps the motor turned.
    double step(State& state) const;
    // The positioning profile's step; returns the steps the profile moved.
    double profileStep(State& state) const;
    double velocityLoop(State& state, double command, double limit) const;
    // The current loop's ten cycles within a step; returns the mean current.
    double currentLoopStep(State& state) const;
    // One step taken for real: the position too, and whether the motion has become a
    // stretch of uniform motion.
    void realStep();
    // Whether the motion, whose last increments agreed, is a stretch; if so, it is made one
    // exactly (what is left of the transient removed) and its increment kept.
    bool findStretch(const Affine& last);
    void endStretch();
    // The state n steps along the stretch from `from`, and the steps the motor turns on the
    // way; false when I²t exceeded would come or go within them (the current limit
    // changes there), or the motor would turn round.
    bool alongStretch(const State& from, std::int64_t n, State* to, double* moved) const;
    // Whether the step from k steps along the stretch still belongs to it (and I²t keeps
    // to the stretch up to its end).
    bool stretchHolds(std::int64_t k) const;
    // The longest run of the stretch within maxSteps.
    std::int64_t stretchAhead(std::int64_t maxSteps) const;
    bool runStretch(std::int64_t steps);
    // A motion that never settles (a loop that rings) is stepped for at most two minutes
    // in one update; beyond that the state is carried over, and outside positioning the
    // position runs on at the velocity.
    void leap(std::int64_t steps);

    // Adds the step's I²t; I²t exceeded comes or goes.
    void accumulateI2t(State& state) const;
    double rampAcceleration() const;
    double currentLimit(const State& state) const;
    double loadCurrent(double velocity) const;
    void advancePosition(double steps);
    // Writes a value the model changes itself.
    void setValue(int type, std::int32_t newValue);
    // Deterministic noise in [-1, 1] that changes every few milliseconds of model time.
    double noise(int channel) const;

    std::int32_t value(int type) const { return m_values[static_cast<size_t>(type)]; }

    Values& m_values;
    Clock m_clock;
    MotorSettings m_motor;
    // The velocity and position loops' scaling, with the firmware's gain scale.
    ControlLoop::Scaling m_velocityScaling;
    ControlLoop::Scaling m_positionScaling;
    std::chrono::nanoseconds m_lastUpdate{0};
    std::chrono::nanoseconds m_time{0};
    std::chrono::nanoseconds m_initialisedAt{0};
    // Steps of a millisecond run since power-up; the state is that at the end of the last.
    std::int64_t m_steps = 0;

    Mode m_mode = Mode::Velocity;
    State m_state;

    // The motion as a stretch: each step changes the state by m_increment.
    bool m_uniform = false;
    Affine m_increment{};
    Affine m_lastIncrement{};
    int m_agreeing = -1; // increments in a row that agree (-1: none seen yet)
    std::int64_t m_retryAt = 0;
    // The values the stretch was found with; any other value ends it.
    Values m_stretchValues{};
};

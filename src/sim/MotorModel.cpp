#include "sim/MotorModel.h"

#include "config/ParameterNumbers.h"
#include "sim/MotorConstants.h"

#include <algorithm>
#include <cmath>
#include <limits>

using namespace ParameterCatalogue;
using namespace MotorConstants;

namespace {

constexpr std::int32_t Int32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t Int32Max = std::numeric_limits<std::int32_t>::max();

std::int32_t toInt32(double value)
{
    const double rounded = std::round(value);
    if (rounded <= static_cast<double>(Int32Min))
        return Int32Min;
    if (rounded >= static_cast<double>(Int32Max))
        return Int32Max;
    return static_cast<std::int32_t>(rounded);
}

double approach(double from, double to, double maxChange)
{
    if (to > from)
        return std::min(to, from + maxChange);
    return std::max(to, from - maxChange);
}

double sign(double value)
{
    return value > 0 ? 1.0 : (value < 0 ? -1.0 : 0.0);
}

std::uint64_t mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// The share of the way to its input that a first-order lag of this time constant goes in
// one period.
double lagFactor(double period, double timeConstant)
{
    return 1.0 - std::exp(-period / timeConstant);
}

const double CoilFactor = lagFactor(CurrentCycleSeconds, CoilTimeConstant);
const double MeasurementFactor = lagFactor(StepSeconds, MeasurementTimeConstant);

} // namespace

namespace {

ControlLoop::Scaling scaled(ControlLoop::Scaling scaling, double gainScale)
{
    scaling.p *= gainScale;
    scaling.i *= gainScale;
    scaling.d *= gainScale;
    return scaling;
}

} // namespace

MotorModel::MotorModel(Values& values, Clock clock, const MotorSettings& motor)
    : m_values(values), m_clock(std::move(clock)), m_motor(motor),
      m_velocityScaling(scaled(VelocityScaling, motor.gainScale)),
      m_positionScaling(scaled(PositionScaling, motor.gainScale))
{
    if (!m_clock) {
        m_clock = [] {
            return std::chrono::duration_cast<std::chrono::nanoseconds>(
                std::chrono::steady_clock::now().time_since_epoch());
        };
    }
    m_lastUpdate = m_clock();
}

std::int32_t MotorModel::rounded(double value)
{
    return toInt32(value);
}

void MotorModel::startSineInitialisation()
{
    m_initialisedAt = m_time + InitialisationTime;
}

void MotorModel::enterMode(Mode mode)
{
    State& s = m_state;
    const bool loopsRan = m_mode == Mode::Velocity || m_mode == Mode::Position;
    const bool currentLoopRan = m_mode != Mode::Pwm;
    // The loops take over without a jolt: a loop that did not run starts with its integral
    // holding what flows now.
    if (!currentLoopRan && mode != Mode::Pwm) {
        s.currentLoop = {};
        s.currentLoop.integral = s.current / MilliamperePerDuty;
    }
    if (!loopsRan && (mode == Mode::Velocity || mode == Mode::Position)) {
        s.velocityLoop = {};
        s.velocityLoop.integral = s.current;
    }
    // The ramp starts from the velocity the motor has, a positioning profile from where
    // the motor is and how fast it goes.
    if (mode == Mode::Velocity && m_mode != Mode::Velocity)
        s.rampVelocity = s.velocity;
    if (mode == Mode::Position && m_mode != Mode::Position) {
        s.profilePosition = s.position;
        s.profileVelocity = s.velocity * std::max(1, value(EncoderSteps)) / 60.0;
        s.followingError = 0;
        s.positionLoop = {};
    }
    m_mode = mode;
    m_uniform = false;
    m_agreeing = -1;
}

void MotorModel::clearActualPosition(double newPosition)
{
    // A move in progress keeps its remaining distance: the target and the profile shift
    // with the count.
    const double shift = m_state.position - newPosition;
    m_state.position = newPosition;
    if (m_mode == Mode::Position) {
        setValue(TargetPosition, toInt32(value(TargetPosition) - shift));
        m_state.profilePosition -= shift;
    }
}

std::int32_t MotorModel::reading(int type) const
{
    const State& s = m_state;
    switch (type) {
    case ActualPosition:
        return toInt32(s.position);
    case ActualVelocity:
        if (std::abs(s.velocity) < 0.5)
            return 0;
        return toInt32(s.velocity + noise(0) * (1.0 + 0.002 * std::abs(s.velocity)));
    case RampVelocity:
        if (m_mode == Mode::Velocity)
            return toInt32(s.rampVelocity);
        if (m_mode == Mode::Position)
            return toInt32(s.profileVelocity * 60.0 / std::max(1, value(EncoderSteps)));
        return toInt32(s.velocity);
    case ActualCurrent: {
        if (std::abs(s.current) < 0.5)
            return 0;
        // Block commutation ripples more than sine commutation.
        const double ripple = value(CommutationMode) == 3 ? 1.0 : 3.0;
        return toInt32(s.current + noise(1) * ripple * (3.0 + 0.01 * std::abs(s.current)));
    }
    case ActualPWM:
        if (m_mode == Mode::Pwm)
            return value(TargetPWM);
        // The current loop's output and the back-EMF the drive adds to it.
        return toInt32(
            std::clamp(s.duty + s.velocity / NoLoadVelocity * PwmFull, -PwmFull, PwmFull));
    case StatusFlags:
        return static_cast<std::int32_t>(statusWord());
    default:
        return value(type);
    }
}

std::uint32_t MotorModel::statusWord() const
{
    const State& s = m_state;
    std::uint32_t word = 0;
    if (std::abs(s.velocity) < 0.5)
        word |= MotorHaltedBit;
    switch (m_mode) {
    case Mode::Pwm:
        word |= PwmModeBit;
        break;
    case Mode::Velocity:
        word |= VelocityModeBit;
        break;
    case Mode::Position:
        word |= PositionModeBit;
        if (std::abs(value(TargetPosition) - s.position) <= value(TargetReachedDistance) &&
            std::abs(s.velocity) <= value(TargetReachedVelocity))
            word |= PositionEndBit;
        break;
    case Mode::Torque:
        word |= TorqueModeBit;
        break;
    }
    if (s.i2tExceeded)
        word |= I2tExceededBit;
    return word;
}

double MotorModel::noise(int channel) const
{
    const auto slot = static_cast<std::uint64_t>(m_time.count() / 5000000); // 5 ms
    const std::uint64_t bits = mix(slot * 4 + static_cast<std::uint64_t>(channel));
    return static_cast<double>(bits >> 11) / static_cast<double>(1ull << 52) - 1.0;
}

double MotorModel::rampAcceleration() const
{
    return value(EnableVelocityRamp) != 0 ? double(value(Acceleration)) : UnlimitedAcceleration;
}

double MotorModel::currentLimit(const State& state) const
{
    const double maxCurrent = value(MaxCurrent);
    return state.i2tExceeded ? maxCurrent : PeakFactor * maxCurrent;
}

double MotorModel::loadCurrent(double velocity) const
{
    return m_motor.friction * std::clamp(velocity / FrictionBand, -1.0, 1.0) +
           m_motor.viscous * velocity;
}

double MotorModel::step(State& s) const
{
    const double vmax = value(MaxRampVelocity);
    const double limit = currentLimit(s);
    const double toSteps = std::max(1, value(EncoderSteps)) / 60.0;
    const double v0 = s.velocity;

    double mean = 0; // the current over the step
    switch (m_mode) {
    case Mode::Velocity: {
        const double target = std::clamp<double>(value(TargetVelocity), -vmax, vmax);
        s.rampVelocity = approach(s.rampVelocity, target, rampAcceleration() * StepSeconds);
        s.demand = velocityLoop(s, s.rampVelocity, limit);
        mean = currentLoopStep(s);
        break;
    }
    case Mode::Position: {
        // The profile leads; the position loop adds its correction to the profile's own
        // velocity, within the max. velocity.
        s.followingError += profileStep(s);
        const ControlLoop::Gains gains =
            ControlLoop::gains(m_values, PositionLoop, s.measured, m_positionScaling);
        const double command = ControlLoop::update(s.positionLoop, gains, s.followingError,
                                                   StepSeconds, s.profileVelocity / toSteps, vmax);
        s.demand = velocityLoop(s, command, limit);
        mean = currentLoopStep(s);
        break;
    }
    case Mode::Torque:
        s.demand = std::clamp<double>(value(TargetCurrent), -limit, limit);
        mean = currentLoopStep(s);
        break;
    case Mode::Pwm: {
        // Open loop: the bridge's duty drives the winding against the back-EMF, within the
        // current limit.
        const double pwm = value(TargetPWM) / PwmFull;
        s.current = std::clamp(StallCurrent * (pwm - v0 / NoLoadVelocity), -limit, limit);
        s.demand = s.current;
        s.duty = s.current / MilliamperePerDuty;
        mean = s.current;
        break;
    }
    }

    s.velocity = v0 + m_motor.acceleration * (mean - loadCurrent(v0)) * StepSeconds;
    s.measured += (s.velocity - s.measured) * MeasurementFactor;
    const double moved = (v0 + s.velocity) / 2.0 * toSteps * StepSeconds;
    if (m_mode == Mode::Position)
        s.followingError -= moved;
    accumulateI2t(s);
    return moved;
}

double MotorModel::profileStep(State& s) const
{
    // A trapezoid in steps: accelerate up to the max. velocity, and never faster than lets
    // the profile, braking from the end of this step on, stop on the target.
    const double toSteps = std::max(1, value(EncoderSteps)) / 60.0;
    const double vmaxSteps = value(MaxRampVelocity) * toSteps;
    const double accelSteps = rampAcceleration() * toSteps;
    const double distance = value(TargetPosition) - s.profilePosition;
    const double vs0 = s.profileVelocity;
    const double ahead = std::abs(distance) - sign(distance) * vs0 * StepSeconds / 2.0;
    const double half = accelSteps * StepSeconds / 2.0;
    const double braking =
        ahead > 0 ? std::sqrt(half * half + 2.0 * accelSteps * ahead) - half : 0.0;
    const double wanted = sign(distance) * std::min(vmaxSteps, braking);
    double vs1 = approach(vs0, wanted, accelSteps * StepSeconds);
    double moved = (vs0 + vs1) / 2.0 * StepSeconds;
    const double slow = 4.0 * accelSteps * StepSeconds;
    const bool passed = (distance > 0 && moved >= distance) || (distance < 0 && moved <= distance);
    const bool arrived = std::abs(distance - moved) < 0.5 && std::abs(vs1) <= slow;
    if ((passed && (std::abs(vs1) <= slow || value(EnableVelocityRamp) == 0)) || arrived) {
        moved = distance;
        vs1 = 0;
    }
    s.profilePosition += moved;
    s.profileVelocity = vs1;
    return moved;
}

double MotorModel::velocityLoop(State& s, double command, double limit) const
{
    const ControlLoop::Gains gains =
        ControlLoop::gains(m_values, VelocityLoop, s.measured, m_velocityScaling);
    return ControlLoop::update(s.velocityLoop, gains, command - s.measured, StepSeconds, 0, limit);
}

double MotorModel::currentLoopStep(State& s) const
{
    const ControlLoop::Gains gains =
        ControlLoop::gains(m_values, CurrentLoop, s.measured, CurrentScaling);
    double sum = 0;
    for (int cycle = 0; cycle < CurrentCycles; ++cycle) {
        s.duty = ControlLoop::update(s.currentLoop, gains, s.demand - s.current,
                                     CurrentCycleSeconds, 0, PwmFull);
        s.current += (s.duty * MilliamperePerDuty - s.current) * CoilFactor;
        sum += s.current;
    }
    return sum / CurrentCycles;
}

void MotorModel::accumulateI2t(State& s) const
{
    // The square of the current above the max. current adds up, below it runs down.
    const double maxCurrent = value(MaxCurrent);
    const double maxSquared = maxCurrent * maxCurrent;
    s.i2t = std::max(0.0, s.i2t + (s.current * s.current - maxSquared) * StepSeconds);
    if (!s.i2tExceeded && s.i2t > 0 && s.i2t >= maxSquared * I2tSeconds)
        s.i2tExceeded = true;
    else if (s.i2tExceeded && s.i2t == 0)
        s.i2tExceeded = false;
}

MotorModel::Affine MotorModel::affine(const State& s)
{
    return {s.velocity,
            s.measured,
            s.current,
            s.demand,
            s.duty,
            s.rampVelocity,
            s.profileVelocity,
            s.followingError,
            s.currentLoop.integral,
            s.currentLoop.lastError,
            s.velocityLoop.integral,
            s.velocityLoop.lastError,
            s.positionLoop.integral,
            s.positionLoop.lastError};
}

void MotorModel::setAffine(State& s, const Affine& v)
{
    s.velocity = v[0];
    s.measured = v[1];
    s.current = v[2];
    s.demand = v[3];
    s.duty = v[4];
    s.rampVelocity = v[5];
    s.profileVelocity = v[6];
    s.followingError = v[7];
    s.currentLoop.integral = v[8];
    s.currentLoop.lastError = v[9];
    s.velocityLoop.integral = v[10];
    s.velocityLoop.lastError = v[11];
    s.positionLoop.integral = v[12];
    s.positionLoop.lastError = v[13];
}

MotorModel::Affine MotorModel::magnitudes(const State& s) const
{
    // Each component is computed from quantities of its kind; what rounds away in them
    // rounds away in it.
    const double toSteps = std::max(1, value(EncoderSteps)) / 60.0;
    const double rpm =
        1 + std::abs(s.velocity) + std::abs(s.rampVelocity) + std::abs(s.profileVelocity) / toSteps;
    const double milliampere = 1 + std::abs(s.current) + std::abs(s.demand) +
                               std::abs(s.velocityLoop.integral) +
                               std::abs(s.velocityLoop.lastError);
    const double duty = 1 + std::abs(s.duty) + std::abs(s.currentLoop.integral);
    const double steps = 1 + std::abs(s.profileVelocity) * StepSeconds + std::abs(s.followingError);
    return {rpm,   rpm,  milliampere, milliampere, duty, rpm, 1 + std::abs(s.profileVelocity),
            steps, duty, milliampere, milliampere, rpm,  rpm, steps};
}

void MotorModel::setValue(int type, std::int32_t newValue)
{
    m_values[static_cast<size_t>(type)] = newValue;
    m_stretchValues[static_cast<size_t>(type)] = newValue;
}

void MotorModel::advancePosition(double steps)
{
    const double encoder = std::max(1, value(EncoderSteps));
    const double before = m_state.encoder;
    m_state.encoder += steps;
    m_state.position += steps;

    if (value(ClearOnNull) != 0) {
        const double turnBefore = std::floor(before / encoder);
        const double turnAfter = std::floor(m_state.encoder / encoder);
        if (turnAfter != turnBefore) {
            // The null channel comes once a rotation; the count restarts at the last one
            // passed, or, told to clear once, at the first.
            const double mark = value(ClearOnce) != 0
                                    ? (steps > 0 ? turnBefore + 1 : turnBefore) * encoder
                                    : (steps > 0 ? turnAfter : turnAfter + 1) * encoder;
            clearActualPosition(m_state.encoder - mark);
            if (value(ClearOnce) != 0) {
                setValue(ClearOnce, 0);
                setValue(ClearOnNull, 0);
            }
        }
    }

    // The position counter is 32 bits wide and runs over like one.
    constexpr double range = 4294967296.0;
    double& position = m_state.position;
    if (position >= 2147483648.0)
        position -= range * std::floor((position + 2147483648.0) / range);
    else if (position < -2147483648.0)
        position += range * std::floor((2147483648.0 - position) / range);
}

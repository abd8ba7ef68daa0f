#include "sim/MotorModel.h"

#include "config/ParameterNumbers.h"

#include <algorithm>
#include <cmath>
#include <limits>

using namespace ParameterCatalogue;

namespace {

constexpr std::int32_t Int32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t Int32Max = std::numeric_limits<std::int32_t>::max();

// The model is stepped in pieces of at most a millisecond.
constexpr double MaxStep = 0.001;
constexpr std::int64_t StepNanoseconds = 1000000;
// Stretches of uniform motion shorter than this are stepped through all the same.
constexpr std::int64_t MinStretchSteps = 8;

// The motor and its load. Torque current accelerates the rotor; friction and a viscous
// load brake it. At full PWM the standing motor draws the stall current and the free
// running one reaches the no-load velocity.
constexpr double AccelerationPerMilliampere = 5.0; // rpm/s for every mA of torque current
constexpr double FrictionCurrent = 50.0;           // mA
constexpr double FrictionBand = 10.0;              // rpm over which friction builds up
constexpr double ViscousCurrent = 0.25;            // mA per rpm
constexpr double StallCurrent = 10000.0;           // mA
constexpr double NoLoadVelocity = 5000.0;          // rpm
constexpr double PwmFull = 1000.0;

// The drive gives up to twice the max. current (6) for a short while: the time integral of
// I² - max² may reach max² · I2tSeconds, then the limit drops to the max. current itself
// until the integral has run down to zero again.
constexpr double PeakFactor = 2.0;
constexpr double I2tSeconds = 2.0;

// A ramp that is switched off (146 = 0) accelerates as fast as this.
constexpr double UnlimitedAcceleration = 1e9; // rpm/s

constexpr std::chrono::milliseconds InitialisationTime{500};

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

} // namespace

MotorModel::MotorModel(Values& values, Clock clock) : m_values(values), m_clock(std::move(clock))
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
    // The ramp starts from the velocity the motor has.
    if (mode == Mode::Velocity && m_mode != Mode::Velocity)
        m_rampVelocity = m_velocity;
    m_mode = mode;
}

void MotorModel::clearActualPosition(double newPosition)
{
    // A move in progress keeps its remaining distance: the target shifts with the count.
    const double shift = m_position - newPosition;
    m_position = newPosition;
    if (m_mode == Mode::Position)
        m_values[TargetPosition] = toInt32(value(TargetPosition) - shift);
}

std::int32_t MotorModel::reading(int type) const
{
    switch (type) {
    case ActualPosition:
        return toInt32(m_position);
    case ActualVelocity:
        if (std::abs(m_velocity) < 0.5)
            return 0;
        return toInt32(m_velocity + noise(0) * (1.0 + 0.002 * std::abs(m_velocity)));
    case RampVelocity:
        return toInt32(m_mode == Mode::Velocity ? m_rampVelocity : m_velocity);
    case ActualCurrent: {
        if (std::abs(m_current) < 0.5)
            return 0;
        // Block commutation ripples more than sine commutation.
        const double ripple = value(CommutationMode) == 3 ? 1.0 : 3.0;
        return toInt32(m_current + noise(1) * ripple * (3.0 + 0.01 * std::abs(m_current)));
    }
    case ActualPWM:
        return toInt32(m_pwm);
    case StatusFlags:
        return static_cast<std::int32_t>(statusWord());
    default:
        return value(type);
    }
}

std::uint32_t MotorModel::statusWord() const
{
    std::uint32_t word = 0;
    if (std::abs(m_velocity) < 0.5)
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
        if (std::abs(value(TargetPosition) - m_position) <= value(TargetReachedDistance) &&
            std::abs(m_velocity) <= value(TargetReachedVelocity))
            word |= PositionEndBit;
        break;
    case Mode::Torque:
        word |= TorqueModeBit;
        break;
    }
    if (m_i2tExceeded)
        word |= I2tExceededBit;
    return word;
}

double MotorModel::noise(int channel) const
{
    const auto slot = static_cast<std::uint64_t>(m_time.count() / 5000000); // 5 ms
    const std::uint64_t bits = mix(slot * 4 + static_cast<std::uint64_t>(channel));
    return static_cast<double>(bits >> 11) / static_cast<double>(1ull << 52) - 1.0;
}

void MotorModel::update()
{
    const std::chrono::nanoseconds now = m_clock();
    const std::chrono::nanoseconds elapsed = now - m_lastUpdate;
    m_lastUpdate = now;
    if (elapsed.count() <= 0)
        return;
    m_time += elapsed;
    // Whatever the motor does, it does in stretches: a ramp at constant acceleration, a
    // run at constant velocity, standing still. Each is run in one go, so catching up on a
    // long quiet time costs a few stretches, not a step for every millisecond. Only where
    // the motion changes its kind (and while torque or PWM mode settle) is it stepped.
    std::int64_t left = elapsed.count();
    while (left > 0) {
        if (left >= MinStretchSteps * StepNanoseconds) {
            Stretch stretch;
            std::int64_t ahead = stretchAhead(left / StepNanoseconds, &stretch);
            // A stretch ends before the motor turns round: it moves one way only, so that
            // it passes the encoder's null marks as the steps would.
            if (stretch.change * stretch.velocity < 0) {
                const double toStandstill = std::floor(-stretch.velocity / stretch.change);
                ahead = std::min(ahead, static_cast<std::int64_t>(toStandstill));
            }
            if (ahead >= MinStretchSteps) {
                const std::int64_t run = runStretch(stretch, 0, ahead);
                const double v1 = stretch.velocity + stretch.change * static_cast<double>(run);
                advancePosition((stretch.velocity + v1) / 2.0 / 60.0 *
                                std::max(1, value(EncoderSteps)) * MaxStep *
                                static_cast<double>(run));
                m_velocity = v1;
                if (m_mode == Mode::Velocity)
                    m_rampVelocity = v1;
                m_pwm = m_mode == Mode::Pwm ? double(value(TargetPWM)) : pwmFor(v1, m_current);
                left -= run * StepNanoseconds;
                continue;
            }
        }
        const std::int64_t piece = std::min(left, StepNanoseconds);
        step(piece == StepNanoseconds ? MaxStep : static_cast<double>(piece) * 1e-9);
        left -= piece;
    }
    if (value(SineInitialisation) == 0 && m_time >= m_initialisedAt)
        m_values[SineInitialisation] = 1;
}

double MotorModel::rampAcceleration() const
{
    return value(EnableVelocityRamp) != 0 ? double(value(Acceleration)) : UnlimitedAcceleration;
}

double MotorModel::currentLimit() const
{
    const double maxCurrent = value(MaxCurrent);
    return m_i2tExceeded ? maxCurrent : PeakFactor * maxCurrent;
}

double MotorModel::loadCurrent(double velocity) const
{
    return FrictionCurrent * std::clamp(velocity / FrictionBand, -1.0, 1.0) +
           ViscousCurrent * velocity;
}

std::int64_t MotorModel::stretchAhead(std::int64_t maxSteps, Stretch* stretch) const
{
    stretch->velocity = m_velocity;
    stretch->change = 0;
    switch (m_mode) {
    case Mode::Velocity: {
        if (m_rampVelocity != m_velocity)
            return 0;
        const double vmax = value(MaxRampVelocity);
        const double target = std::clamp<double>(value(TargetVelocity), -vmax, vmax);
        if (m_velocity == target)
            return maxSteps;
        // The ramp, up to two steps before it reaches the target.
        const double perStep = rampAcceleration() * MaxStep;
        const double steps = std::floor(std::abs(target - m_velocity) / perStep) - 2;
        if (steps < 1)
            return 0;
        stretch->change = sign(target - m_velocity) * perStep;
        return static_cast<std::int64_t>(std::min(steps, static_cast<double>(maxSteps)));
    }
    case Mode::Position:
        return positionStretchAhead(maxSteps, stretch);
    case Mode::Torque:
    case Mode::Pwm:
        // Settled: the drive current holds the load, the velocity stays.
        if (std::abs(AccelerationPerMilliampere *
                     (stretchCurrent(*stretch, 0) - loadCurrent(m_velocity))) >= 1e-6)
            return 0;
        return maxSteps;
    }
    return 0;
}

std::int64_t MotorModel::positionStretchAhead(std::int64_t maxSteps, Stretch* stretch) const
{
    const double distance = value(TargetPosition) - m_position;
    const double vmax = value(MaxRampVelocity);
    if (m_velocity == 0 && (distance == 0 || vmax == 0))
        return maxSteps;
    if (distance == 0)
        return 0;

    // In steps, along the way to the target: r is the distance left, u the speed towards
    // the target. Each step heads for the speed from which braking stops on the target
    // (never above the max. velocity), changing speed by at most h.
    const double toSteps = std::max(1, value(EncoderSteps)) / 60.0;
    const double accel = rampAcceleration() * toSteps;
    const double vmaxSteps = vmax * toSteps;
    const double h = accel * MaxStep;
    const double half = h / 2.0;
    const double direction = sign(distance);
    const double r0 = std::abs(distance);
    const double u0 = direction * m_velocity * toSteps;
    auto wanted = [&](double r, double u) {
        const double ahead = r - u * MaxStep / 2.0;
        const double braking = ahead > 0 ? std::sqrt(half * half + 2.0 * accel * ahead) - half : 0;
        return std::min(vmaxSteps, braking);
    };
    // On the braking curve the step lands within rounding of a full step's braking.
    const double tolerance = 1e-9 * (vmaxSteps + h);
    const double w0 = wanted(r0, u0);
    double du;
    if (w0 >= u0 + h)
        du = h; // speeding up
    else if (u0 == vmaxSteps && w0 == vmaxSteps)
        du = 0; // at the max. velocity
    else if (w0 <= u0 - h + tolerance)
        du = -h; // braking, or slowing down to a lower max. velocity
    else
        return 0;

    // Whether step i (counted from 0) still changes the speed by du, and leaves more than a
    // step to go, so that the target is neither reached nor passed within the stretch.
    // True up to some step and false from there on.
    auto holds = [&](std::int64_t i) {
        const double n = static_cast<double>(i);
        const double u = u0 + du * n;
        const double r = r0 - (u0 * n + du * n * n / 2.0) * MaxStep;
        const double u1 = u + du;
        const double w = wanted(r, u);
        const bool same = du > 0 ? w >= u1 : (du < 0 ? w <= u1 + tolerance : w >= vmaxSteps);
        return same && r - (u + u1) / 2.0 * MaxStep > 1.0;
    };
    if (!holds(0))
        return 0;
    std::int64_t good = 0; // holds up to and including this step
    std::int64_t bad = maxSteps;
    if (holds(maxSteps - 1))
        good = maxSteps - 1;
    else {
        while (bad - good > 1) {
            const std::int64_t middle = good + (bad - good) / 2;
            (holds(middle) ? good : bad) = middle;
        }
    }
    std::int64_t steps = good + 1;
    // The last steps before the motion changes its kind are taken one by one.
    if (steps < maxSteps)
        steps -= 2;
    stretch->change = direction * du / toSteps;
    return std::max<std::int64_t>(steps, 0);
}

double MotorModel::stretchCurrent(const Stretch& stretch, double step) const
{
    const double limit = currentLimit();
    double demand = 0;
    switch (m_mode) {
    case Mode::Torque:
        demand = value(TargetCurrent);
        break;
    case Mode::Pwm:
        demand = StallCurrent * (value(TargetPWM) / PwmFull - stretch.velocity / NoLoadVelocity);
        break;
    case Mode::Velocity:
    case Mode::Position:
        demand = loadCurrent(stretch.velocity + stretch.change * (step + 1)) +
                 stretch.change / MaxStep / AccelerationPerMilliampere;
        break;
    }
    return std::clamp(demand, -limit, limit);
}

std::int64_t MotorModel::runStretch(const Stretch& stretch, std::int64_t first, std::int64_t count)
{
    if (count <= 4) {
        for (std::int64_t i = 0; i < count; ++i) {
            m_current = stretchCurrent(stretch, static_cast<double>(first + i));
            if (accumulateI2t(m_current, MaxStep))
                return i + 1;
        }
        return count;
    }
    // Within a stretch the current changes monotonically, and linearly but where a limit or
    // the friction band bends it. Over a linear piece the sum of its squares, step by step,
    // has a closed form. I² - max² keeps its sign over the piece if it
    // has it at both ends (and the current does not pass zero): then I²t only runs down, or
    // only up, and whether it reaches zero or the limit within the piece shows at its end.
    // Otherwise, or if it does, the piece is halved.
    const double maxSquared = double(value(MaxCurrent)) * value(MaxCurrent);
    const double n = static_cast<double>(count);
    const double a = stretchCurrent(stretch, static_cast<double>(first));
    const double b = stretchCurrent(stretch, static_cast<double>(first + count - 1));
    const double m = stretchCurrent(stretch, static_cast<double>(first) + (n - 1) / 2.0);
    const bool linear = std::abs(m - (a + b) / 2.0) <= 1e-9 * (std::abs(a) + std::abs(b) + 1.0);
    const double ra = a * a - maxSquared;
    const double rb = b * b - maxSquared;
    const bool falling = ra <= 0 && rb <= 0;
    const bool rising = ra >= 0 && rb >= 0 && a * b >= 0;
    if (linear && (falling || rising)) {
        const double d = (b - a) / (n - 1);
        const double squares =
            n * a * a + a * d * n * (n - 1) + d * d * (n - 1) * n * (2 * n - 1) / 6.0;
        const double sum = (squares - n * maxSquared) * MaxStep;
        const double next = falling ? std::max(0.0, m_i2t + sum) : m_i2t + sum;
        const bool flips = falling
                               ? (m_i2tExceeded && next == 0)
                               : (!m_i2tExceeded && next > 0 && next >= maxSquared * I2tSeconds);
        if (!flips) {
            m_i2t = next;
            m_current = b;
            return count;
        }
    }
    const bool exceeded = m_i2tExceeded;
    const std::int64_t half = count / 2;
    const std::int64_t run = runStretch(stretch, first, half);
    if (m_i2tExceeded != exceeded)
        return run;
    return half + runStretch(stretch, first + half, count - half);
}

bool MotorModel::accumulateI2t(double current, double dt)
{
    // The square of the current above the max. current adds up, below it runs down.
    const double maxCurrent = value(MaxCurrent);
    m_i2t = std::max(0.0, m_i2t + (current * current - maxCurrent * maxCurrent) * dt);
    if (!m_i2tExceeded && m_i2t > 0 && m_i2t >= maxCurrent * maxCurrent * I2tSeconds) {
        m_i2tExceeded = true;
        return true;
    }
    if (m_i2tExceeded && m_i2t == 0) {
        m_i2tExceeded = false;
        return true;
    }
    return false;
}

double MotorModel::pwmFor(double velocity, double current) const
{
    return std::clamp((velocity / NoLoadVelocity + current / StallCurrent) * PwmFull, -PwmFull,
                      PwmFull);
}

void MotorModel::step(double dt)
{
    const double encoder = std::max(1, value(EncoderSteps));
    const double acceleration = rampAcceleration();
    const double vmax = value(MaxRampVelocity);
    const double limit = currentLimit();
    const double v0 = m_velocity;
    double v1 = v0;
    double demand = 0;

    switch (m_mode) {
    case Mode::Velocity: {
        const double target = std::clamp<double>(value(TargetVelocity), -vmax, vmax);
        m_rampVelocity = approach(m_rampVelocity, target, acceleration * dt);
        v1 = m_rampVelocity;
        demand = loadCurrent(v1) + (v1 - v0) / dt / AccelerationPerMilliampere;
        advancePosition((v0 + v1) / 2.0 / 60.0 * encoder * dt);
        break;
    }
    case Mode::Position: {
        // A trapezoid in steps: accelerate up to the max. velocity, and never faster than
        // lets the motor, braking from the end of this step on, stop on the target.
        const double toSteps = encoder / 60.0;
        const double vmaxSteps = vmax * toSteps;
        const double accelSteps = acceleration * toSteps;
        const double distance = value(TargetPosition) - m_position;
        const double vs0 = v0 * toSteps;
        const double ahead = std::abs(distance) - sign(distance) * vs0 * dt / 2.0;
        const double half = accelSteps * dt / 2.0;
        const double braking =
            ahead > 0 ? std::sqrt(half * half + 2.0 * accelSteps * ahead) - half : 0.0;
        const double wanted = sign(distance) * std::min(vmaxSteps, braking);
        double vs1 = approach(vs0, wanted, accelSteps * dt);
        double moved = (vs0 + vs1) / 2.0 * dt;
        const double slow = 4.0 * accelSteps * MaxStep;
        const bool passed =
            (distance > 0 && moved >= distance) || (distance < 0 && moved <= distance);
        const bool arrived = std::abs(distance - moved) < 0.5 && std::abs(vs1) <= slow;
        if ((passed && (std::abs(vs1) <= slow || value(EnableVelocityRamp) == 0)) || arrived) {
            moved = distance;
            vs1 = 0;
        }
        v1 = vs1 / toSteps;
        demand = loadCurrent(v1) + (v1 - v0) / dt / AccelerationPerMilliampere;
        advancePosition(moved);
        break;
    }
    case Mode::Torque:
    case Mode::Pwm: {
        demand = m_mode == Mode::Torque
                     ? value(TargetCurrent)
                     : StallCurrent * (value(TargetPWM) / PwmFull - v0 / NoLoadVelocity);
        const double current = std::clamp(demand, -limit, limit);
        v1 = v0 + AccelerationPerMilliampere * (current - loadCurrent(v0)) * dt;
        advancePosition((v0 + v1) / 2.0 / 60.0 * encoder * dt);
        break;
    }
    }

    m_velocity = v1;
    m_current = std::clamp(demand, -limit, limit);
    m_pwm = m_mode == Mode::Pwm ? double(value(TargetPWM)) : pwmFor(v1, m_current);
    accumulateI2t(m_current, dt);
}

void MotorModel::advancePosition(double steps)
{
    const double encoder = std::max(1, value(EncoderSteps));
    const double before = m_encoder;
    m_encoder += steps;
    m_position += steps;

    if (value(ClearOnNull) != 0) {
        const double turnBefore = std::floor(before / encoder);
        const double turnAfter = std::floor(m_encoder / encoder);
        if (turnAfter != turnBefore) {
            // The null channel comes once a rotation; the count restarts at the last one
            // passed, or, told to clear once, at the first.
            const double mark = value(ClearOnce) != 0
                                    ? (steps > 0 ? turnBefore + 1 : turnBefore) * encoder
                                    : (steps > 0 ? turnAfter : turnAfter + 1) * encoder;
            clearActualPosition(m_encoder - mark);
            if (value(ClearOnce) != 0) {
                m_values[ClearOnce] = 0;
                m_values[ClearOnNull] = 0;
            }
        }
    }

    // The position counter is 32 bits wide and runs over like one.
    constexpr double range = 4294967296.0;
    if (m_position >= 2147483648.0)
        m_position -= range * std::floor((m_position + 2147483648.0) / range);
    else if (m_position < -2147483648.0)
        m_position += range * std::floor((2147483648.0 - m_position) / range);
}

// The motor model's way through time: steps of a millisecond while the motion changes, and
// stretches of uniform motion (standing still, a steady velocity, a ramp the loops follow)
// run in one go.

#include "sim/MotorModel.h"

#include "config/ParameterNumbers.h"
#include "sim/MotorConstants.h"

#include <algorithm>
#include <cmath>

using namespace ParameterCatalogue;
using namespace MotorConstants;

namespace {

// Two increments agree when no component differs by more than this share of its magnitude
// (a few hundred times the rounding of a double).
constexpr double AgreeingShare = 1e-12;
// A step along a stretch still belongs to it within this share (the increment, found from
// a few steps, is that exact).
constexpr double HoldingShare = 1e-9;
// The perturbation by which the model's dependence on each component is measured.
constexpr double PerturbationShare = 1e-7;
// The transient left when a stretch is found is removed at once if it is below this share.
constexpr double RemovableShare = 1e-6;
// After a stretch was not found, the next try comes so many steps later.
constexpr std::int64_t RetrySteps = 64;
// A motion that does not settle is stepped for at most two minutes in one update.
constexpr std::int64_t MaxSteppedSteps = 120000;

constexpr size_t N = 14;
// Below this (in units of the components' magnitudes) a dependence is rounding.
constexpr double Negligible = 1e-6;
using Matrix = std::array<std::array<double, N>, N>;
using Vector = std::array<double, N>;

using Mask = std::array<bool, N>;

// Solves m · x = b for the components that are not fixed (their rows and columns are left
// out, and they come out 0); one the matrix leaves free comes out 0 as well.
Vector solve(Matrix m, Vector b, const Mask& fixed)
{
    for (size_t i = 0; i < N; ++i) {
        if (!fixed[i])
            continue;
        for (size_t r = 0; r < N; ++r)
            m[r][i] = m[i][r] = 0;
        b[i] = 0;
    }
    std::array<size_t, N> pivotColumn{};
    size_t row = 0;
    for (size_t column = 0; column < N && row < N; ++column) {
        size_t best = row;
        for (size_t r = row + 1; r < N; ++r)
            if (std::abs(m[r][column]) > std::abs(m[best][column]))
                best = r;
        if (std::abs(m[best][column]) < Negligible)
            continue;
        std::swap(m[best], m[row]);
        std::swap(b[best], b[row]);
        for (size_t r = row + 1; r < N; ++r) {
            const double factor = m[r][column] / m[row][column];
            if (factor == 0)
                continue;
            for (size_t c = column; c < N; ++c)
                m[r][c] -= factor * m[row][c];
            b[r] -= factor * b[row];
        }
        pivotColumn[row] = column;
        ++row;
    }
    Vector x{};
    for (size_t r = row; r-- > 0;) {
        const size_t column = pivotColumn[r];
        double sum = b[r];
        for (size_t c = column + 1; c < N; ++c)
            sum -= m[r][c] * x[c];
        x[column] = sum / m[r][column];
    }
    return x;
}

Vector times(const Matrix& m, const Vector& v)
{
    Vector result{};
    for (size_t r = 0; r < N; ++r)
        for (size_t c = 0; c < N; ++c)
            result[r] += m[r][c] * v[c];
    return result;
}

double sign(double value)
{
    return value > 0 ? 1.0 : (value < 0 ? -1.0 : 0.0);
}

} // namespace

void MotorModel::update()
{
    const std::chrono::nanoseconds now = m_clock();
    const std::chrono::nanoseconds elapsed = now - m_lastUpdate;
    m_lastUpdate = now;
    if (elapsed.count() <= 0)
        return;
    m_time += elapsed;
    const std::int64_t due = m_time.count() / StepNanoseconds;
    // A value written since (a target, a gain) ends the stretch.
    if (m_uniform && m_values != m_stretchValues)
        endStretch();
    std::int64_t stepped = 0;
    while (m_steps < due) {
        if (m_uniform) {
            const std::int64_t ahead = stretchAhead(due - m_steps);
            if (ahead > 0 && runStretch(ahead))
                continue;
            endStretch();
        }
        if (stepped == MaxSteppedSteps) {
            leap(due - m_steps);
            break;
        }
        realStep();
        ++stepped;
    }
    if (value(SineInitialisation) == 0 && m_time >= m_initialisedAt)
        setValue(SineInitialisation, 1);
}

void MotorModel::endStretch()
{
    // The motion that follows may well be uniform again at once (a loop crossing into its
    // other parameter set, the friction band left behind): it is looked for at once.
    m_uniform = false;
    m_agreeing = -1;
    m_retryAt = m_steps;
}

void MotorModel::realStep()
{
    const Affine before = affine(m_state);
    advancePosition(step(m_state));
    ++m_steps;
    const Affine after = affine(m_state);
    const Affine scale = magnitudes(m_state);
    Affine increment;
    bool agrees = m_agreeing >= 0;
    for (size_t j = 0; j < AffineSize; ++j) {
        increment[j] = after[j] - before[j];
        agrees = agrees && std::abs(increment[j] - m_lastIncrement[j]) <= AgreeingShare * scale[j];
    }
    m_agreeing = agrees ? m_agreeing + 1 : 0;
    if (m_agreeing >= 2 && m_steps >= m_retryAt && !findStretch(increment))
        m_retryAt = m_steps + RetrySteps;
    m_lastIncrement = increment;
}

bool MotorModel::findStretch(const Affine& last)
{
    // Within the kind of motion it is in, the model is linear: one step takes the state x
    // to A x + b. A is measured around the present state, in units of each component's
    // magnitude. A component whose row of I - A is empty runs on by itself (a reference
    // that ramps, an integral held at its bound): it is fixed, and its increment q is the
    // one it had. The others, driven only by the fixed ones, change uniformly by
    // q = A q + c, c what the fixed ones add: (I - A) q = A q_fixed. What is left of the
    // transient, t, decays as A t; from the last increment d, d = q + (A - I) t0 and
    // t = A t0. It is removed.
    const Affine scale = magnitudes(m_state);
    State next = m_state;
    step(next);
    const Affine base = affine(next);
    Matrix a{};
    for (size_t j = 0; j < N; ++j) {
        State perturbed = m_state;
        Affine x = affine(perturbed);
        const double delta = PerturbationShare * scale[j];
        x[j] += delta;
        setAffine(perturbed, x);
        step(perturbed);
        const Affine y = affine(perturbed);
        for (size_t i = 0; i < N; ++i)
            a[i][j] = (y[i] - base[i]) / delta * scale[j] / scale[i];
    }
    Matrix identityMinusA{};
    Mask fixed{};
    Vector given{};
    for (size_t i = 0; i < N; ++i) {
        double largest = 0;
        for (size_t j = 0; j < N; ++j) {
            identityMinusA[i][j] = (i == j ? 1.0 : 0.0) - a[i][j];
            largest = std::max(largest, std::abs(identityMinusA[i][j]));
        }
        fixed[i] = largest < Negligible;
        if (fixed[i])
            given[i] = last[i] / scale[i];
    }
    Vector q = solve(identityMinusA, times(a, given), fixed);
    Vector left{};
    for (size_t i = 0; i < N; ++i) {
        if (fixed[i])
            q[i] = given[i];
        else
            left[i] = q[i] - last[i] / scale[i];
    }
    const Vector transient = times(a, solve(identityMinusA, left, fixed));
    for (size_t j = 0; j < N; ++j)
        if (!fixed[j] && !(std::abs(transient[j]) <= RemovableShare))
            return false;

    Affine x = affine(m_state);
    for (size_t j = 0; j < N; ++j) {
        if (!fixed[j])
            x[j] -= transient[j] * scale[j];
        // What is rounding is no motion.
        const double increment = q[j] * scale[j];
        m_increment[j] = std::abs(increment) <= 1e-15 * scale[j] ? 0.0 : increment;
    }
    setAffine(m_state, x);
    m_uniform = true;
    m_stretchValues = m_values;
    return true;
}

bool MotorModel::alongStretch(const State& from, std::int64_t n, State* to, double* moved) const
{
    *to = from;
    Affine x = affine(from);
    const double count = static_cast<double>(n);
    for (size_t j = 0; j < AffineSize; ++j)
        x[j] += count * m_increment[j];
    setAffine(*to, x);
    // Velocities grow linearly along the stretch: what they cover grows with its square.
    const double toSteps = std::max(1, value(EncoderSteps)) / 60.0;
    *moved = toSteps * StepSeconds * (count * from.velocity + m_increment[0] * count * count / 2);
    to->profilePosition +=
        StepSeconds * (count * from.profileVelocity + m_increment[6] * count * count / 2);
    // One way only, so that the null channel's marks are passed as the steps pass them.
    if (n > 0 && sign(from.velocity) != sign(to->velocity))
        return false;

    // I²t, the sum of the squares of a current that changes linearly. Over the stretch
    // I² - max² must keep its sign (and a current above the max. current its direction):
    // then I²t only runs down or only up, and whether I²t exceeded comes or goes shows at
    // its end.
    if (n == 0)
        return true;
    const double maxCurrent = value(MaxCurrent);
    const double maxSquared = maxCurrent * maxCurrent;
    const double d = m_increment[2];
    const double i0 = from.current;
    const double first = i0 + d;
    const double last = to->current;
    const bool falling = first * first <= maxSquared && last * last <= maxSquared;
    const bool rising =
        first * first >= maxSquared && last * last >= maxSquared && first * last >= 0;
    if (!falling && !rising)
        return false;
    const double squares = count * i0 * i0 + i0 * d * count * (count + 1) +
                           d * d * count * (count + 1) * (2 * count + 1) / 6.0;
    const double sum = (squares - count * maxSquared) * StepSeconds;
    const double i2t = falling && !rising ? std::max(0.0, from.i2t + sum) : from.i2t + sum;
    const bool flips = from.i2tExceeded ? (falling && !rising && i2t == 0)
                                        : (i2t > 0 && i2t >= maxSquared * I2tSeconds);
    to->i2t = i2t;
    return !flips;
}

bool MotorModel::stretchHolds(std::int64_t k) const
{
    State at;
    double moved = 0;
    if (!alongStretch(m_state, k + 1, &at, &moved) || !alongStretch(m_state, k, &at, &moved))
        return false;
    State trial = at;
    step(trial);
    if (trial.i2tExceeded != at.i2tExceeded || sign(trial.velocity) != sign(at.velocity))
        return false;
    const Affine before = affine(at);
    const Affine after = affine(trial);
    const Affine scale = magnitudes(trial);
    for (size_t j = 0; j < AffineSize; ++j)
        if (!(std::abs(after[j] - before[j] - m_increment[j]) <= HoldingShare * scale[j]))
            return false;
    return true;
}

std::int64_t MotorModel::stretchAhead(std::int64_t maxSteps) const
{
    // Whether the step from k steps along still belongs to the stretch is true up to some
    // k and false from there on: the kinds of motion are bounded by straight lines in the
    // state (a limit, the friction band, the end of a ramp) that a straight path crosses
    // once.
    if (!stretchHolds(0))
        return 0;
    if (stretchHolds(maxSteps - 1))
        return maxSteps;
    std::int64_t good = 0;
    std::int64_t bad = maxSteps - 1;
    while (bad - good > 1) {
        const std::int64_t middle = good + (bad - good) / 2;
        (stretchHolds(middle) ? good : bad) = middle;
    }
    return good + 1;
}

bool MotorModel::runStretch(std::int64_t steps)
{
    State to;
    double moved = 0;
    if (!alongStretch(m_state, steps, &to, &moved))
        return false;
    to.position = m_state.position;
    to.encoder = m_state.encoder;
    m_state = to;
    advancePosition(moved);
    m_steps += steps;
    return true;
}

void MotorModel::leap(std::int64_t steps)
{
    // The motion is carried over as it is; outside positioning the motor runs on.
    if (m_mode != Mode::Position) {
        const double toSteps = std::max(1, value(EncoderSteps)) / 60.0;
        advancePosition(m_state.velocity * toSteps * StepSeconds * static_cast<double>(steps));
    }
    m_steps += steps;
}

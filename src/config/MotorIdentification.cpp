#include "config/MotorIdentification.h"

#include "config/MotorAccess.h"
#include "config/ParameterNumbers.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace MotorIdentification {

namespace {

using namespace ParameterCatalogue;

// The band the motor is driven through, in parts of the velocity limit, and the velocity
// below which readings are left out of the fit (friction builds up near standstill).
constexpr double TopShare = 0.9;
constexpr double BottomShare = 0.3;
constexpr double FitShare = 0.2;
// How long a rise or fall through the band should take once the motor is known, s: about
// three of the motor's time constants (1 / (accel · viscous)) within these bounds. Long
// enough for many readings, short enough that the current is well away from what merely
// holds the velocity.
constexpr double MinPhaseSeconds = 0.08;
constexpr double MaxPhaseSeconds = 0.35;
constexpr double PhaseTimeConstants = 3.0;
// The first rise starts at an eighth of the current limit and doubles this often, s.
constexpr double EscalateSeconds = 0.15;
// Limits of a phase, s: a phase that does not reach its end within them ends there.
constexpr double RiseLimitSeconds = 1.5;
constexpr double FallLimitSeconds = 1.0;
constexpr double FirstFallLimitSeconds = 0.6;
// The motor is waited for this long to be at rest at the start, s.
constexpr double RestSeconds = 5.0;
// The motor must have left standstill after this long at the current limit, s.
constexpr double BreakawaySeconds = 1.0;
// The driving goes on until this long after the start (at least three rises and falls).
constexpr double MeasureSeconds = 6.0;
constexpr int MinCycles = 3;
// The span of the fit's windows (a quarter of a phase within these bounds), and the time
// after a write that a window keeps clear of.
constexpr double MinWindowSeconds = 0.015;
constexpr double MaxWindowSeconds = 0.04;
constexpr double SettleSeconds = 0.004;

using Vector3 = std::array<double, 3>;
using Matrix3 = std::array<Vector3, 3>;

bool solve3(Matrix3 a, Vector3 b, Vector3* x)
{
    for (size_t c = 0; c < 3; ++c) {
        size_t pivot = c;
        for (size_t r = c + 1; r < 3; ++r)
            if (std::abs(a[r][c]) > std::abs(a[pivot][c]))
                pivot = r;
        if (std::abs(a[pivot][c]) <
            1e-12 * (std::abs(a[0][0]) + std::abs(a[1][1]) + std::abs(a[2][2]) + 1e-300))
            return false;
        std::swap(a[c], a[pivot]);
        std::swap(b[c], b[pivot]);
        for (size_t r = c + 1; r < 3; ++r) {
            const double f = a[r][c] / a[c][c];
            for (size_t k = c; k < 3; ++k)
                a[r][k] -= f * a[c][k];
            b[r] -= f * b[c];
        }
    }
    for (size_t r = 3; r-- > 0;) {
        double sum = b[r];
        for (size_t k = r + 1; k < 3; ++k)
            sum -= a[r][k] * (*x)[k];
        (*x)[r] = sum / a[r][r];
    }
    return true;
}

// The readings' integral from t0 to t1, linear between readings (held beyond the ends).
double integral(const std::vector<Reading>& readings, double t0, double t1)
{
    const auto valueAt = [&](double t) {
        auto next =
            std::lower_bound(readings.begin(), readings.end(), t,
                             [](const Reading& r, double time) { return r.seconds < time; });
        if (next == readings.begin())
            return next->value;
        if (next == readings.end())
            return readings.back().value;
        const Reading& before = *std::prev(next);
        const double span = next->seconds - before.seconds;
        return span > 0 ? before.value + (next->value - before.value) * (t - before.seconds) / span
                        : next->value;
    };
    double sum = 0;
    double t = t0;
    double v = valueAt(t0);
    auto it = std::upper_bound(readings.begin(), readings.end(), t0,
                               [](double time, const Reading& r) { return time < r.seconds; });
    for (; it != readings.end() && it->seconds < t1; ++it) {
        sum += (v + it->value) / 2 * (it->seconds - t);
        t = it->seconds;
        v = it->value;
    }
    sum += (v + valueAt(t1)) / 2 * (t1 - t);
    return sum;
}

bool fitWindows(const std::vector<Reading>& velocity, const std::vector<Reading>& current,
                const std::vector<double>& writes, double minVelocity, double windowSeconds,
                Motor* motor)
{
    if (velocity.size() < 2 || current.empty())
        return false;
    // Between two readings of the velocity, v1 − v0 = accel · ∫i − accel · friction · T −
    // accel · viscous · ∫v: linear in (accel, accel · friction, accel · viscous).
    Matrix3 normal{};
    Vector3 right{};
    int rows = 0;
    size_t end = 0;
    for (size_t k = 0; k < velocity.size(); ++k) {
        const double t0 = velocity[k].seconds;
        end = std::max(end, k + 1);
        while (end < velocity.size() && velocity[end].seconds - t0 < windowSeconds)
            ++end;
        if (end >= velocity.size())
            break;
        const double t1 = velocity[end].seconds;
        bool usable = true;
        for (size_t j = k; j <= end && usable; ++j)
            usable = velocity[j].value >= minVelocity;
        for (double w : writes)
            usable = usable && !(w > t0 - SettleSeconds && w < t1);
        if (!usable)
            continue;
        const Vector3 x{integral(current, t0, t1), -(t1 - t0), -integral(velocity, t0, t1)};
        const double y = velocity[end].value - velocity[k].value;
        for (size_t r = 0; r < 3; ++r) {
            for (size_t c = 0; c < 3; ++c)
                normal[r][c] += x[r] * x[c];
            right[r] += x[r] * y;
        }
        ++rows;
    }
    // Scaled, so that the three columns weigh alike in the solution's test.
    Vector3 scale;
    for (size_t r = 0; r < 3; ++r)
        scale[r] = normal[r][r] > 0 ? 1 / std::sqrt(normal[r][r]) : 1;
    for (size_t r = 0; r < 3; ++r) {
        right[r] *= scale[r];
        for (size_t c = 0; c < 3; ++c)
            normal[r][c] *= scale[r] * scale[c];
    }
    Vector3 theta{};
    if (rows < 10 || !solve3(normal, right, &theta))
        return false;
    for (size_t r = 0; r < 3; ++r)
        theta[r] *= scale[r];
    if (!(theta[0] > 0))
        return false;
    motor->accel = theta[0];
    motor->friction = theta[1] / theta[0];
    motor->viscous = theta[2] / theta[0];
    return true;
}

// The run's steps, with the readings it takes.
class Run
{
public:
    Run(MotorAccess& access, Result& result) : m_access(access), m_result(result)
    {
        m_start = access.now();
    }

    double elapsed() const { return m_access.now() - m_start; }

    // Reads the velocity and the current once; false on a failure or cancel.
    bool sample()
    {
        if (m_access.cancelled()) {
            m_result.cancelled = true;
            m_result.error = QStringLiteral("cancelled");
            return false;
        }
        for (auto [type, list] : {std::pair{int(ActualVelocity), &m_result.velocity},
                                  std::pair{int(ActualCurrent), &m_result.current}}) {
            qint32 value = 0;
            double at = 0;
            QString why;
            if (!m_access.read(type, &value, &at, &why)) {
                m_result.error = why;
                return false;
            }
            list->push_back({at - m_start, double(value)});
        }
        return true;
    }
    double velocity() const { return m_result.velocity.back().value; }
    // The velocity expected at the next reading, from the last two.
    double nextVelocity() const
    {
        const auto& v = m_result.velocity;
        if (v.size() < 2)
            return v.back().value;
        const Reading& a = v[v.size() - 2];
        const Reading& b = v.back();
        return b.value + (b.value - a.value);
    }

    bool setCurrent(double milliampere)
    {
        if (m_access.cancelled()) {
            m_result.cancelled = true;
            m_result.error = QStringLiteral("cancelled");
            return false;
        }
        QString why;
        double at = 0;
        if (!m_access.move(TargetCurrent, qint32(std::lround(milliampere)), &at, &why)) {
            m_result.error = why;
            if (m_access.cancelled()) {
                m_result.cancelled = true;
                m_result.error = QStringLiteral("cancelled");
            }
            return false;
        }
        m_writes.push_back(at - m_start);
        m_phaseStart = elapsed();
        return true;
    }
    double phaseSeconds() const { return elapsed() - m_phaseStart; }
    const std::vector<double>& writes() const { return m_writes; }

private:
    MotorAccess& m_access;
    Result& m_result;
    double m_start = 0;
    double m_phaseStart = 0;
    std::vector<double> m_writes;
};

bool readLimit(MotorAccess& access, int type, int given, int* limit, QString* error)
{
    if (given > 0) {
        *limit = given;
        return true;
    }
    qint32 value = 0;
    double at = 0;
    if (!access.read(type, &value, &at, error))
        return false;
    *limit = value / 2;
    if (*limit > 0)
        return true;
    *error = QStringLiteral("the module's max. %1 (%2) is %3: nothing to measure within")
                 .arg(type == MaxCurrent ? QStringLiteral("current") : QStringLiteral("velocity"))
                 .arg(type)
                 .arg(value);
    return false;
}

// Drives the motor through the band; false with result.error set on a failure.
bool drive(Run& run, Result& result)
{
    const double vlim = result.maxVelocity;
    const double ilim = result.maxCurrent;
    const double top = TopShare * vlim;
    const double fitFrom = FitShare * vlim;

    // From rest: a motor still slowing down after a stop is waited for.
    const double still = std::max(5.0, 0.02 * vlim);
    for (int calm = 0; calm < 3;) {
        if (!run.sample())
            return false;
        calm = std::abs(run.velocity()) <= still ? calm + 1 : 0;
        if (calm == 0 && run.elapsed() > RestSeconds) {
            result.error =
                QStringLiteral("the motor turns (%1 rpm): identification starts from rest")
                    .arg(run.velocity());
            return false;
        }
    }

    // The first rise: a current that grows until the motor gets going, then held, until the
    // next reading would pass the top of the band or the motor comes no further.
    double current = ilim / 8;
    if (!run.setCurrent(current))
        return false;
    double reached = 0;
    double atLimitSince = -1;
    double bestSince = run.elapsed();
    for (;;) {
        if (!run.sample())
            return false;
        if (run.velocity() > reached + 0.01 * vlim) {
            reached = run.velocity();
            bestSince = run.elapsed();
        }
        if (run.nextVelocity() >= top || run.velocity() >= top)
            break;
        if (run.velocity() < BottomShare * vlim && run.phaseSeconds() >= EscalateSeconds &&
            current < ilim) {
            current = std::min(ilim, current * 2);
            if (!run.setCurrent(current))
                return false;
            bestSince = run.elapsed();
        }
        if (current >= ilim && atLimitSince < 0)
            atLimitSince = run.elapsed();
        if (atLimitSince >= 0 && run.velocity() < fitFrom &&
            run.elapsed() - atLimitSince > BreakawaySeconds) {
            result.error = QStringLiteral("the motor did not get going at %1 mA (the current "
                                          "limit; --max-current sets it)")
                               .arg(ilim);
            return false;
        }
        // Coming no further: it has found the speed this current holds. More current, up
        // to the limit, for the widest band.
        if (run.velocity() >= BottomShare * vlim &&
            (run.elapsed() - bestSince > 0.3 || run.phaseSeconds() > RiseLimitSeconds)) {
            if (current >= ilim)
                break;
            current = std::min(ilim, current * 2);
            if (!run.setCurrent(current))
                return false;
            bestSince = run.elapsed();
        }
    }
    const double upper = std::min(top, std::max(run.velocity(), reached) * 0.95);
    const double lower = std::max(fitFrom * 1.2, upper / 3);

    // The first fall: coasting.
    if (!run.setCurrent(0))
        return false;
    while (true) {
        if (!run.sample())
            return false;
        if (run.velocity() <= lower || run.nextVelocity() <= lower ||
            run.phaseSeconds() > FirstFallLimitSeconds)
            break;
    }

    // What the first rise and fall say about the motor sets the currents of the others:
    // each rise and fall through the band takes about PhaseSeconds.
    Motor rough;
    if (!fitWindows(result.velocity, result.current, run.writes(), fitFrom, MinWindowSeconds,
                    &rough)) {
        result.error = QStringLiteral("the first rise and fall did not show the motor (%1 "
                                      "readings); is the limit too low?")
                           .arg(result.velocity.size());
        return false;
    }
    const double timeConstant = 1 / (rough.accel * std::max(rough.viscous, 1e-6));
    const double phase =
        std::clamp(PhaseTimeConstants * timeConstant, MinPhaseSeconds, MaxPhaseSeconds);
    const double window = std::clamp(phase / 4, MinWindowSeconds, MaxWindowSeconds);
    // The current beyond what holds the velocity at the far end of the band, each way; a
    // phase that comes out much shorter or longer than planned corrects it.
    double up = (upper - lower) / phase / rough.accel; // mA
    double down = up;
    const auto corrected = [&](double wanted, double took) {
        return wanted * std::clamp(took / phase, 0.5, 2.0);
    };
    for (int cycle = 1; cycle < MinCycles || run.elapsed() < MeasureSeconds; ++cycle) {
        const double rise = std::clamp(rough.friction + rough.viscous * upper + up, -ilim, ilim);
        if (!run.setCurrent(rise))
            return false;
        do {
            if (!run.sample())
                return false;
        } while (run.velocity() < upper && run.nextVelocity() < upper &&
                 run.phaseSeconds() < RiseLimitSeconds);
        up = corrected(up, run.phaseSeconds());
        const double fall = std::clamp(rough.friction + rough.viscous * lower - down, -ilim, ilim);
        if (!run.setCurrent(fall))
            return false;
        do {
            if (!run.sample())
                return false;
        } while (run.velocity() > lower && run.nextVelocity() > lower &&
                 run.phaseSeconds() < FallLimitSeconds);
        down = corrected(down, run.phaseSeconds());
    }
    if (!fitWindows(result.velocity, result.current, run.writes(), fitFrom, window,
                    &result.motor)) {
        result.error = QStringLiteral("the readings do not determine the motor");
        return false;
    }
    return true;
}

} // namespace

bool fit(const std::vector<Reading>& velocity, const std::vector<Reading>& current,
         double minVelocity, Motor* motor)
{
    return fitWindows(velocity, current, {}, minVelocity, MaxWindowSeconds, motor);
}

Result run(MotorAccess& access, const Limits& limits)
{
    Result result;
    Run run(access, result);
    if (readLimit(access, MaxRampVelocity, limits.maxVelocity, &result.maxVelocity,
                  &result.error) &&
        readLimit(access, MaxCurrent, limits.maxCurrent, &result.maxCurrent, &result.error))
        result.ok = drive(run, result);
    QString why;
    result.stopped = access.stop(&why);
    if (!result.stopped) {
        result.ok = false;
        result.error = result.error.isEmpty() ? why : result.error + QStringLiteral("; ") + why;
    }
    result.durationSeconds = run.elapsed();
    return result;
}

} // namespace MotorIdentification

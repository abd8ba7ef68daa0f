#include "config/VelocityTuning.h"

#include "config/MotorAccess.h"
#include "config/ParameterNumbers.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>

namespace VelocityTuning {

namespace {

using namespace ParameterCatalogue;
using VelocityLoopModel::Gains;
using VelocityLoopModel::Plant;

constexpr qint32 MaxGain = 60000;
// The lag assumed before it is measured, s: on the long side, for gentle first gains.
constexpr double FirstLag = 0.02;
// A held velocity counts as steady when the mean of the last SteadyWindow s moves by less
// than this share of the step from the window before; it is given at most HoldLimit s.
constexpr double SteadyWindow = 0.1;
constexpr double SteadyShare = 0.002;
constexpr double HoldLimit = 2.5;
// P alone must leave an error of at least this share of the step to be measured.
constexpr double MinErrorShare = 0.03;
// How long the integral is watched, s.
constexpr double IntegralSeconds = 0.4;
// At rest: slower than this (rpm) for three readings, within RestLimit s of the stop.
constexpr double RestVelocity = 2.0;
constexpr double RestLimit = 5.0;

struct Timed
{
    double seconds;
    double velocity;
    double current;
};

// The run on the module: its readings, and what it changed, to be put back.
class Session
{
public:
    Session(MotorAccess& access, Result& result) : m_access(access), m_result(result) {}

    bool failed(const QString& why)
    {
        if (m_result.error.isEmpty())
            m_result.error = why;
        if (m_access.cancelled()) {
            m_result.cancelled = true;
            m_result.error = QStringLiteral("cancelled");
        }
        return false;
    }

    bool read(int type, qint32* value, double* at = nullptr)
    {
        double seconds = 0;
        QString why;
        if (!m_access.read(type, value, &seconds, &why))
            return failed(why);
        if (at)
            *at = seconds;
        return true;
    }
    // A setting changed for the run; the first value it had is kept.
    bool change(int type, qint32 value)
    {
        if (!m_former.count(type)) {
            qint32 former = 0;
            if (!read(type, &former))
                return false;
            m_former[type] = former;
        }
        QString why;
        if (!m_access.write(type, value, &why))
            return failed(why);
        return true;
    }
    qint32 former(int type) const { return m_former.at(type); }
    bool setGains(qint32 p, qint32 i)
    {
        return change(PSet1Number, p) && change(ISet1Number, i) && change(PSet2Number, p) &&
               change(ISet2Number, i);
    }
    // Writes target velocity `target`; *at is the time it took effect.
    bool moveTo(double target, double* at)
    {
        if (m_access.cancelled())
            return failed(QStringLiteral("cancelled"));
        QString why;
        if (!m_access.move(TargetVelocity, qint32(std::lround(target)), at, &why))
            return failed(why);
        return true;
    }
    bool sample(Timed* reading, bool withCurrent = true)
    {
        if (m_access.cancelled())
            return failed(QStringLiteral("cancelled"));
        qint32 v = 0;
        qint32 i = 0;
        double at = 0;
        if (!read(ActualVelocity, &v, &at) || (withCurrent && !read(ActualCurrent, &i)))
            return false;
        *reading = {at, double(v), double(i)};
        return true;
    }
    bool stop()
    {
        QString why;
        if (m_access.stop(&why))
            return true;
        return failed(why);
    }
    bool waitForRest()
    {
        const double until = m_access.now() + RestLimit;
        int still = 0;
        while (still < 3) {
            Timed reading{};
            if (!sample(&reading, false))
                return false;
            still = std::abs(reading.velocity) <= RestVelocity ? still + 1 : 0;
            if (m_access.now() > until)
                return failed(
                    QStringLiteral("the motor did not come to rest within %1 s").arg(RestLimit));
        }
        return true;
    }
    // Puts back every setting changed, but those kept.
    bool restore(const std::vector<int>& kept)
    {
        bool all = true;
        for (const auto& [type, value] : m_former) {
            if (std::find(kept.begin(), kept.end(), type) != kept.end())
                continue;
            QString why;
            // Once more on a failure: putting back matters more than time.
            if (!m_access.write(type, value, &why) && !m_access.write(type, value, &why)) {
                all = false;
                const QString text = QStringLiteral("putting back parameter %1 (%2): %3")
                                         .arg(type)
                                         .arg(value)
                                         .arg(why);
                m_result.error =
                    m_result.error.isEmpty() ? text : m_result.error + QStringLiteral("; ") + text;
            }
        }
        return all;
    }
    double now() const { return m_access.now(); }
    // A motor at rest may stand in its friction with the integral holding some current:
    // the I-clipping at 0 and back empties it, so that a step starts from nothing.
    bool emptyIntegral()
    {
        return change(Clip1Number, 0) && change(Clip2Number, 0) &&
               change(Clip1Number, former(Clip1Number)) && change(Clip2Number, former(Clip2Number));
    }

    static constexpr int PSet1Number = 140;
    static constexpr int ISet1Number = 141;
    static constexpr int PSet2Number = 234;
    static constexpr int ISet2Number = 235;
    static constexpr int Clip1Number = 143;
    static constexpr int Clip2Number = 237;

private:
    MotorAccess& m_access;
    Result& m_result;
    std::map<int, qint32> m_former;
};

double mean(const std::vector<Timed>& readings, double from, double Timed::*field)
{
    double sum = 0;
    int count = 0;
    for (const Timed& r : readings)
        if (r.seconds >= from) {
            sum += r.*field;
            ++count;
        }
    return count ? sum / count : 0;
}

// Holds the velocity with P alone until steady; the worth of a unit of P. The I-clipping
// at 0 empties the integral, which would otherwise hold what it held when I was taken out.
bool measureP(Session& s, double step, qint32 p, double* worth, double* heldError)
{
    double at = 0;
    if (!s.setGains(p, 0) || !s.change(Session::Clip1Number, 0) ||
        !s.change(Session::Clip2Number, 0) || !s.moveTo(step, &at))
        return false;
    std::vector<Timed> readings;
    for (;;) {
        Timed r{};
        if (!s.sample(&r))
            return false;
        readings.push_back(r);
        const double t = r.seconds;
        if (t - at < 3 * SteadyWindow)
            continue;
        const double last = mean(readings, t - SteadyWindow, &Timed::velocity);
        std::vector<Timed> before;
        for (const Timed& x : readings)
            if (x.seconds < t - SteadyWindow)
                before.push_back(x);
        const double previous = mean(before, t - 2 * SteadyWindow, &Timed::velocity);
        if (std::abs(last - previous) < SteadyShare * step || t - at > HoldLimit)
            break;
    }
    const double from = readings.back().seconds - SteadyWindow;
    *heldError = step - mean(readings, from, &Timed::velocity);
    const double current = mean(readings, from, &Timed::current);
    if (!(*heldError > 0) || !(current > 0))
        return s.failed(QStringLiteral("P alone held %1 rpm with %2 mA: no worth of P in that")
                            .arg(step - *heldError)
                            .arg(current));
    *worth = current / *heldError / p;
    return true;
}

// The velocity as the loop sees it through a lag of tau s, at the readings' times: the
// readings joined by straight lines, filtered in steps of 0.5 ms.
std::vector<double> lagged(const std::vector<Timed>& readings, double tau)
{
    std::vector<double> seen;
    seen.reserve(readings.size());
    double m = readings.front().velocity;
    seen.push_back(m);
    constexpr double Tick = 0.0005;
    for (size_t k = 1; k < readings.size(); ++k) {
        const Timed& a = readings[k - 1];
        const Timed& b = readings[k];
        const double span = b.seconds - a.seconds;
        const int ticks = std::max(1, int(std::lround(span / Tick)));
        for (int n = 1; n <= ticks; ++n) {
            const double v = a.velocity + (b.velocity - a.velocity) * n / ticks;
            m = tau > 0 ? m + (v - m) * (1 - std::exp(-span / ticks / tau)) : v;
        }
        seen.push_back(m);
    }
    return seen;
}

// Adds I to the held velocity; the worth of a unit of I from the integral it builds, and
// the lag of the loop's velocity with which the current is explained best.
bool measureI(Session& s, double step, qint32 p, double pWorth, qint32 i, double* worth,
              double* lag)
{
    // The integral starts from 0: its clipping back as it was, then I.
    if (!s.change(Session::Clip1Number, s.former(Session::Clip1Number)) ||
        !s.change(Session::Clip2Number, s.former(Session::Clip2Number)))
        return false;
    Timed before{};
    if (!s.sample(&before))
        return false;
    const double start = s.now();
    if (!s.change(Session::ISet1Number, i) || !s.change(Session::ISet2Number, i))
        return false;
    const double written = (start + s.now()) / 2;
    std::vector<Timed> readings{before};
    while (s.now() - written < IntegralSeconds) {
        Timed r{};
        if (!s.sample(&r))
            return false;
        readings.push_back(r);
    }
    // current = P-part + I-share; the I-share = ki · ∫ e from the write on.
    double best = -1;
    for (double tau = 0; tau <= 0.03 + 1e-9; tau += 0.001) {
        const std::vector<double> m = lagged(readings, tau);
        double integral = 0;
        double sxy = 0;
        double sxx = 0;
        double syy = 0;
        for (size_t k = 1; k < readings.size(); ++k) {
            const double t0 = std::max(readings[k - 1].seconds, written);
            const double t1 = readings[k].seconds;
            if (t1 > t0)
                integral += (2 * step - m[k - 1] - m[k]) / 2 * (t1 - t0);
            if (readings[k].seconds <= written)
                continue;
            const double share = readings[k].current - pWorth * p * (step - m[k]);
            sxy += share * integral;
            sxx += integral * integral;
            syy += share * share;
        }
        if (!(sxx > 0) || !(sxy > 0))
            continue;
        const double residual = syy - sxy * sxy / sxx;
        if (best < 0 || residual < best) {
            best = residual;
            *worth = sxy / sxx / i;
            *lag = tau;
        }
    }
    if (best < 0)
        return s.failed(QStringLiteral("the integral built no current: no worth of I in that"));
    return true;
}

qint32 gainOf(double value, double worth)
{
    return qint32(std::clamp(std::lround(value / worth), 0L, long(MaxGain)));
}

bool tune(Session& s, MotorAccess& access, const Request& request, Result& result)
{
    qint32 maxCurrent = 0;
    qint32 maxVelocity = 0;
    qint32 p1 = 0;
    qint32 i1 = 0;
    if (!s.read(MaxCurrent, &maxCurrent) || !s.read(MaxRampVelocity, &maxVelocity) ||
        !s.read(Session::PSet1Number, &p1) || !s.read(Session::ISet1Number, &i1))
        return false;
    result.formerP = p1;
    result.formerI = i1;
    const double step = request.step;
    if (step > maxVelocity)
        return s.failed(QStringLiteral("a %1 rpm step is beyond the max. velocity (4) of %2 rpm")
                            .arg(step)
                            .arg(maxVelocity));

    const MotorIdentification::Result identified = MotorIdentification::run(access, request.limits);
    if (!identified.ok)
        return s.failed(QStringLiteral("identifying the motor: ") + identified.error);
    result.motor = identified.motor;
    if (!s.waitForRest() || !s.change(EnableVelocityRamp, 0))
        return false;

    // The worth of P and I, from gains the module already had (or modest ones).
    qint32 p = p1 > 0 ? p1 : 1000;
    double heldError = 0;
    if (!measureP(s, step, p, &result.pWorth, &heldError))
        return false;
    for (int tries = 0; heldError < MinErrorShare * step && tries < 2; ++tries) {
        p = std::max<qint32>(1, p / 8);
        if (!measureP(s, step, p, &result.pWorth, &heldError))
            return false;
    }
    double lag = 0;
    if (!measureI(s, step, p, result.pWorth, i1 > 0 ? i1 : 100, &result.iWorth, &lag))
        return false;

    // Gains placed on what is known so far (the lag on the long side) stop the motor and
    // take one step, which shows the lag.
    Plant plant{result.motor.accel, result.motor.friction, result.motor.viscous,
                std::max(lag * 1.5, FirstLag / 4)};
    VelocityLoopModel::Goal goal;
    goal.step = step;
    goal.currentLimit = maxCurrent;
    goal.maxKp = maxCurrent / step;
    Gains gains;
    const char* why = nullptr;
    if (!VelocityLoopModel::place(plant, goal, &gains, &result.predicted, &why))
        return s.failed(QString::fromLatin1(why));
    const qint32 trialP = gainOf(gains.kp, result.pWorth);
    const qint32 trialI = gainOf(gains.ki, result.iWorth);
    const Gains trial{trialP * result.pWorth, trialI * result.iWorth};
    if (!s.setGains(trialP, trialI) || !s.stop() || !s.waitForRest())
        return false;
    const double windowMs =
        std::clamp(3 * result.predicted.step.settlingTimeMs.value_or(300.0), 200.0, 1000.0);
    double at = 0;
    if (!s.emptyIntegral() || !s.moveTo(step, &at))
        return false;
    std::vector<StepMetrics::Sample> samples;
    while (samples.empty() || samples.back().timeMs < windowMs) {
        Timed r{};
        if (!s.sample(&r, false))
            return false;
        samples.push_back({(r.seconds - at) * 1000, r.velocity});
    }
    if (!s.stop() || !s.waitForRest())
        return false;
    plant.lagSeconds = VelocityLoopModel::fitLag(plant, trial, step, samples);
    result.lagSeconds = plant.lagSeconds;

    goal.bandwidthHz = request.bandwidthHz;
    double reachable = 0;
    if (!VelocityLoopModel::place(plant, goal, &gains, &result.predicted, &why, &reachable)) {
        if (goal.bandwidthHz && reachable > 0)
            return s.failed(QStringLiteral("%1 (at most %2 Hz on this motor)")
                                .arg(QString::fromLatin1(why))
                                .arg(reachable, 0, 'f', 1));
        return s.failed(QString::fromLatin1(why));
    }
    result.p = gainOf(gains.kp, result.pWorth);
    result.i = gainOf(gains.ki, result.iWorth);
    const Gains chosen{result.p * result.pWorth, result.i * result.iWorth};
    const int predictMs = 1500;
    result.predicted = VelocityLoopModel::predict(plant, chosen, step, maxCurrent, predictMs);
    result.formerPredicted = VelocityLoopModel::predict(
        plant, {p1 * result.pWorth, i1 * result.iWorth}, step, maxCurrent * 2.0, predictMs);
    return true;
}

// With apply: the chosen gains written and a step to verify them.
bool verify(Session& s, const Request& request, Result& result)
{
    const bool first = request.set != 2;
    const bool second = request.set != 1;
    if ((first && (!s.change(Session::PSet1Number, result.p) ||
                   !s.change(Session::ISet1Number, result.i))) ||
        (second &&
         (!s.change(Session::PSet2Number, result.p) || !s.change(Session::ISet2Number, result.i))))
        return false;
    const double step = request.step;
    const double windowMs =
        std::clamp(2 * result.predicted.step.settlingTimeMs.value_or(500.0) + 100, 300.0, 1500.0);
    double at = 0;
    if (!s.waitForRest() || !s.emptyIntegral() || !s.moveTo(step, &at))
        return false;
    std::vector<StepMetrics::Sample> samples;
    while (samples.empty() || samples.back().timeMs < windowMs) {
        Timed r{};
        if (!s.sample(&r, false))
            return false;
        samples.push_back({(r.seconds - at) * 1000, r.velocity});
    }
    result.measured = StepMetrics::measure(samples, 0, step, windowMs);
    return s.stop();
}

} // namespace

Result run(MotorAccess& access, const Request& request)
{
    Result result;
    const double start = access.now();
    Session session(access, result);
    result.ok = tune(session, access, request, result) &&
                (!request.apply || verify(session, request, result));
    const bool stopped = session.stop();
    std::vector<int> kept;
    if (result.ok && request.apply) {
        if (request.set != 2)
            kept.insert(kept.end(), {Session::PSet1Number, Session::ISet1Number});
        if (request.set != 1)
            kept.insert(kept.end(), {Session::PSet2Number, Session::ISet2Number});
    }
    result.restored = session.restore(kept);
    result.ok = result.ok && stopped && result.restored;
    result.durationSeconds = access.now() - start;
    return result;
}

} // namespace VelocityTuning

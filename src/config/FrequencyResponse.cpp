#include "config/FrequencyResponse.h"

#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "config/MotionGuard.h"
#include "config/ParameterNumbers.h"

#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace FrequencyResponse {

namespace {

using namespace ParameterCatalogue;
using Handler = SerialUSBCommandHandler;
using FrequencyEstimate::Sample;

constexpr double Pi = 3.14159265358979323846;

// The module's control cycle: a reading shows the velocity as of the last one.
constexpr double ModuleCycleMs = 1;
// No faster than a 115200-baud line carries request and reply: a line (or a simulated module)
// that answers at once leaves the times of its exchanges to the machine's scheduling.
constexpr double MinExchangeMs = 1.6;
// Before the first frequency the motor settles on the offset.
constexpr double SettleMs = 600;
// At each frequency the loop first settles into the sine for at least this long (whole
// periods, at least one), then it is measured over whole periods for at least this long
// (at least two).
constexpr double LeadInMs = 300;
constexpr double MeasureMs = 1000;
// Extra points that halve the log-frequency interval around the -3 dB crossing.
constexpr int BandwidthRefinements = 3;
// Halves of a measurement that differ by more than this were disturbed; it is measured again
// up to this many times.
constexpr double HalvesDb = 0.8;
constexpr double HalvesDeg = 8;
constexpr int DisturbedRepeats = 2;
constexpr double Unmeasured = 1e9;

QString failure(const Handler::Outcome& outcome, const QString& what)
{
    QString why = Handler::failureText(outcome.failure);
    if (outcome.failure == Handler::Failure::Refused && outcome.reply)
        why += QStringLiteral(" (status %1)").arg(outcome.reply->status());
    return QStringLiteral("%1: %2").arg(what, why);
}

bool read(Handler& handler, int type, qint32* value, QString* error, const QString& what)
{
    const Handler::Outcome outcome =
        handler.exchange(vokt::GetAxisParameter, vokt::ParameterNumber(type), 0, 0);
    if (!outcome.ok()) {
        *error = failure(outcome, what);
        return false;
    }
    *value = outcome.reply->value();
    return true;
}

double wrapped(double degrees)
{
    degrees = std::fmod(degrees, 360);
    if (degrees <= -180)
        degrees += 360;
    else if (degrees > 180)
        degrees -= 360;
    return degrees;
}

// One sweep on the line: the clock, the guard, and the last target written.
class Sweep
{
public:
    Sweep(Handler& handler, MotionGuard& guard, const Request& request)
        : m_handler(handler), m_guard(guard), m_request(request)
    {
        m_clock.start();
    }

    bool hold(QString* error)
    {
        if (!write(m_request.offset, error))
            return false;
        const double until = now() + SettleMs;
        while (now() < until)
            if (!reading(error))
                return false;
        return true;
    }

    // The point at one frequency; false with *error when it could not be measured. A
    // measurement whose two halves disagree was disturbed (the machine or the line held an
    // exchange up) and is repeated; the most consistent one counts.
    bool measure(double hz, Point* point, QString* error)
    {
        double best = Unmeasured;
        int readings = 0;
        for (int attempt = 0; attempt <= DisturbedRepeats && best > 1; ++attempt) {
            Point measured;
            double disagreement = Unmeasured;
            if (!measureOnce(hz, &measured, &disagreement, error))
                return false;
            readings = std::max(readings, measured.readings);
            if (disagreement < best) {
                best = disagreement;
                *point = measured;
            }
        }
        if (best < Unmeasured)
            return true;
        *error = QStringLiteral("at %1 Hz: too few readings or no response to estimate from "
                                "(%2 readings)")
                     .arg(hz, 0, 'g', 4)
                     .arg(readings);
        return false;
    }

    bool cancelled() const { return m_guard.cancelled(); }

private:
    // One measurement; *disagreement is how far its halves differ, 1 at the tolerance
    // (Unmeasured when the readings were too few for an estimate: the line or the machine held
    // them up). false with *error when an exchange failed.
    bool measureOnce(double hz, Point* point, double* disagreement, QString* error)
    {
        const double periodMs = 1000 / hz;
        const double lead = std::max(1.0, std::ceil(LeadInMs / periodMs)) * periodMs;
        // An even number of periods, at least two, so that each half is whole periods.
        const double periods = std::max(2.0, std::ceil(MeasureMs / periodMs));
        const double span = (periods + std::fmod(periods, 2.0)) * periodMs;
        const double omega = 2 * Pi * hz / 1000;
        const double start = now();
        m_targets.assign(1, {start, double(m_written)});
        m_readings.clear();
        const FrequencyEstimate::Window window{hz, start + lead, start + lead + span,
                                               ModuleCycleMs};
        // The value is the sine's at the moment the write is expected on the wire.
        double exchangeMs = 2;
        for (;;) {
            const double at = now() + exchangeMs / 2 - start;
            const double sent = now();
            if (!write(m_request.offset +
                           qint32(std::lround(m_request.amplitude * std::sin(omega * at))),
                       error))
                return false;
            exchangeMs = now() - sent;
            qint32 value = 0;
            double when = 0;
            if (!reading(error, &value, &when))
                return false;
            m_readings.push_back({when, double(value)});
            if (when > window.endMs)
                break;
        }
        // Back to the offset, where the next frequency starts.
        if (!write(m_request.offset, error))
            return false;
        const FrequencyEstimate::Estimate estimate =
            FrequencyEstimate::estimate(m_targets, m_readings, window);
        FrequencyEstimate::Window half = window;
        half.endMs = window.startMs + span / 2;
        const FrequencyEstimate::Estimate first =
            FrequencyEstimate::estimate(m_targets, m_readings, half);
        half.startMs = half.endMs;
        half.endMs = window.endMs;
        const FrequencyEstimate::Estimate second =
            FrequencyEstimate::estimate(m_targets, m_readings, half);
        *point = {hz, estimate.gainDb, estimate.phaseDeg, estimate.readings};
        if (!estimate.ok)
            return true;
        // Halves too sparse to compare: the whole counts, when nothing better comes.
        *disagreement = Unmeasured / 2;
        if (!first.ok || !second.ok)
            return true;
        *disagreement = std::max(std::abs(first.gainDb - second.gainDb) / HalvesDb,
                                 std::abs(wrapped(first.phaseDeg - second.phaseDeg)) / HalvesDeg);
        return true;
    }

    double now() const { return m_clock.nsecsElapsed() / 1e6; }

    // No faster than one exchange every MinExchangeMs.
    void pace()
    {
        const double wait = m_lastExchange + MinExchangeMs - now();
        if (wait > 0)
            QThread::usleep(static_cast<unsigned long>(wait * 1000));
        m_lastExchange = now();
    }
    double m_lastExchange = -1e9;

    // A target velocity, on the wire halfway between sending it and its answer.
    bool write(qint32 value, QString* error)
    {
        pace();
        const double sent = now();
        QString why;
        if (!m_guard.move(vokt::SetAxisParameter, vokt::ParameterNumber(TargetVelocity), value,
                          &why)) {
            *error = cancelled() ? QStringLiteral("cancelled")
                                 : QStringLiteral("writing the target velocity: ") + why;
            return false;
        }
        m_written = value;
        m_targets.push_back({(sent + now()) / 2, double(value)});
        return true;
    }

    bool reading(QString* error, qint32* value = nullptr, double* when = nullptr)
    {
        if (cancelled()) {
            *error = QStringLiteral("cancelled");
            return false;
        }
        pace();
        const double sent = now();
        qint32 read_ = 0;
        if (!read(m_handler, ActualVelocity, &read_, error,
                  QStringLiteral("reading the actual velocity")))
            return false;
        if (value)
            *value = read_;
        if (when)
            *when = (sent + now()) / 2;
        return true;
    }

    Handler& m_handler;
    MotionGuard& m_guard;
    Request m_request;
    QElapsedTimer m_clock;
    qint32 m_written = 0;
    std::vector<Sample> m_targets;
    std::vector<Sample> m_readings;
};

// The phase continuous from the lowest frequency on.
void unwrap(std::vector<Point>& points)
{
    std::sort(points.begin(), points.end(),
              [](const Point& a, const Point& b) { return a.frequencyHz < b.frequencyHz; });
    for (size_t i = 1; i < points.size(); ++i)
        points[i].phaseDeg =
            points[i - 1].phaseDeg + wrapped(points[i].phaseDeg - points[i - 1].phaseDeg);
}

// The first pair of neighbours whose gain falls through -3 dB.
std::optional<size_t> crossing(const std::vector<Point>& points)
{
    for (size_t i = 0; i + 1 < points.size(); ++i)
        if (points[i].gainDb >= -3 && points[i + 1].gainDb < -3)
            return i;
    return std::nullopt;
}

} // namespace

QString check(const Request& request)
{
    if (!(request.fromHz > 0) || !(request.toHz >= request.fromHz))
        return QStringLiteral("the frequencies must run upwards from above 0 Hz");
    if (request.toHz > MaxFrequencyHz)
        return QStringLiteral("%1 Hz is beyond the %2 Hz a serial line can follow")
            .arg(request.toHz)
            .arg(MaxFrequencyHz);
    if (request.points < 1 || request.points > MaxPoints)
        return QStringLiteral("the points must be 1 to %1").arg(MaxPoints);
    if (request.points > 1 && request.toHz == request.fromHz)
        return QStringLiteral("%1 points need two different frequencies").arg(request.points);
    if (request.amplitude <= 0)
        return QStringLiteral("the amplitude must be at least 1 rpm");
    return QString();
}

std::vector<double> frequencies(const Request& request)
{
    std::vector<double> result;
    const int n = std::max(1, request.points);
    for (int k = 0; k < n; ++k)
        result.push_back(n == 1 ? request.fromHz
                                : request.fromHz *
                                      std::pow(request.toHz / request.fromHz, double(k) / (n - 1)));
    return result;
}

std::optional<double> bandwidth(const std::vector<Point>& points)
{
    const std::optional<size_t> i = crossing(points);
    if (!i)
        return std::nullopt;
    const Point& a = points[*i];
    const Point& b = points[*i + 1];
    const double x = (-3 - a.gainDb) / (b.gainDb - a.gainDb);
    return std::exp(std::log(a.frequencyHz) +
                    x * (std::log(b.frequencyHz) - std::log(a.frequencyHz)));
}

double peak(const std::vector<Point>& points)
{
    double highest = points.empty() ? 0 : points.front().gainDb;
    for (const Point& point : points)
        highest = std::max(highest, point.gainDb);
    return highest;
}

Result run(Handler& handler, LinkController* link, const Request& request,
           const std::function<bool()>& cancelled, const Progress& progress)
{
    Result result;
    result.error = check(request);
    if (!result.error.isEmpty())
        return result;
    QElapsedTimer clock;
    clock.start();

    qint32 maxVelocity = 0;
    qint32 ramp = 0;
    if (!read(handler, MaxRampVelocity, &maxVelocity, &result.error,
              QStringLiteral("reading the max. velocity (4)")) ||
        !read(handler, EnableVelocityRamp, &ramp, &result.error,
              QStringLiteral("reading the velocity ramp switch (146)")))
        return result;
    const qint64 highest = std::abs(qint64(request.offset)) + request.amplitude;
    if (highest > maxVelocity) {
        result.error = QStringLiteral("offset %1 rpm and amplitude %2 rpm reach %3 rpm, beyond "
                                      "the module's max. velocity (4) of %4 rpm")
                           .arg(request.offset)
                           .arg(request.amplitude)
                           .arg(highest)
                           .arg(maxVelocity);
        return result;
    }
    if (ramp != 0) {
        const Handler::Outcome off = handler.exchange(
            vokt::SetAxisParameter, vokt::ParameterNumber(EnableVelocityRamp), 0, 0);
        if (!off.ok()) {
            result.error = failure(off, QStringLiteral("switching the velocity ramp (146) off"));
            // The write may have reached the module all the same.
            if (handler.isOpen())
                handler.exchange(vokt::SetAxisParameter, vokt::ParameterNumber(EnableVelocityRamp),
                                 0, ramp);
            return result;
        }
    }

    {
        MotionGuard guard(handler, link, cancelled);
        Sweep sweep(handler, guard, request);
        const std::vector<double> planned = frequencies(request);
        const int total = int(planned.size()) + BandwidthRefinements;
        const auto measure = [&](double hz) {
            Point point;
            if (!sweep.measure(hz, &point, &result.error))
                return false;
            result.points.push_back(point);
            unwrap(result.points);
            if (progress)
                progress(result.points, int(result.points.size()), total);
            return true;
        };
        bool measured = sweep.hold(&result.error);
        for (size_t k = 0; measured && k < planned.size(); ++k)
            measured = measure(planned[k]);
        for (int k = 0; measured && k < BandwidthRefinements; ++k) {
            const std::optional<size_t> i = crossing(result.points);
            if (!i)
                break;
            measured = measure(
                std::sqrt(result.points[*i].frequencyHz * result.points[*i + 1].frequencyHz));
        }
        result.cancelled = !measured && sweep.cancelled();
        result.ok = measured;

        result.moved = guard.moved();
        if (result.moved) {
            const MotionGuard::Stop& stop = guard.stop();
            result.stopConfirmed = stop.confirmed;
            if (!stop.confirmed) {
                const QString text = MotionGuard::describe(stop);
                result.error =
                    result.error.isEmpty() ? text : result.error + QStringLiteral("; ") + text;
                result.ok = false;
            }
        }
    }

    if (ramp != 0) {
        const Handler::Outcome back = handler.exchange(
            vokt::SetAxisParameter, vokt::ParameterNumber(EnableVelocityRamp), 0, ramp);
        if (!back.ok()) {
            const QString text =
                failure(back, QStringLiteral("switching the velocity ramp (146) back on"));
            result.error =
                result.error.isEmpty() ? text : result.error + QStringLiteral("; ") + text;
            result.ok = false;
        }
    }
    result.bandwidthHz = bandwidth(result.points);
    result.peakDb = peak(result.points);
    result.durationS = clock.nsecsElapsed() / 1e9;
    return result;
}

} // namespace FrequencyResponse

#include "config/StepResponse.h"

#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "config/MotionGuard.h"

#include <QElapsedTimer>

#include <cstdlib>

namespace StepResponse {

namespace {

using namespace ParameterCatalogue;
using Handler = SerialUSBCommandHandler;

constexpr quint8 GetAxisParameter = vokt::GetAxisParameter;

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
        handler.exchange(GetAxisParameter, vokt::ParameterNumber(type), 0, 0);
    if (!outcome.ok()) {
        *error = failure(outcome, what);
        return false;
    }
    *value = outcome.reply->value();
    return true;
}

// Stops the motor through the guard; adds to the error when the module did not confirm it.
void stop(MotionGuard& guard, Result* result)
{
    if (!guard.moved())
        return;
    const MotionGuard::Stop& stop = guard.stop();
    result->stopped = stop.confirmed;
    if (stop.confirmed)
        return;
    const QString text = MotionGuard::describe(stop);
    result->error = result->error.isEmpty() ? text : result->error + QStringLiteral("; ") + text;
    result->ok = false;
}

} // namespace

Loop loopOf(Mode mode)
{
    return mode == Mode::Velocity ? VelocityLoop : PositionLoop;
}

QString check(const Request& request)
{
    if (request.durationMs <= 0)
        return QStringLiteral("the duration must be at least 1 ms");
    if (request.target == 0)
        return request.mode == Mode::Velocity ? QStringLiteral("a step to 0 rpm is no step")
                                              : QStringLiteral("a move of 0 steps is no step");
    return QString();
}

Result run(Handler& handler, const Request& request, const Progress& progress, LinkController* link,
           const Cancelled& cancelled)
{
    Result result;
    result.error = check(request);
    if (!result.error.isEmpty())
        return result;

    MotionGuard guard(handler, link, cancelled);
    const auto cancelledBefore = [&] {
        if (!guard.cancelled())
            return false;
        result.cancelled = true;
        result.error = QStringLiteral("cancelled before the step was written");
        return true;
    };
    const bool velocity = request.mode == Mode::Velocity;
    const int actual = velocity ? ActualVelocity : ActualPosition;
    qint32 value = 0;
    if (velocity) {
        if (cancelledBefore() || !read(handler, MaxRampVelocity, &value, &result.error,
                                       QStringLiteral("reading the max. velocity (4)")))
            return result;
        if (std::abs(qint64(request.target)) > qint64(value)) {
            result.error = QStringLiteral("target velocity %1 rpm is beyond the module's max. "
                                          "velocity (4) of %2 rpm")
                               .arg(request.target)
                               .arg(value);
            return result;
        }
    }
    if (cancelledBefore() ||
        !read(handler, actual, &value, &result.error, QStringLiteral("reading the start value")))
        return result;
    result.start = value;
    result.target = velocity ? double(request.target) : result.start + request.target;

    // The step happens while its request travels: t = 0 is halfway between sending it and
    // the reply.
    QElapsedTimer clock;
    clock.start();
    const qint64 sent = clock.nsecsElapsed();
    QString why;
    const bool stepped =
        velocity ? guard.move(vokt::SetAxisParameter, vokt::ParameterNumber(TargetVelocity),
                              request.target, &why)
                 : guard.move(vokt::MoveToPosition, vokt::MoveRelative, request.target, &why);
    const double zeroMs = (sent + clock.nsecsElapsed()) / 2.0 / 1e6;
    result.moved = guard.moved();
    if (!stepped) {
        result.cancelled = !result.moved && guard.cancelled();
        result.error = result.cancelled
                           ? QStringLiteral("cancelled before the step was written")
                           : QStringLiteral("%1: %2").arg(
                                 velocity ? QStringLiteral("writing the target velocity")
                                          : QStringLiteral("starting the move"),
                                 why);
        stop(guard, &result);
        return result;
    }

    const vokt::ParameterNumber polled = vokt::ParameterNumber(actual);
    // The window is covered to its end: polling stops with the first reply at or after it.
    for (double at = 0; at < request.durationMs;) {
        const Handler::Outcome outcome = handler.exchange(GetAxisParameter, polled, 0, 0);
        at = clock.nsecsElapsed() / 1e6 - zeroMs;
        if (!outcome.ok()) {
            result.error = failure(outcome, QStringLiteral("polling the actual value"));
            stop(guard, &result);
            return result;
        }
        result.samples.push_back({at, double(outcome.reply->value())});
        if ((progress && !progress(result.samples.back())) || guard.cancelled()) {
            result.cancelled = true;
            result.error = QStringLiteral("cancelled after %1 samples").arg(result.samples.size());
            stop(guard, &result);
            return result;
        }
    }

    // A relative move counts from the last target while positioning: where it went is the
    // module's own target.
    if (!velocity && !read(handler, TargetPosition, &value, &result.error,
                           QStringLiteral("reading the target position (0)"))) {
        stop(guard, &result);
        return result;
    }
    if (!velocity)
        result.target = value;
    result.ok = true;
    stop(guard, &result);
    result.metrics =
        StepMetrics::measure(result.samples, result.start, result.target, request.durationMs);
    return result;
}

bool readGains(Handler& handler, Loop loop, std::array<qint32, 9>* values, QString* error)
{
    const auto numbers = pidNumbers(loop);
    for (size_t i = 0; i < numbers.size(); ++i)
        if (!read(handler, numbers[i], &(*values)[i], error,
                  QStringLiteral("reading parameter %1").arg(numbers[i])))
            return false;
    return true;
}

} // namespace StepResponse

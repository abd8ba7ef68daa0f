#include "cli/TuneCommands.h"

#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/StopSignals.h"
#include "config/MotorAccess.h"
#include "config/MotorIdentification.h"
#include "config/VelocityTuning.h"

namespace cli {

namespace {

constexpr qint64 MaxLimit = 100000;

// --max-velocity and --max-current: 0 when not given (half the module's own).
bool parseLimits(const Invocation& invocation, MotorIdentification::Limits* limits, QString* error)
{
    if (invocation.maxVelocity) {
        const auto number = parseNumber(*invocation.maxVelocity, 1, MaxLimit,
                                        QStringLiteral("--max-velocity"), error);
        if (!number)
            return false;
        limits->maxVelocity = int(*number);
    }
    if (invocation.maxCurrent) {
        const auto number = parseNumber(*invocation.maxCurrent, 1, MaxLimit,
                                        QStringLiteral("--max-current"), error);
        if (!number)
            return false;
        limits->maxCurrent = int(*number);
    }
    return true;
}

bool printLines(const QStringList& lines)
{
    for (const QString& line : lines)
        if (!printOut(line))
            return false;
    return true;
}

QString figure(const std::optional<double>& value)
{
    return value ? QString::number(*value, 'f', 1) : QStringLiteral("none");
}

QStringList stepLines(const QString& prefix, const StepMetrics::Metrics& m)
{
    return {prefix + QStringLiteral("rise_time_ms\t") + figure(m.riseTimeMs),
            prefix + QStringLiteral("overshoot_percent\t") +
                QString::number(m.overshootPercent, 'f', 1),
            prefix + QStringLiteral("settling_time_ms\t") + figure(m.settlingTimeMs)};
}

QStringList motorLines(const MotorIdentification::Motor& motor)
{
    return {QStringLiteral("accel_rpm_per_s_per_mA\t") + QString::number(motor.accel, 'f', 3),
            QStringLiteral("friction_mA\t") + QString::number(motor.friction, 'f', 1),
            QStringLiteral("viscous_mA_per_rpm\t") + QString::number(motor.viscous, 'f', 4)};
}

} // namespace

Action prepareIdentify(const Invocation& invocation, QString* error)
{
    if (!invocation.arguments.isEmpty()) {
        *error = QStringLiteral("identify takes no argument (identify [--max-velocity RPM] "
                                "[--max-current MA])");
        return {};
    }
    MotorIdentification::Limits limits;
    if (!parseLimits(invocation, &limits, error))
        return {};

    return [limits](Link& link) {
        // Ctrl-C ends the run early; the motor is stopped all the same.
        StopSignals::holdAll();
        SerialUSBCommandHandler::Batch batch(link.handler());
        const std::unique_ptr<MotorAccess> access = handlerAccess(
            link.handler(), &link.controller(), [] { return StopSignals::requested(); });
        const MotorIdentification::Result result = MotorIdentification::run(*access, limits);
        if (!result.ok) {
            printError(QStringLiteral("identify: ") + result.error +
                       (result.stopped ? QStringLiteral("; the module confirmed the stop (2 = 0)")
                                       : QString()));
            return int(ExitRefused);
        }
        if (!lineWasClean(batch, QStringLiteral("identify"), link.handler().moduleAddress()))
            return int(ExitRefused);
        const QStringList lines =
            motorLines(result.motor) + QStringList{QStringLiteral("duration_s\t") +
                                                   QString::number(result.durationSeconds, 'f', 2)};
        return printLines(lines) ? int(ExitOk) : int(ExitRefused);
    };
}

Action prepareTune(const Invocation& invocation, QString* error)
{
    if (invocation.arguments != QStringList{QStringLiteral("velocity")}) {
        *error = QStringLiteral("tune wants velocity (tune velocity [--bandwidth HZ] [--set 1|2] "
                                "[--apply])");
        return {};
    }
    VelocityTuning::Request request;
    if (!parseLimits(invocation, &request.limits, error))
        return {};
    if (invocation.bandwidth) {
        bool ok = false;
        const double hz = invocation.bandwidth->trimmed().toDouble(&ok);
        if (!ok || !(hz >= 0.1 && hz <= 500)) {
            *error = QStringLiteral("--bandwidth wants a number of Hz from 0.1 to 500");
            return {};
        }
        request.bandwidthHz = hz;
    }
    if (invocation.pidSet) {
        if (!invocation.apply) {
            *error = QStringLiteral("--set says where --apply writes the gains; it needs --apply");
            return {};
        }
        const auto number = parseNumber(*invocation.pidSet, 1, 2, QStringLiteral("--set"), error);
        if (!number)
            return {};
        request.set = int(*number);
    }
    request.apply = invocation.apply;

    return [request](Link& link) {
        // Ctrl-C ends the run early; the motor is stopped and the gains put back all the same.
        StopSignals::holdAll();
        SerialUSBCommandHandler::Batch batch(link.handler());
        const std::unique_ptr<MotorAccess> access = handlerAccess(
            link.handler(), &link.controller(), [] { return StopSignals::requested(); });
        const VelocityTuning::Result result = VelocityTuning::run(*access, request);
        if (!result.ok) {
            printError(QStringLiteral("tune: ") + result.error +
                       (result.restored ? QStringLiteral("; the gains and the ramp switch are as "
                                                         "they were")
                                        : QString()));
            return int(ExitRefused);
        }
        if (!lineWasClean(batch, QStringLiteral("tune"), link.handler().moduleAddress()))
            return int(ExitRefused);
        QStringList lines{QStringLiteral("P\t") + QString::number(result.p),
                          QStringLiteral("I\t") + QString::number(result.i)};
        lines += stepLines(QString(), result.predicted.step);
        lines << QStringLiteral("bandwidth_hz\t") + figure(result.predicted.bandwidthHz);
        if (result.measured)
            lines += stepLines(QStringLiteral("measured_"), *result.measured);
        return printLines(lines) ? int(ExitOk) : int(ExitRefused);
    };
}

} // namespace cli

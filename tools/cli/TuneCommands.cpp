#include "cli/TuneCommands.h"

#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/StopSignals.h"
#include "config/MotorAccess.h"
#include "config/MotorIdentification.h"

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
            printError(
                QStringLiteral("identify: ") + result.error +
                (result.stopped ? QStringLiteral("; the motor was told to stop") : QString()));
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

} // namespace cli

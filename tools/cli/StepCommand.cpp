#include "cli/StepCommand.h"

#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/StopSignals.h"
#include "config/FileTarget.h"
#include "config/InputText.h"
#include "config/StepResponse.h"

#include <limits>

namespace cli {

namespace {

constexpr int MaxDurationMs = 600000;

QString figure(const std::optional<double>& value)
{
    return value ? QString::number(*value, 'f', 1) : QStringLiteral("none");
}

// time_ms,target,actual: one row per sample.
QByteArray csvOf(const StepResponse::Result& result)
{
    QByteArray csv("time_ms,target,actual\n");
    const QByteArray target = QByteArray::number(result.target, 'f', 0);
    for (const StepMetrics::Sample& sample : result.samples)
        csv += QByteArray::number(sample.timeMs, 'f', 3) + ',' + target + ',' +
               QByteArray::number(sample.value, 'f', 0) + '\n';
    return csv;
}

} // namespace

Action prepareStep(const Invocation& invocation, QString* error)
{
    const QStringList& args = invocation.arguments;
    if (args.size() != 2 ||
        (args.at(0) != QLatin1String("velocity") && args.at(0) != QLatin1String("position"))) {
        *error = QStringLiteral("step wants velocity TARGET or position DELTA (step velocity "
                                "1000 [--duration MS] [--csv FILE])");
        return {};
    }
    StepResponse::Request request;
    request.mode = args.at(0) == QLatin1String("velocity") ? StepResponse::Mode::Velocity
                                                           : StepResponse::Mode::Position;
    const auto target = parseValue(args.at(1), error);
    if (!target)
        return {};
    request.target = *target;
    if (invocation.duration) {
        const auto number = parseNumber(*invocation.duration, 1, MaxDurationMs,
                                        QStringLiteral("--duration"), error);
        if (!number)
            return {};
        request.durationMs = static_cast<int>(*number);
    }
    const QString problem = StepResponse::check(request);
    if (!problem.isEmpty()) {
        *error = QStringLiteral("step: ") + problem;
        return {};
    }
    const std::optional<QString> csvFile = csvTarget(invocation, error);
    if (!csvFile)
        return {};
    const QString csv = *csvFile;

    return [request, csv](Link& link) {
        // Ctrl-C ends the step early; the motor is stopped all the same, and no signal ends
        // the process before its stop is answered.
        StopSignals::holdAll();
        SerialUSBCommandHandler::Batch batch(link.handler());
        const StepResponse::Result result =
            StepResponse::run(link.handler(), request, {}, &link.controller(),
                              [] { return StopSignals::requested(); });
        if (!result.ok) {
            QString text = QStringLiteral("step: ") + result.error;
            if (result.stopped)
                text += QStringLiteral("; the module confirmed the stop (2 = 0)");
            else if (!result.moved)
                text += QStringLiteral("; nothing that moves the motor was written");
            printError(text);
            return int(ExitRefused);
        }
        if (!lineWasClean(batch, QStringLiteral("step"), link.handler().moduleAddress()))
            return int(ExitRefused);
        if (!csv.isEmpty()) {
            QString why;
            if (!FileTarget::replace(csv, csvOf(result), &why)) {
                printError(QStringLiteral("--csv %1: %2").arg(csv, why));
                return int(ExitRefused);
            }
        }
        const StepMetrics::Metrics& m = result.metrics;
        const QStringList lines{
            QStringLiteral("rise_time_ms\t") + figure(m.riseTimeMs),
            QStringLiteral("overshoot_percent\t") + QString::number(m.overshootPercent, 'f', 1),
            QStringLiteral("settling_time_ms\t") + figure(m.settlingTimeMs),
            QStringLiteral("steady_state_error\t") + QString::number(m.steadyStateError, 'f', 1),
            QStringLiteral("samples\t") + QString::number(m.samples),
            QStringLiteral("sample_rate_hz\t") + QString::number(m.sampleRateHz, 'f', 1),
        };
        for (const QString& line : lines)
            if (!printOut(line))
                return int(ExitRefused);
        return int(ExitOk);
    };
}

} // namespace cli

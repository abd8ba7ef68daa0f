#include "cli/BodeCommand.h"

#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/StopSignals.h"
#include "config/FileTarget.h"
#include "config/FrequencyResponse.h"
#include "config/InputText.h"

#include <cmath>

namespace cli {

namespace {

// A frequency in Hz: a decimal number within the sweep's range.
std::optional<double> parseHz(const QString& text, const QString& what, QString* error)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value <= 0 || value > FrequencyResponse::MaxFrequencyHz) {
        *error = QStringLiteral("%1: \"%2\" is not a frequency above 0 and up to %3 Hz")
                     .arg(what, InputText::shown(text))
                     .arg(FrequencyResponse::MaxFrequencyHz);
        return std::nullopt;
    }
    return value;
}

QString number(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString row(const FrequencyResponse::Point& point, QChar separator)
{
    return number(point.frequencyHz, 3) + separator + number(point.gainDb, 2) + separator +
           number(point.phaseDeg, 1);
}

} // namespace

Action prepareBode(const Invocation& invocation, QString* error)
{
    if (invocation.arguments != QStringList{QStringLiteral("velocity")}) {
        *error = QStringLiteral("bode wants the loop: bode velocity [--from HZ] [--to HZ] "
                                "[--points N] [--amplitude RPM] [--offset RPM] [--csv FILE]");
        return {};
    }
    FrequencyResponse::Request request;
    if (invocation.from) {
        const auto hz = parseHz(*invocation.from, QStringLiteral("--from"), error);
        if (!hz)
            return {};
        request.fromHz = *hz;
    }
    if (invocation.to) {
        const auto hz = parseHz(*invocation.to, QStringLiteral("--to"), error);
        if (!hz)
            return {};
        request.toHz = *hz;
    }
    if (invocation.points) {
        const auto n = parseNumber(*invocation.points, 1, FrequencyResponse::MaxPoints,
                                   QStringLiteral("--points"), error);
        if (!n)
            return {};
        request.points = int(*n);
    }
    if (invocation.amplitude) {
        const auto rpm =
            parseNumber(*invocation.amplitude, 1, 100000, QStringLiteral("--amplitude"), error);
        if (!rpm)
            return {};
        request.amplitude = qint32(*rpm);
    }
    if (invocation.offset) {
        const auto rpm =
            parseNumber(*invocation.offset, -100000, 100000, QStringLiteral("--offset"), error);
        if (!rpm)
            return {};
        request.offset = qint32(*rpm);
    }
    const QString problem = FrequencyResponse::check(request);
    if (!problem.isEmpty()) {
        *error = QStringLiteral("bode: ") + problem;
        return {};
    }
    const std::optional<QString> csvFile = csvTarget(invocation, error);
    if (!csvFile)
        return {};
    const QString csv = *csvFile;

    return [request, csv](Link& link) {
        // Ctrl-C ends the sweep at once; the motor is stopped all the same, and no signal
        // ends the process before its stop is answered.
        StopSignals::holdAll();
        SerialUSBCommandHandler::Batch batch(link.handler());
        Progress progress(QStringLiteral("bode"), 100);
        const FrequencyResponse::Result result = FrequencyResponse::run(
            link.handler(), &link.controller(), request, [] { return StopSignals::requested(); },
            [&progress](const std::vector<FrequencyResponse::Point>&, int done, int total) {
                progress.setDone(done * 100 / std::max(1, total));
            });
        progress.clear();
        if (!result.ok) {
            QString text = QStringLiteral("bode: ") + result.error;
            if (result.moved && result.stopConfirmed)
                text += QStringLiteral("; the module confirmed the stop (2 = 0)");
            else if (!result.moved)
                text += QStringLiteral("; nothing that moves the motor was written");
            printError(text);
            return int(ExitRefused);
        }
        if (!lineWasClean(batch, QStringLiteral("bode"), link.handler().moduleAddress()))
            return int(ExitRefused);
        if (!csv.isEmpty()) {
            QByteArray table("freq_hz,gain_db,phase_deg\n");
            for (const FrequencyResponse::Point& point : result.points)
                table += row(point, QLatin1Char(',')).toLatin1() + '\n';
            QString why;
            if (!FileTarget::replace(csv, table, &why)) {
                printError(QStringLiteral("--csv %1: %2").arg(csv, why));
                return int(ExitRefused);
            }
        }
        QStringList lines;
        for (const FrequencyResponse::Point& point : result.points)
            lines << row(point, QLatin1Char('\t'));
        lines << QStringLiteral("bandwidth_hz\t") +
                     (result.bandwidthHz ? number(*result.bandwidthHz, 2) : QStringLiteral("none"));
        lines << QStringLiteral("peak_db\t") + number(result.peakDb, 2);
        for (const QString& line : std::as_const(lines))
            if (!printOut(line))
                return int(ExitRefused);
        return int(ExitOk);
    };
}

} // namespace cli

#include "cli/WatchCommand.h"

#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/StopSignals.h"
#include "comm/Protocol.h"
#include "config/CsvRecorder.h"
#include "config/InputText.h"
#include "config/ParameterCatalogue.h"

#include <QElapsedTimer>
#include <QThread>

#include <limits>

namespace cli {

Action prepareWatch(const Invocation& invocation, QString* error)
{
    if (!invocation.arguments.isEmpty()) {
        *error = QStringLiteral("watch takes no argument \"%1\" (options: --interval MS, "
                                "--count N, --csv FILE)")
                     .arg(InputText::shown(invocation.arguments.constFirst()));
        return {};
    }
    int interval = DefaultIntervalMs;
    if (invocation.interval) {
        const auto number =
            parseNumber(*invocation.interval, 0, 3600000, QStringLiteral("--interval"), error);
        if (!number)
            return {};
        interval = static_cast<int>(*number);
    }
    int count = 0;
    if (invocation.count) {
        const auto number = parseNumber(*invocation.count, 1, std::numeric_limits<int>::max(),
                                        QStringLiteral("--count"), error);
        if (!number)
            return {};
        count = static_cast<int>(*number);
    }
    const QString csv = invocation.csv.value_or(QString());
    if (invocation.csv && csv.isEmpty()) {
        *error = QStringLiteral("--csv needs a file name");
        return {};
    }
    // Not into a folder, a device (the module's own port among them) or a pipe.
    // Nor over a settings file, a script or a page, nor beside a sidecar that is one.
    const bool force = invocation.force;
    if (!csv.isEmpty() &&
        (!checkTarget(csv, FileKind::Kind::Other, force, error) ||
         !checkTarget(CsvRecorder::sidecarName(csv), FileKind::Kind::Other, force, error))) {
        *error = QStringLiteral("--csv ") + *error;
        return {};
    }

    return [interval, count, csv, force](Link& link) {
        const QList<int>& numbers = ParameterCatalogue::liveValues();
        CsvRecorder recorder(numbers);
        recorder.setModule(link.handler().portName(), link.handler().moduleAddress());
        if (!csv.isEmpty() && !recorder.open(csv, force)) {
            printError(QStringLiteral("--csv %1: %2").arg(csv, recorder.errorString()));
            return int(ExitUsage);
        }
        if (csv.isEmpty() && !printOut(recorder.header().join(QLatin1Char('\t'))))
            return int(ExitRefused);

        // A recording ends quietly, with its last row complete.
        StopSignals::catchAll(nullptr);
        QList<bool> refused(numbers.size(), false);
        int result = ExitOk;
        // Told once, as soon as it is seen: the values from then on may be other
        // parameters'.
        SerialUSBCommandHandler::Batch batch(link.handler());
        bool toldNotClean = false;
        const auto tellNotClean = [&](int cycle) {
            toldNotClean = true;
            result = ExitRefused;
            printError(QStringLiteral("watch: the line is not clean from cycle %1 on: %2 bytes "
                                      "arrived that answered no request (a late answer, a line "
                                      "echo or a second module at address %3); a value may "
                                      "belong to another parameter")
                           .arg(cycle)
                           .arg(batch.unansweredBytes())
                           .arg(link.handler().moduleAddress()));
        };
        QElapsedTimer clock;
        clock.start();
        int cycles = 0;
        for (int cycle = 0; (count == 0 || cycle < count) && !StopSignals::requested(); ++cycle) {
            const qint64 cycleStart = clock.elapsed();
            recorder.beginCycle();
            QStringList fields{QString::number(cycleStart)};
            for (int i = 0; i < numbers.size(); ++i) {
                const SerialUSBCommandHandler::Outcome outcome = link.handler().exchange(
                    vokt::GetAxisParameter, static_cast<quint8>(numbers.at(i)), 0, 0);
                const std::optional<VOKTUSBReply>& reply = outcome.reply;
                // A value only when the module answered this request with status 100 on a
                // clean line: an answer that may be another request's is left empty.
                if (outcome.ok()) {
                    recorder.setValue(numbers.at(i), reply->value());
                    fields << QString::number(reply->value());
                    continue;
                }
                fields << QString();
                if (outcome.failure == SerialUSBCommandHandler::Failure::Refused &&
                    !refused.at(i)) {
                    refused[i] = true;
                    printError(
                        QStringLiteral("the module refuses %1 (%2); its column stays "
                                       "empty")
                            .arg(ParameterCatalogue::nameOf(numbers.at(i)), statusText(*reply)));
                    result = ExitRefused;
                }
            }
            // Bytes found before this cycle's first request came after the last cycle's.
            if (!toldNotClean && batch.unansweredBytes() > 0)
                tellNotClean(qMax(1, cycle));
            // A cycle in which the link was lost is not complete: its row goes to the file
            // only when the file is there already, and it is not counted.
            const bool complete = link.handler().isOpen();
            if (csv.isEmpty()) {
                if (!printOut(fields.join(QLatin1Char('\t'))))
                    return int(ExitRefused);
            } else if (!recorder.endCycle(complete)) {
                printError(QStringLiteral("--csv %1: could not be written: %2; %3")
                               .arg(csv, recorder.errorString(),
                                    recorder.fileWritten()
                                        ? QStringLiteral("the file ends on its last complete row")
                                        : QStringLiteral("nothing written")));
                return int(ExitRefused);
            }
            if (!complete) {
                QString message =
                    QStringLiteral("the module stopped answering; %1 complete cycles recorded")
                        .arg(cycle);
                if (!csv.isEmpty() && !recorder.fileWritten())
                    message += QStringLiteral("; %1 not written").arg(csv);
                printError(message);
                return int(ExitRefused);
            }
            // The next cycle starts interval ms after this one started; Ctrl-C is looked
            // at every few milliseconds meanwhile.
            const qint64 next = cycleStart + interval;
            while (!StopSignals::requested() && (count == 0 || cycle + 1 < count)) {
                const qint64 left = next - clock.elapsed();
                if (left <= 0)
                    break;
                QThread::msleep(static_cast<unsigned long>(qMin<qint64>(left, 20)));
            }
            cycles = cycle + 1;
        }
        // The last cycle's answers, too, must be followed by a quiet line.
        if (!toldNotClean && !batch.isClean())
            tellNotClean(qMax(1, cycles));
        return result;
    };
}

} // namespace cli

#include "cli/WatchCommand.h"

#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/StopSignals.h"
#include "comm/Protocol.h"
#include "comm/TraceCommand.h"
#include "config/CsvRecorder.h"
#include "config/InputText.h"
#include "config/ParameterCatalogue.h"
#include "config/Poller.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <limits>
#include <vector>

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
        const auto& numbers = ParameterCatalogue::liveValues();
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
        // The window's poller, paced by its timer: a cycle every interval ms from the last
        // one's start, the values read from its stores once the cycle is over.
        std::vector<TraceCommand> requests;
        QList<TraceCommand*> list;
        requests.reserve(numbers.size());
        for (int number : numbers) {
            requests.emplace_back(vokt::GetAxisParameter, static_cast<quint8>(number), 0);
            list.append(&requests.back());
        }
        Poller poller(link.handler());
        poller.setRequests(list);
        poller.setDelay(interval);

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
        QEventLoop loop;
        const auto finish = [&](int code) {
            poller.stop();
            loop.exit(code);
        };
        QElapsedTimer clock;
        clock.start();
        qint64 cycleStart = 0;
        int cycles = 0;
        QObject::connect(&poller, &Poller::cycleStarted, [&] {
            cycleStart = clock.elapsed();
            recorder.beginCycle();
        });
        QObject::connect(&poller, &Poller::cycleFinished, [&] {
            const int cycle = cycles;
            QStringList fields{QString::number(cycleStart)};
            for (int i = 0; i < numbers.size(); ++i) {
                const PollSample* sample = poller.store(i).last();
                if (sample && sample->cycle != poller.cycles())
                    sample = nullptr;
                // A value only when the module answered this request with status 100 on a
                // clean line: an answer that may be another request's is left empty.
                if (sample && sample->ok()) {
                    recorder.setValue(numbers.at(i), sample->value);
                    fields << QString::number(sample->value);
                    continue;
                }
                fields << QString();
                if (sample && sample->outcome == PollSample::Outcome::Refused && !refused.at(i)) {
                    refused[i] = true;
                    printError(QStringLiteral("the module refuses %1 (status %2); its column "
                                              "stays empty")
                                   .arg(ParameterCatalogue::nameOf(numbers.at(i)))
                                   .arg(sample->status));
                    result = ExitRefused;
                }
            }
            // Bytes found before this cycle's first request came after the last cycle's.
            if (!toldNotClean && batch.unansweredBytes() > 0)
                tellNotClean(qMax(1, cycle));
            // A cycle in which the link was lost is not complete: its row goes to the file
            // only when the file is there already, and it is not counted.
            const bool complete = link.controller().state().isOpen();
            if (csv.isEmpty()) {
                if (!printOut(fields.join(QLatin1Char('\t'))))
                    return finish(ExitRefused);
            } else if (!recorder.endCycle(complete)) {
                printError(QStringLiteral("--csv %1: could not be written: %2; %3")
                               .arg(csv, recorder.errorString(),
                                    recorder.fileWritten()
                                        ? QStringLiteral("the file ends on its last complete row")
                                        : QStringLiteral("nothing written")));
                return finish(ExitRefused);
            }
            if (!complete) {
                QString message =
                    QStringLiteral("the module stopped answering; %1 complete cycles recorded")
                        .arg(cycle);
                if (!csv.isEmpty() && !recorder.fileWritten())
                    message += QStringLiteral("; %1 not written").arg(csv);
                printError(message);
                return finish(ExitRefused);
            }
            cycles = cycle + 1;
            if ((count != 0 && cycles >= count) || StopSignals::requested())
                finish(ExitOk);
        });
        // Ctrl-C is looked at every few milliseconds between cycles; a cycle in progress
        // ends first.
        QTimer stopCheck;
        QObject::connect(&stopCheck, &QTimer::timeout, [&] {
            if (StopSignals::requested() && !poller.inCycle())
                finish(ExitOk);
        });
        stopCheck.start(20);
        if (!StopSignals::requested()) {
            poller.start();
            if (loop.exec() != ExitOk)
                return int(ExitRefused);
        }
        // The last cycle's answers, too, must be followed by a quiet line.
        if (!toldNotClean && !batch.isClean())
            tellNotClean(qMax(1, cycles));
        return result;
    };
}

} // namespace cli

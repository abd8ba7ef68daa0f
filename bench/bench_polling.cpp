// Live polling through the trace controller, the real command handler and serial device,
// against a pseudo-terminal peer that answers every request.
//
//   bench_polling [seconds]
//
// The controller polls the seven live values of the window (3, 13, 1, 0, 153, 150, 156)
// with a delay of 0, first with the peer answering at once ("unpaced"), then with the peer
// waiting the wire time of request and reply as a module on a 115200-baud line would. For
// each run it prints the polling cycles per second (and, paced, their share of the line's
// limit: 7 exchanges of 18 bytes of 10 bits), the largest number of ticks that ever waited
// in the GUI event queue, and the longest time the GUI thread went without serving an
// event (a 1 ms timer that notes the gaps between its calls), beside the longest cycle.

#include "PtyPeer.h"
#include "SerialUSBCommandHandler.h"
#include "SerialUSBDevice.h"
#include "TraceCommand.h"
#include "ValueCheckerThread.h"
#include "WTraceController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

// Frame logging stays on, as in the app; the lines are composed but not printed.
void discard(QtMsgType, const QMessageLogContext&, const QString&) {}

constexpr int ExchangesPerCycle = 7;

struct Result
{
    int cycles = 0;
    double seconds = 0;
    int maxWaiting = 0;
    double longestGapMs = 0;
    double longestCycleMs = 0;
};

Result run(int baudRate, int seconds)
{
    PtyPeer peer;
    QString error;
    if (!peer.start(&error)) {
        std::fprintf(stderr, "no pseudo-terminal: %s\n", qPrintable(error));
        std::exit(1);
    }
    peer.setBaudRate(baudRate);
    peer.setRequestLogLimit(16);
    peer.setResponder([](const QByteArray& request) {
        return PtyPeer::answer(PtyPeer::replyFrame(2, 1, 100, quint8(request.at(1)), 1000));
    });

    SerialUSBDevice device(peer.portName(), QString());
    SerialUSBCommandHandler handler;
    handler.setDevice(&device);
    if (!handler.open()) {
        std::fprintf(stderr, "could not open %s\n", qPrintable(peer.portName()));
        std::exit(1);
    }

    WTraceController controller;
    for (int type : {3, 13, 1, 0, 153, 150, 156})
        controller.addTraceCommand(new TraceCommand(6, quint8(type), 0));
    controller.setDelay(0);
    controller.setLinkOpen(true);

    Result result;
    std::atomic<int> emitted{0};
    std::atomic<int> started{0};
    std::atomic<int> maxWaiting{0};
    const auto noteWaiting = [&](int waiting) {
        int seen = maxWaiting.load();
        while (waiting > seen && !maxWaiting.compare_exchange_weak(seen, waiting)) {
        }
    };
    // Ticks emitted and not yet taken up by a cycle, seen from both sides.
    QObject::connect(
        controller.pollingThread(), &ValueCheckerThread::checkRequested, controller.pollingThread(),
        [&] { noteWaiting(++emitted - started); }, Qt::DirectConnection);

    QElapsedTimer clock;
    qint64 cycleStart = 0;
    const auto requestTraceValues =
        qOverload<QList<TraceCommand*>*>(&WTraceController::requestTraceValues);
    QObject::connect(&controller, requestTraceValues, [&](QList<TraceCommand*>*) {
        noteWaiting(emitted - started);
        ++started;
        cycleStart = clock.nsecsElapsed();
    });
    QObject::connect(&controller, requestTraceValues, &handler,
                     &SerialUSBCommandHandler::requestTraceValues);
    QObject::connect(&controller, requestTraceValues, [&](QList<TraceCommand*>*) {
        result.longestCycleMs =
            std::max(result.longestCycleMs, (clock.nsecsElapsed() - cycleStart) / 1e6);
    });

    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    qint64 lastProbe = 0;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        result.longestGapMs = std::max(result.longestGapMs, (now - lastProbe) / 1e6);
        lastProbe = now;
    });

    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    clock.start();
    probe.start();
    controller.setPolling(true);
    loop.exec();
    controller.setPolling(false);
    result.seconds = clock.nsecsElapsed() / 1e9;
    result.cycles = started;
    result.maxWaiting = maxWaiting;
    probe.stop();
    controller.pollingThread()->wait();
    return result;
}

void report(const char* mode, int baudRate, int seconds)
{
    const Result r = run(baudRate, seconds);
    const double rate = r.cycles / r.seconds;
    std::printf("%-12s %6d cycles in %.2f s: %7.1f cycles/s", mode, r.cycles, r.seconds, rate);
    if (baudRate > 0) {
        const double lineLimit = baudRate / (ExchangesPerCycle * 18.0 * 10.0);
        std::printf(" (%.1f %% of the line's limit of %.1f/s)", 100.0 * rate / lineLimit,
                    lineLimit);
    }
    std::printf(", at most %d tick(s) waiting, longest GUI gap %.2f ms, longest cycle %.2f ms\n",
                r.maxWaiting, r.longestGapMs, r.longestCycleMs);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qInstallMessageHandler(discard);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    report("unpaced", 0, seconds);
    report("115200 baud", 115200, seconds);
    return 0;
}

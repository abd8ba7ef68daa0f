// Live polling through the trace controller, the real command handler and serial device,
// against a pseudo-terminal peer that answers every request.
//
//   bench_polling [seconds]
//
// The controller polls the seven live values of the window (3, 13, 1, 0, 153, 150, 156)
// with a delay of 0, first with the peer answering at once ("unpaced"), then with the peer
// waiting the wire time of request and reply as a module on a 115200-baud line would. For
// each run it prints the polling cycles per second (and, paced, their share of the line's
// limit: 7 exchanges of 18 bytes of 10 bits) and the longest time the GUI thread went
// without serving an event (a 1 ms timer that notes the gaps between its calls), beside the
// longest cycle.
//
// Then the cost of the log view, unpaced and at 115200 baud: runs with the tool's own
// message handler, whose lines go to standard output (sent to /dev/null meanwhile) and into
// the log sink, with the log view hidden (as at start), open, and open showing the frame
// lines too. The machine's other load makes single runs vary by far more than the view
// costs, so the three take turns for several rounds; each prints its best and its median
// rate, and both against those with the view hidden, and the CPU time the GUI thread spent
// on a cycle (median), which the other load does not inflate.

#include "app/LogView.h"
#include "app/MessageHandler.h"
#include "bench/BenchLink.h"
#include "comm/LinkController.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/SerialUSBDevice.h"
#include "comm/TraceCommand.h"
#include "sim/PtyPeer.h"
#include "trace/WTraceController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

// Frame logging stays on, as in the app; the lines are composed but not printed.
void discard(QtMsgType, const QMessageLogContext&, const QString&) {}

constexpr int ExchangesPerCycle = 7;
constexpr int LogRounds = 5;
constexpr int LogRunMs = 1500;

struct Result
{
    int cycles = 0;
    double seconds = 0;
    double longestGapMs = 0;
    double longestCycleMs = 0;
    // CPU time the GUI thread spent per cycle, in microseconds.
    double guiCpuUsPerCycle = 0;
};

double threadCpuUs()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

// How the log view takes part in a run.
enum class Log
{
    None,   // lines composed and dropped, no sink
    Hidden, // the tool's message handler, the view hidden
    Open,   // ... the view open
    Frames  // ... the view open, showing the frame lines
};

Result run(int baudRate, int milliseconds, Log log = Log::None)
{
    BenchLink link(baudRate);
    SerialUSBCommandHandler& handler = link.handler;

    qInstallMessageHandler(log == Log::None ? discard : messageHandler);
    std::unique_ptr<LogView> view;
    if (log != Log::None) {
        view = std::make_unique<LogView>();
        view->resize(800, 250);
        view->setShowFrames(log == Log::Frames);
        if (log != Log::Hidden)
            view->show();
    }

    WTraceController controller;
    for (int type : {3, 13, 1, 0, 153, 150, 156})
        controller.addTraceCommand(new TraceCommand(6, quint8(type), 0));
    controller.setDelay(0);

    // The window's way: polling follows the link its controller opened.
    handler.close();
    LinkController linkController(handler);
    if (!linkController.open({link.peer.portName(), QString(), 0, 1, 0})) {
        std::fprintf(stderr, "could not open %s\n", qPrintable(link.peer.portName()));
        std::exit(1);
    }
    controller.setLink(linkController);

    Result result;
    int started = 0;
    QElapsedTimer clock;
    qint64 cycleStart = 0;
    QObject::connect(&controller, &WTraceController::cycleStarted, [&] {
        ++started;
        cycleStart = clock.nsecsElapsed();
    });
    QObject::connect(&controller, &WTraceController::cycleFinished, [&] {
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
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    const double cpuAtStart = threadCpuUs();
    clock.start();
    probe.start();
    controller.setPolling(true);
    loop.exec();
    controller.setPolling(false);
    result.seconds = clock.nsecsElapsed() / 1e9;
    result.cycles = started;
    result.guiCpuUsPerCycle = (threadCpuUs() - cpuAtStart) / std::max(1, result.cycles);
    probe.stop();
    qInstallMessageHandler(discard);
    return result;
}

// A run whose log lines go to /dev/null.
Result runQuietly(int baudRate, int milliseconds, Log log)
{
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    const Result r = run(baudRate, milliseconds, log);
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(null);
    ::close(saved);
    return r;
}

void report(const char* mode, int baudRate, int seconds)
{
    const Result r = run(baudRate, seconds * 1000);
    const double rate = r.cycles / r.seconds;
    std::printf("%-12s %6d cycles in %.2f s: %7.1f cycles/s", mode, r.cycles, r.seconds, rate);
    if (baudRate > 0) {
        const double lineLimit = baudRate / (ExchangesPerCycle * 18.0 * 10.0);
        std::printf(" (%.1f %% of the line's limit of %.1f/s)", 100.0 * rate / lineLimit,
                    lineLimit);
    }
    std::printf(", longest GUI gap %.2f ms, longest cycle %.2f ms\n", r.longestGapMs,
                r.longestCycleMs);
}

void compareLog(const char* mode, int baudRate, int rounds, int milliseconds)
{
    const Log logs[] = {Log::Hidden, Log::Open, Log::Frames};
    const char* const names[] = {"log hidden", "log open", "log+frames"};
    std::vector<double> rates[3];
    std::vector<double> cpu[3];
    double longestGap[3] = {0, 0, 0};
    for (int round = 0; round < rounds; ++round) {
        for (int k = 0; k < 3; ++k) {
            // Each takes each place in the order in turn.
            const int which = (k + round) % 3;
            const Result r = runQuietly(baudRate, milliseconds, logs[which]);
            rates[which].push_back(r.cycles / r.seconds);
            cpu[which].push_back(r.guiCpuUsPerCycle);
            longestGap[which] = std::max(longestGap[which], r.longestGapMs);
        }
    }
    const auto medianOf = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    };
    double best[3];
    double median[3];
    double cpuMedian[3];
    for (int which = 0; which < 3; ++which) {
        best[which] = *std::max_element(rates[which].begin(), rates[which].end());
        median[which] = medianOf(rates[which]);
        cpuMedian[which] = medianOf(cpu[which]);
    }
    for (int which = 0; which < 3; ++which) {
        std::printf("%-12s %-11s best %7.1f cycles/s, median %7.1f", mode, names[which],
                    best[which], median[which]);
        if (which > 0)
            std::printf(" (%+.1f %% / %+.1f %% against the view hidden)",
                        100.0 * (best[which] - best[0]) / best[0],
                        100.0 * (median[which] - median[0]) / median[0]);
        std::printf(", GUI thread CPU %.1f us a cycle", cpuMedian[which]);
        if (which > 0)
            std::printf(" (%+.1f %%)", 100.0 * (cpuMedian[which] - cpuMedian[0]) / cpuMedian[0]);
        std::printf(", longest GUI gap %.2f ms\n", longestGap[which]);
    }
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
    std::printf("log view: %d rounds of %d ms each\n", LogRounds, LogRunMs);
    compareLog("unpaced", 0, LogRounds, LogRunMs);
    compareLog("115200 baud", 115200, LogRounds, LogRunMs);
    return 0;
}

// How long a scan of a bus takes, and whether its short deadline ever takes a module for
// nobody.
//
//   bench_scan [rounds] [port]
//
// Without a port it serves the bus itself, as `ziro-bldc-sim --address 3,7,12 --baud
// 115200` does; with one it scans that line (start the simulator with those options
// first). It scans addresses 1 to 255 at 115200 baud `rounds` times (default 20) and counts
// the scans that missed one of the three modules or found another; then once across
// every rate the serial panel offers. For comparison, the time the same scans would take
// with the ordinary exchange's deadline.

#include "comm/ModuleScanner.h"
#include "comm/SerialUSBCommandHandler.h"
#include "sim/ServedModule.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

void discard(QtMsgType, const QMessageLogContext&, const QString&) {}

struct Scan
{
    double seconds = 0;
    QList<ModuleScanner::Found> found;
};

Scan scan(const QString& port, const QList<int>& rates)
{
    ModuleScanner scanner({port, rates, 1, 255});
    scanner.setDebug(false);
    QElapsedTimer timer;
    timer.start();
    while (scanner.step()) {
    }
    return {timer.nsecsElapsed() / 1e9, scanner.found()};
}

bool foundTheBus(const Scan& scan)
{
    QList<int> addresses;
    for (const ModuleScanner::Found& found : scan.found) {
        if (found.conflict)
            return false;
        addresses << found.address;
    }
    return addresses == QList<int>{3, 7, 12};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(discard);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    QString port = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    std::unique_ptr<ServedModule> served;
    if (port.isEmpty()) {
        served = std::make_unique<ServedModule>(QList<int>{3, 7, 12});
        served->setBaudRate(115200);
        QString error;
        if (!served->start(&error)) {
            std::fprintf(stderr, "no pseudo-terminal: %s\n", qPrintable(error));
            return 1;
        }
        port = served->portName();
    }

    std::printf("scan of addresses 1 to 255 on %s (modules 3, 7, 12 at 115200 baud)\n",
                qPrintable(port));
    std::vector<double> seconds;
    int missed = 0;
    for (int round = 0; round < rounds; ++round) {
        const Scan one = scan(port, {115200});
        seconds.push_back(one.seconds);
        if (!foundTheBus(one))
            ++missed;
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("  at 115200 baud, %d scans: %.2f s median, %.2f s slowest; %d of %d missed a "
                "module or found another\n",
                rounds, seconds[seconds.size() / 2], seconds.back(), missed, rounds);
    std::printf("  with the ordinary deadline (%d ms) it would take at least %.0f s\n",
                SerialUSBCommandHandler::ReplyTimeoutMs,
                252 * SerialUSBCommandHandler::ReplyTimeoutMs / 1000.0);

    const QList<int> rates = ModuleScanner::allBaudRates();
    const Scan all = scan(port, rates);
    std::printf("  at all %d rates: %.2f s, %s\n", int(rates.size()), all.seconds,
                foundTheBus(all) ? "found 3, 7 and 12 at 115200 only" : "found a wrong set");
    std::printf("  with the ordinary deadline it would take at least %.0f s\n",
                (255 * rates.size() - 3) * SerialUSBCommandHandler::ReplyTimeoutMs / 1000.0);
    return missed == 0 && foundTheBus(all) ? 0 : 1;
}

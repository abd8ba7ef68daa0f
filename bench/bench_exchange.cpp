// Exchanges per second through the real command handler and serial device, against a
// pseudo-terminal peer that answers every get-axis-parameter request.
//
//   bench_exchange [count]
//
// Mode "unpaced": the peer answers at once. Mode "115200 baud": the peer waits the wire
// time of request and reply (18 bytes of 10 bits) before it answers, as a module on a
// 115200-baud line would; the rate is also given as a share of that line's limit.
//
// Then the simulated module's side: how long its answer to one request takes after it
// idled for an hour or a thousand hours with its motor in a given state (the model first
// catches up on the time).
//
// Last the step response's sampling: the samples a second of a 1000 rpm velocity step of
// two seconds, one value per exchange, on a 115200-baud and a 9600-baud line.

#include "bench/BenchLink.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/SerialUSBDevice.h"
#include "comm/VOKTRequest.h"
#include "config/StepResponse.h"
#include "sim/PtyPeer.h"
#include "sim/SimulatedModule.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

// Frame logging stays on, as in the app; the lines are composed but not printed.
void discard(QtMsgType, const QMessageLogContext&, const QString&) {}

struct Result
{
    int answered = 0;
    double seconds = 0;
    std::vector<double> millis;
};

Result run(int baudRate, int count)
{
    BenchLink link(baudRate);
    SerialUSBCommandHandler& handler = link.handler;
    Result result;
    QObject::connect(&handler, &SerialUSBCommandHandler::requestedValue,
                     [&result](char, char, int) { ++result.answered; });

    result.millis.reserve(static_cast<size_t>(count));
    QElapsedTimer total;
    total.start();
    for (int i = 0; i < count; ++i) {
        QElapsedTimer one;
        one.start();
        handler.getAxisParameter(0, 4);
        result.millis.push_back(one.nsecsElapsed() / 1e6);
    }
    result.seconds = total.nsecsElapsed() / 1e9;
    return result;
}

void report(const char* mode, int baudRate, int count)
{
    Result r = run(baudRate, count);
    std::sort(r.millis.begin(), r.millis.end());
    const double median = r.millis[r.millis.size() / 2];
    const double p99 = r.millis[std::min(r.millis.size() - 1, r.millis.size() * 99 / 100)];
    const double rate = r.answered / r.seconds;
    std::printf("%-12s %6d exchanges (%d answered) in %.3f s: %8.1f exchanges/s, "
                "median %.3f ms, p99 %.3f ms",
                mode, count, r.answered, r.seconds, rate, median, p99);
    if (baudRate > 0) {
        const double wireLimit = baudRate / (18.0 * 10.0);
        std::printf(", %.1f %% of the wire limit (%.1f/s)", 100.0 * rate / wireLimit, wireLimit);
    }
    std::printf("\n");
}

// Milliseconds for one request to a module that idled so long in the state the commands
// put its motor in.
double catchUpMillis(const std::vector<VOKTRequest>& commands, std::chrono::hours idle)
{
    std::chrono::nanoseconds now{0};
    SimulatedModule module(1, [&now] { return now; });
    for (const VOKTRequest& command : commands)
        module.handle(command);
    now += std::chrono::seconds(5);
    module.handle(VOKTRequest(1, 6, 1, 0, 0));
    now += idle;
    QElapsedTimer timer;
    timer.start();
    module.handle(VOKTRequest(1, 6, 1, 0, 0));
    return timer.nsecsElapsed() / 1e6;
}

void reportCatchUp()
{
    const struct
    {
        const char* state;
        std::vector<VOKTRequest> commands;
    } states[] = {
        {"torque mode held at the max. current (I2t exceeded)", {VOKTRequest(1, 5, 155, 0, 3000)}},
        {"velocity ramp at 1 rpm/s",
         {VOKTRequest(1, 5, 11, 0, 1), VOKTRequest(1, 5, 4, 0, 100000),
          VOKTRequest(1, 5, 2, 0, 100000)}},
        {"positioning at 1 rpm",
         {VOKTRequest(1, 5, 11, 0, 1), VOKTRequest(1, 5, 4, 0, 1),
          VOKTRequest(1, 4, 0, 0, 2000000000)}},
        {"running at 2000 rpm", {VOKTRequest(1, 5, 2, 0, 2000)}},
    };
    for (const auto& s : states)
        std::printf("simulated module, %-52s one request after 1 h idle %.3f ms, after 1000 h "
                    "%.3f ms\n",
                    s.state, catchUpMillis(s.commands, std::chrono::hours(1)),
                    catchUpMillis(s.commands, std::chrono::hours(1000)));
}

void reportStep(int baudRate)
{
    BenchLink link(baudRate);
    StepResponse::Request request;
    request.target = 1000; // the peer answers 1000 for the max. velocity, too
    const StepResponse::Result result = StepResponse::run(link.handler, request);
    const double wireLimit = baudRate / (18.0 * 10.0);
    std::printf("step response at %6d baud: %d samples in 2 s, %.1f samples/s, %.1f %% of the "
                "wire limit (%.1f/s)%s\n",
                baudRate, result.metrics.samples, result.metrics.sampleRateHz,
                100.0 * result.metrics.sampleRateHz / wireLimit, wireLimit,
                result.ok ? "" : qPrintable(QStringLiteral("; failed: ") + result.error));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(discard);
    const int count = argc > 1 ? std::max(10, std::atoi(argv[1])) : 5000;
    report("unpaced", 0, count);
    report("115200 baud", 115200, count);
    reportCatchUp();
    reportStep(115200);
    reportStep(9600);
    return 0;
}

// How long commissioning takes, a module and a line of eight, against the time the wire
// itself needs for the exchanges made.
//
//   bench_commission [rounds]
//
// Serves a bus of eight simulated modules (addresses 1 to 8) at 115200 baud, as
// `ziro-bldc-sim --address 1,2,3,4,5,6,7,8 --baud 115200` does, and commissions the whole
// line `rounds` times (default 5) in each of three ways: modules that already match the
// golden file, modules with three differences each, and those with --store. Each round
// brings the modules to one of two golden files that differ in three values, taking turns,
// so that every round of the latter two finds three differences. It prints the median time
// per module and per line, the exchanges per module, and the wire's time for them: each
// exchange a request and a reply of 9 bytes, 10 bits a byte, and against the pace plain
// reads of one parameter reach on the same line first (a busy machine is slower than the
// wire).

#include "comm/LinkController.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "config/Commissioning.h"
#include "config/ParameterCatalogue.h"
#include "sim/ServedModule.h"
#include "sim/SimulatedModule.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

namespace {

constexpr int BaudRate = 115200;
constexpr int Modules = 8;

void discard(QtMsgType, const QMessageLogContext&, const QString&) {}

double wireMs(double exchanges)
{
    return exchanges * 2 * 9 * 10 * 1000.0 / BaudRate;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

CommissioningRecord::Golden golden(bool changed)
{
    SimulatedModule module;
    CommissioningRecord::Golden file{QStringLiteral("golden.ini"), {}};
    for (const ParameterCatalogue::ConfigurationParameter& p :
         ParameterCatalogue::configuration()) {
        qint32 value = module.axisParameter(p.number);
        if (changed && (p.number == ParameterCatalogue::MaxCurrent ||
                        p.number == ParameterCatalogue::Acceleration || p.number == 140))
            value += 100;
        file.values.append(SettingsComparison::Value::of(value));
    }
    return file;
}

struct Figures
{
    double moduleMs = 0;
    double lineMs = 0;
    double exchanges = 0;
    int ok = 0;
};

Figures measure(SerialUSBCommandHandler& handler, std::atomic<int>& frames, int rounds,
                bool differences, bool store, bool* turn)
{
    std::vector<double> perModule;
    std::vector<double> perLine;
    std::vector<double> exchanges;
    int ok = Modules;
    for (int round = 0; round < rounds; ++round) {
        if (differences)
            *turn = !*turn;
        Commissioning::Line::Plan plan;
        for (int address = 1; address <= Modules; ++address)
            plan.addresses << address;
        plan.settings.golden = golden(*turn);
        plan.settings.store = store;
        plan.keepGoing = true;
        Commissioning::Line line(handler, plan);
        const int before = frames.load();
        line.run({});
        exchanges.push_back(double(frames.load() - before) / Modules);
        perLine.push_back(double(line.elapsedMs()));
        for (const Commissioning::Result& result : line.results())
            perModule.push_back(double(result.ms));
        ok = std::min(ok, line.okCount());
    }
    return {median(perModule), median(perLine), median(exchanges), ok};
}

// The mean time of a plain exchange (a read of one parameter) on this line now: what the
// machine allows beside the wire.
double plainExchangeMs(SerialUSBCommandHandler& handler)
{
    constexpr int Count = 200;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < Count; ++i)
        handler.exchange(vokt::GetAxisParameter, ParameterCatalogue::MaxCurrent, 0, 0);
    return timer.nsecsElapsed() / 1e6 / Count;
}

void print(const char* what, const Figures& f, double plainMs)
{
    const double wire = wireMs(f.exchanges);
    std::printf("  %-22s per module %6.1f ms for %5.1f exchanges, the wire's limit %6.1f ms "
                "(%.2f times; at the plain exchanges' pace %.2f times)\n"
                "  %-22s the line     %6.2f s, the wire's limit %5.2f s; %d of %d ok\n",
                what, f.moduleMs, f.exchanges, wire, f.moduleMs / wire,
                f.moduleMs / (f.exchanges * plainMs), "", f.lineMs / 1000.0,
                wire * Modules / 1000.0, f.ok, Modules);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(discard);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    QList<int> addresses;
    for (int address = 1; address <= Modules; ++address)
        addresses << address;
    ServedModule served(addresses);
    served.setBaudRate(BaudRate);
    std::atomic<int> frames{0};
    served.setRequestObserver([&frames](const QByteArray&) { ++frames; });
    QString error;
    if (!served.start(&error)) {
        std::fprintf(stderr, "no pseudo-terminal: %s\n", qPrintable(error));
        return 1;
    }
    SerialUSBCommandHandler handler;
    handler.setDebug(false);
    LinkController link(handler);
    if (!link.open({served.portName(), QString(), BaudRate, 1})) {
        std::fprintf(stderr, "could not open %s\n", qPrintable(served.portName()));
        return 1;
    }

    std::printf("commissioning %d simulated modules on one line at %d baud, medians of %d "
                "rounds\n",
                Modules, BaudRate, rounds);
    const double plainMs = plainExchangeMs(handler);
    std::printf("  a plain exchange takes %.2f ms on this line now, the wire's limit %.2f ms\n",
                plainMs, wireMs(1));
    bool turn = false;
    // The modules start at their defaults: the first golden file matches them.
    const Figures matching = measure(handler, frames, rounds, false, false, &turn);
    print("already matching", matching, plainMs);
    const Figures differing = measure(handler, frames, rounds, true, false, &turn);
    print("3 differences", differing, plainMs);
    const Figures stored = measure(handler, frames, rounds, true, true, &turn);
    print("3 differences, store", stored, plainMs);
    std::printf("  goal: each module within 1.5 times the wire's limit, eight with store in at "
                "most 5 s\n");
    return matching.ok == Modules && differing.ok == Modules && stored.ok == Modules ? 0 : 1;
}

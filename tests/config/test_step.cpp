#include "comm/SerialUSBCommandHandler.h"
#include "comm/SerialUSBDevice.h"
#include "comm/VOKTUSBReply.h"
#include "config/ParameterNumbers.h"
#include "config/StepMetrics.h"
#include "config/StepResponse.h"
#include "sim/ServedModule.h"
#include "sim/SimulatedModule.h"
#include "support/FaultyModule.h"
#include "support/LogCapture.h"

#include <QtTest>

#include <cmath>
#include <functional>

using namespace ParameterCatalogue;
using StepMetrics::Sample;

namespace {

// A curve sampled every millisecond over the window.
std::vector<Sample> sampled(const std::function<double(double)>& curve, int windowMs)
{
    std::vector<Sample> samples;
    for (int ms = 0; ms <= windowMs; ++ms)
        samples.push_back({double(ms), curve(ms)});
    return samples;
}

// A simulated module served on a pseudo-terminal at 115200 baud, and the handler on it.
struct ServedBench
{
    ServedBench()
    {
        served.peer().setBaudRate(115200);
        handler.setDevice(&device);
        opened = started && handler.open();
    }
    qint32 held(int type)
    {
        qint32 value = 0;
        served.withModule([&](SimulatedModule& module) { value = module.axisParameter(type); });
        return value;
    }
    void set(int type, qint32 value)
    {
        QVERIFY(handler.exchange(5, vokt::ParameterNumber(type), 0, value).ok());
    }
    // How many requests wrote the target velocity or started a move.
    int motionRequests()
    {
        int count = 0;
        for (const QByteArray& request : served.peer().requests())
            if ((request.at(1) == 5 && request.at(2) == TargetVelocity) || request.at(1) == 4)
                ++count;
        return count;
    }

    LogCapture log;
    ServedModule served;
    bool started = served.start();
    SerialUSBDevice device{served.portName(), QStringLiteral("Simulated")};
    SerialUSBCommandHandler handler;
    bool opened = false;
};

} // namespace

class TestStep : public QObject
{
    Q_OBJECT

private slots:
    void metricsOfKnownCurves_data();
    void metricsOfKnownCurves();
    void sampleRateAndEmptyRuns();
    void velocityStepsShowTheGains();
    void positionStep();
    void refusedBeforeTheMotorMoves();
    void everyWayOutStopsTheMotor_data();
    void everyWayOutStopsTheMotor();
    void readsTheGainsInForce();
};

void TestStep::metricsOfKnownCurves_data()
{
    QTest::addColumn<std::vector<Sample>>("samples");
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("target");
    QTest::addColumn<double>("rise"); // < 0: none
    QTest::addColumn<double>("overshoot");
    QTest::addColumn<double>("settling"); // < 0: none
    QTest::addColumn<double>("error");

    // First order, τ = 100 ms: 10 % → 90 % in τ ln 9, within 2 % after τ ln 50.
    const double tau = 100;
    QTest::newRow("first order")
        << sampled([&](double t) { return 1000 * (1 - std::exp(-t / tau)); }, 1000) << 0.0 << 1000.0
        << tau * std::log(9.0) << 0.0 << tau * std::log(50.0) << 0.0;

    // Second order, ζ = 0.5, ωn = 20/s, downwards from 100 to −900: overshoot
    // exp(−πζ/√(1−ζ²)) = 16.3 %; the envelope exp(−ζωn t)/√(1−ζ²) falls below 2 % after
    // about 0.41 s.
    const double zeta = 0.5;
    const double wn = 20;
    const double wd = wn * std::sqrt(1 - zeta * zeta);
    const auto second = [&](double t) {
        const double s = t / 1000.0;
        const double unit =
            1 - std::exp(-zeta * wn * s) *
                    (std::cos(wd * s) + zeta / std::sqrt(1 - zeta * zeta) * std::sin(wd * s));
        return 100 - 1000 * unit;
    };
    QTest::newRow("second order, downwards")
        << sampled(second, 2000) << 100.0 << -900.0 << -2.0
        << 100 * std::exp(-M_PI * zeta / std::sqrt(1 - zeta * zeta)) << -3.0 << 0.0;

    // Ringing on for ever: rises, never settles.
    QTest::newRow("never settles")
        << sampled(
               [](double t) { return t < 50 ? t * 20 : 1000 + 100 * std::sin(M_PI * t / 25 + 1); },
               1000)
        << 0.0 << 1000.0 << 40.0 << 10.0 << -1.0 << 0.0;

    // Halfway and no further: no rise, no settling, half the step short.
    QTest::newRow("stalls halfway")
        << sampled([](double t) { return std::min(500.0, t * 10); }, 1000) << 0.0 << 1000.0 << -1.0
        << 0.0 << -1.0 << -500.0;

    // Exactly on the edge of the ±2 % band from the start (1020 for a step of 1000): inside
    // it, settled at once.
    QTest::newRow("on the band's edge") << sampled([](double) { return 1020.0; }, 1000) << 0.0
                                        << 1000.0 << 0.0 << 2.0 << 0.0 << 20.0;

    // Noise of ±0.2 % on the first order curve, the same on every run.
    quint32 seed = 12345;
    const auto noise = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) / double(1 << 24) * 2 - 1;
    };
    QTest::newRow("noise")
        << sampled([&](double t) { return 1000 * (1 - std::exp(-t / tau)) + 2 * noise(); }, 1000)
        << 0.0 << 1000.0 << tau * std::log(9.0) << 0.2 << tau * std::log(50.0) << 0.0;
}

void TestStep::metricsOfKnownCurves()
{
    QFETCH(std::vector<Sample>, samples);
    QFETCH(double, start);
    QFETCH(double, target);
    QFETCH(double, rise);
    QFETCH(double, overshoot);
    QFETCH(double, settling);
    QFETCH(double, error);
    const StepMetrics::Metrics m =
        StepMetrics::measure(samples, start, target, samples.back().timeMs);
    // -1: none; -2: some; -3: some, late in the window's first half.
    if (rise == -1)
        QVERIFY(!m.riseTimeMs);
    else
        QVERIFY(m.riseTimeMs && (rise == -2 || std::abs(*m.riseTimeMs - rise) <= 6));
    QVERIFY2(std::abs(m.overshootPercent - overshoot) <= 0.6,
             qPrintable(QString::number(m.overshootPercent)));
    if (settling == -1)
        QVERIFY(!m.settlingTimeMs);
    else if (settling == -3)
        QVERIFY2(m.settlingTimeMs && *m.settlingTimeMs > 250 && *m.settlingTimeMs < 450,
                 qPrintable(QString::number(*m.settlingTimeMs)));
    else
        QVERIFY2(m.settlingTimeMs && std::abs(*m.settlingTimeMs - settling) <= 12,
                 qPrintable(QString::number(m.settlingTimeMs.value_or(-1))));
    QVERIFY2(std::abs(m.steadyStateError - error) <= 1.0,
             qPrintable(QString::number(m.steadyStateError)));
    QCOMPARE(m.samples, int(samples.size()));
}

void TestStep::sampleRateAndEmptyRuns()
{
    // 201 samples 2 ms apart: 500 a second.
    std::vector<Sample> samples;
    for (int i = 0; i <= 200; ++i)
        samples.push_back({i * 2.0, 1000});
    StepMetrics::Metrics m = StepMetrics::measure(samples, 0, 1000, 400);
    QCOMPARE(m.sampleRateHz, 500.0);
    QCOMPARE(m.settlingTimeMs.value_or(-1), 0.0);

    m = StepMetrics::measure({}, 0, 1000, 400);
    QCOMPARE(m.samples, 0);
    QVERIFY(!m.riseTimeMs && !m.settlingTimeMs);
    QCOMPARE(m.sampleRateHz, 0.0);
}

void TestStep::velocityStepsShowTheGains()
{
    // On the simulated module, through the handler: the rise is shorter with more P;
    // without gains the motor stays where it is. Every run ends with target velocity 0.
    ServedBench bench;
    QVERIFY(bench.opened);
    bench.set(EnableVelocityRamp, 0);
    StepResponse::Request request;
    request.target = 1000;
    request.durationMs = 400;
    double rises[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        for (int p : {140, 234})
            bench.set(p, i == 0 ? 500 : 8000);
        const StepResponse::Result result = StepResponse::run(bench.handler, request);
        QVERIFY2(result.ok, qPrintable(result.error));
        QVERIFY(result.metrics.riseTimeMs);
        rises[i] = *result.metrics.riseTimeMs;
        QVERIFY(result.metrics.samples > 50);
        QVERIFY(result.samples.front().timeMs >= 0 && result.samples.back().timeMs >= 400);
        QCOMPARE(bench.held(TargetVelocity), 0);
        // At rest again (within 1 % of the step) before the next run: with weak gains the
        // last few rpm fade slowly, the more so on a loaded machine.
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(bench.held(ActualVelocity)) <= 10, 30000);
    }
    QVERIFY2(rises[1] < rises[0] / 2,
             qPrintable(QStringLiteral("%1 / %2").arg(rises[0]).arg(rises[1])));

    for (int gain : {140, 141, 234, 235})
        bench.set(gain, 0);
    const StepResponse::Result still = StepResponse::run(bench.handler, request);
    QVERIFY(still.ok);
    QVERIFY(!still.metrics.riseTimeMs && !still.metrics.settlingTimeMs);
    // Without gains the motor stays where it is (a little coasting left aside).
    QVERIFY2(std::abs(still.metrics.steadyStateError + 1000) < 5,
             qPrintable(QString::number(still.metrics.steadyStateError)));
}

void TestStep::positionStep()
{
    ServedBench bench;
    QVERIFY(bench.opened);
    StepResponse::Request request;
    request.mode = StepResponse::Mode::Position;
    request.target = 20000;
    request.durationMs = 1500;
    const StepResponse::Result result = StepResponse::run(bench.handler, request);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.start, 0.0);
    QCOMPARE(result.target, 20000.0);
    QVERIFY(result.metrics.riseTimeMs && result.metrics.settlingTimeMs);
    QVERIFY(std::abs(result.metrics.steadyStateError) <= 5);
    QCOMPARE(bench.motionRequests(), 2); // the move, and 2 = 0 after it
}

void TestStep::refusedBeforeTheMotorMoves()
{
    ServedBench bench;
    QVERIFY(bench.opened);
    StepResponse::Request request;
    request.target = -2001; // beyond the max. velocity of 2000 rpm
    StepResponse::Result result = StepResponse::run(bench.handler, request);
    QVERIFY(!result.ok);
    QCOMPARE(result.error, QStringLiteral("target velocity -2001 rpm is beyond the module's max. "
                                          "velocity (4) of 2000 rpm"));
    QCOMPARE(bench.motionRequests(), 0);
    QVERIFY(!result.stopped);

    request.target = 0;
    result = StepResponse::run(bench.handler, request);
    QVERIFY(!result.ok && !result.error.isEmpty());
    QCOMPARE(bench.served.peer().requestCount(), 1);
}

void TestStep::everyWayOutStopsTheMotor_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("nth");
    // The run is cancelled once this many requests went out (0: never), or, with a negative
    // number, once a sample past 100 ms is in.
    QTest::addColumn<int>("cancelAt");
    // The target velocities written, in order.
    QTest::addColumn<QList<qint32>>("targets");
    QTest::addColumn<bool>("stopped");
    QTest::addColumn<QString>("error");

    using F = FaultyModule::Fault;
    QTest::newRow("cancelled while sampling")
        << int(F::None) << 0 << -1 << QList<qint32>{1500, 0} << true << "cancelled after";
    // The time-out closes the link; the stop opens the port again for itself.
    QTest::newRow("a reply lost") << int(F::DropOne) << 20 << 0 << QList<qint32>{1500, 0} << true
                                  << "polling the actual value: no reply";
    // The stop is written and tried again, but never confirmed: said so.
    QTest::newRow("garbage for replies")
        << int(F::GarbageFrom) << 20 << 0 << QList<qint32>{1500, 0, 0, 0} << false
        << "failed after 3 tries";
    QTest::newRow("cancelled before the step")
        << int(F::None) << 0 << 1 << QList<qint32>{} << false << "cancelled before the step";
    QTest::newRow("two modules at the address")
        << int(F::Twice) << 0 << 0 << QList<qint32>{} << false << "the line is not clean";
}

void TestStep::everyWayOutStopsTheMotor()
{
    QFETCH(int, fault);
    QFETCH(int, nth);
    QFETCH(int, cancelAt);
    QFETCH(QList<qint32>, targets);
    QFETCH(bool, stopped);
    QFETCH(QString, error);

    LogCapture log;
    FaultyModule module(FaultyModule::Fault(fault), nth);
    QVERIFY(module.opened);
    StepResponse::Request request;
    request.target = 1500;
    request.durationMs = 600;
    const StepResponse::Result result = StepResponse::run(
        module.handler, request, [&](const Sample& s) { return cancelAt >= 0 || s.timeMs < 100; },
        &module.link, [&] { return cancelAt > 0 && module.requestCount() >= cancelAt; });
    QVERIFY(!result.ok);
    QVERIFY2(result.error.contains(error), qPrintable(result.error));
    QCOMPARE(result.stopped, stopped);
    QCOMPARE(result.moved, !targets.isEmpty());
    QCOMPARE(module.targetVelocities(), targets);
    if (!stopped && result.moved)
        QVERIFY2(result.error.contains(QStringLiteral("the motor may still move")),
                 qPrintable(result.error));
    // The link a time-out closed stays closed, for the reason it closed.
    if (fault == int(FaultyModule::Fault::DropOne))
        QVERIFY(!module.link.isOpen() && !module.link.closeReason().isEmpty());
}

void TestStep::readsTheGainsInForce()
{
    ServedBench bench;
    QVERIFY(bench.opened);
    bench.set(142, 77);
    std::array<qint32, 9> values{};
    QString error;
    QVERIFY(StepResponse::readGains(bench.handler, VelocityLoop, &values, &error));
    QCOMPARE(values[PSet1], 2000);
    QCOMPARE(values[DSet1], 77);
    QCOMPARE(values[ThresholdSpeed], 1000);
}

QTEST_GUILESS_MAIN(TestStep)
#include "test_step.moc"

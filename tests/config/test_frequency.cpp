#include "comm/SerialUSBCommandHandler.h"
#include "comm/SerialUSBDevice.h"
#include "config/FrequencyEstimate.h"
#include "config/FrequencyResponse.h"
#include "config/ParameterNumbers.h"
#include "sim/ServedModule.h"
#include "sim/SimulatedModule.h"
#include "support/LogCapture.h"

#include <QtTest>

#include <algorithm>

#include <cmath>
#include <complex>
#include <cstdint>

using FrequencyEstimate::Sample;

namespace {

constexpr double Pi = 3.14159265358979323846;

// A module in miniature: a control cycle of 1 ms, whose grid is offset from the host's clock,
// takes the target last written before the cycle's end; v[k] = (1 - a) v[k-1] + a T[k - d].
// The host alternates a write of the sine and a read, each exchange 1.5 to 2.5 ms (a fixed
// pseudo-random sequence); a read shows v of the last cycle that ended.
struct Bench
{
    double alpha;
    int delayCycles;
    double gridOffsetMs = 0.37;

    std::vector<Sample> targets;
    std::vector<Sample> readings;

    std::complex<double> truth(double hz) const
    {
        const std::complex<double> z = std::polar(1.0, 2 * Pi * hz / 1000);
        return alpha * std::pow(z, -delayCycles) / (1.0 - (1 - alpha) / z);
    }

    void run(double hz, double offset, double amplitude, double durationMs)
    {
        std::uint32_t seed = 12345;
        std::vector<double> held; // T[k], the target of each cycle
        std::vector<double> v;
        double t = 0;
        bool write = true;
        const auto cycleEnd = [&](size_t k) { return gridOffsetMs + double(k); };
        const auto runUpTo = [&](double now) {
            while (cycleEnd(v.size()) <= now) {
                const size_t k = v.size();
                held.push_back(targets.empty() ? offset : targets.back().value);
                const double input =
                    k >= size_t(delayCycles) ? held[k - size_t(delayCycles)] : offset;
                v.push_back((v.empty() ? offset : v.back()) * (1 - alpha) + alpha * input);
            }
        };
        targets.push_back({-1.0, offset});
        while (t < durationMs) {
            seed = seed * 1664525u + 1013904223u;
            t += 1.5 + double(seed >> 8) / double(1u << 24);
            runUpTo(t);
            if (write)
                targets.push_back(
                    {t, std::round(offset + amplitude * std::sin(2 * Pi * hz * t / 1000))});
            else if (!v.empty())
                readings.push_back({t, std::round(v.back())});
            write = !write;
        }
    }
};

// The velocity loop as docs/simulator.md writes its equations (ramp off, gains of set 1,
// no limit reached), stepped with a sine target every 1 ms: the true response.
class Equations
{
public:
    Equations(double velocityP, double velocityI) : m_kp(velocityP / 1024), m_ki(velocityI / 16) {}

    std::complex<double> response(double hz, double offset, double amplitude)
    {
        // At rest on the offset, the loops holding the load.
        v = m = offset;
        i = load(offset);
        velocityShare = i;
        currentShare = i / 10;
        velocityLast = currentLast = 0;
        const double w = 2 * Pi * hz;
        const int lead = int(std::round(std::ceil(2 * hz) / hz * 1000));
        const int span = int(std::round(std::ceil(2 * hz) / hz * 1000));
        std::complex<double> in;
        std::complex<double> out;
        for (int k = 1; k <= lead + span; ++k) {
            const double t = k / 1000.0;
            const double target = offset + amplitude * std::sin(w * t);
            step(target);
            if (k > lead) {
                in += (target - offset) * std::polar(1.0, -w * t);
                out += (v - offset) * std::polar(1.0, -w * t);
            }
        }
        return out / in;
    }

private:
    static double load(double velocity)
    {
        return 50 * std::clamp(velocity / 10, -1.0, 1.0) + 0.25 * velocity;
    }
    // One PID of the table: the share held while the output is at its bound and e drives
    // it further.
    static double pid(double e, double dt, double kp, double ki, double clip, double bound,
                      double& share, double& last)
    {
        const double proportional = kp * e;
        last = e;
        const double next = std::clamp(share + ki * e * dt, -clip, clip);
        const double out = proportional + next;
        if (!(std::abs(next) > std::abs(share) &&
              ((out > bound && e > 0) || (out < -bound && e < 0))))
            share = next;
        return std::clamp(proportional + share, -bound, bound);
    }
    void step(double target)
    {
        const double h = 0.001;
        const double demand =
            pid(target - m, h, m_kp, m_ki, 500000 / 100.0, 4000, velocityShare, velocityLast);
        double sum = 0;
        for (int c = 0; c < 10; ++c) {
            const double duty = pid(demand - i, h / 10, 600.0 / 2048, 100 * 2.5, 100000 / 100.0,
                                    1000, currentShare, currentLast);
            i += (10 * duty - i) * (1 - std::exp(-(h / 10) / 0.001));
            sum += i;
        }
        const double v0 = v;
        v = v0 + 15 * (sum / 10 - load(v0)) * h;
        m += (v - m) * (1 - std::exp(-h / 0.01));
    }

    double m_kp;
    double m_ki;
    double v = 0, m = 0, i = 0;
    double velocityShare = 0, velocityLast = 0, currentShare = 0, currentLast = 0;
};

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
    int targetWrites()
    {
        int count = 0;
        for (const QByteArray& request : served.peer().requests())
            if (request.at(1) == 5 && request.at(2) == ParameterCatalogue::TargetVelocity)
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

class TestFrequency : public QObject
{
    Q_OBJECT

private slots:
    void estimateOfAKnownLoop_data();
    void estimateOfAKnownLoop();
    void tooLittleToFit();
    void sweepAgreesWithTheEquations();
    void sweepEndsStoppedWithTheRampBack_data();
    void sweepEndsStoppedWithTheRampBack();
};

void TestFrequency::estimateOfAKnownLoop_data()
{
    QTest::addColumn<double>("alpha");
    QTest::addColumn<int>("delayCycles");
    QTest::addColumn<double>("hz");
    QTest::addColumn<double>("toleranceDb");
    QTest::addColumn<double>("toleranceDeg");
    // A slow lag is what a velocity loop looks like above its bandwidth. A read that follows
    // a write sees the staircase's ripple at one place of each step: at 40 Hz it costs up to
    // half a dB.
    QTest::newRow("lag, 1 Hz") << 0.05 << 0 << 1.0 << 0.1 << 1.0;
    QTest::newRow("lag, 10 Hz") << 0.05 << 0 << 10.0 << 0.1 << 1.0;
    QTest::newRow("lag, 40 Hz") << 0.05 << 0 << 40.0 << 0.6 << 2.0;
    QTest::newRow("lag and delay, 20 Hz") << 0.05 << 2 << 20.0 << 0.2 << 1.0;
    QTest::newRow("lag and delay, 40 Hz") << 0.05 << 2 << 40.0 << 0.6 << 2.0;
}

// Against a loop with a known response, sampled as the line samples it (writes every 4 ms
// or so, a staircase that alone would be 25 degrees late at 40 Hz, and readings of the last
// cycle): the estimate comes within the tolerance of the truth.
void TestFrequency::estimateOfAKnownLoop()
{
    QFETCH(double, alpha);
    QFETCH(int, delayCycles);
    QFETCH(double, hz);
    QFETCH(double, toleranceDb);
    QFETCH(double, toleranceDeg);
    Bench bench{alpha, delayCycles, 0.37, {}, {}};
    const double periodMs = 1000 / hz;
    const double startMs = 300;
    const double endMs = startMs + std::ceil(1000 / periodMs) * periodMs;
    bench.run(hz, 500, 100, endMs + 10);

    const FrequencyEstimate::Estimate estimate =
        FrequencyEstimate::estimate(bench.targets, bench.readings, {hz, startMs, endMs, 1.0});
    QVERIFY(estimate.ok);
    const std::complex<double> truth = bench.truth(hz);
    const double truthDb = 20 * std::log10(std::abs(truth));
    const double truthDeg = std::arg(truth) * 180 / Pi;
    const QString shown = QStringLiteral("%1 dB %2°, truth %3 dB %4°")
                              .arg(estimate.gainDb)
                              .arg(estimate.phaseDeg)
                              .arg(truthDb)
                              .arg(truthDeg);
    QVERIFY2(std::abs(estimate.gainDb - truthDb) < toleranceDb, qPrintable(shown));
    QVERIFY2(std::abs(estimate.phaseDeg - truthDeg) < toleranceDeg, qPrintable(shown));
    QVERIFY(estimate.readings > 200);
}

// A window that starts before the first target, a target that never moved, or too few
// readings give no estimate rather than a figure.
void TestFrequency::tooLittleToFit()
{
    Bench bench{0.5, 0, 0.37, {}, {}};
    bench.run(10, 500, 100, 400);
    QVERIFY(FrequencyEstimate::estimate(bench.targets, bench.readings, {10, 100, 300, 1}).ok);
    QVERIFY(!FrequencyEstimate::estimate(bench.targets, bench.readings, {10, -5, 300, 1}).ok);
    QVERIFY(!FrequencyEstimate::estimate({{0, 500}}, bench.readings, {10, 100, 300, 1}).ok);
    QVERIFY(!FrequencyEstimate::estimate(bench.targets,
                                         {bench.readings.begin(), bench.readings.begin() + 5},
                                         {10, 0, 300, 1})
                 .ok);
}

// A sweep through the line of the served module at 115200 baud, at three frequencies and the
// extra ones at the crossing: every point within half a dB and five degrees of the equations'
// response, the bandwidth within 5 %. (Up to 12 Hz: above, the staircase's ripple seen by the
// readings grows with the time an exchange takes, which a busy machine stretches.)
void TestFrequency::sweepAgreesWithTheEquations()
{
    ServedBench bench;
    QVERIFY(bench.opened);
    FrequencyResponse::Request request;
    request.fromHz = 2;
    request.toHz = 12;
    request.points = 3;
    const FrequencyResponse::Result result =
        FrequencyResponse::run(bench.handler, nullptr, request);
    QVERIFY2(result.ok, qPrintable(result.error));
    QVERIFY(result.points.size() > 3);
    Equations equations(2000, 200);
    for (const FrequencyResponse::Point& point : result.points) {
        const std::complex<double> truth = equations.response(point.frequencyHz, 500, 100);
        const double db = 20 * std::log10(std::abs(truth));
        const double deg = std::arg(truth) * 180 / Pi;
        const QString shown = QStringLiteral("%1 Hz: %2 dB %3°, equations %4 dB %5° (%6 readings)")
                                  .arg(point.frequencyHz)
                                  .arg(point.gainDb)
                                  .arg(point.phaseDeg)
                                  .arg(db)
                                  .arg(deg)
                                  .arg(point.readings);
        QVERIFY2(std::abs(point.gainDb - db) <= 0.5, qPrintable(shown));
        QVERIFY2(std::abs(point.phaseDeg - deg) <= 5.0, qPrintable(shown));
    }
    // The equations' crossing, by bisection.
    double below = 2;
    double above = 12;
    for (int k = 0; k < 20; ++k) {
        const double mid = std::sqrt(below * above);
        (20 * std::log10(std::abs(equations.response(mid, 500, 100))) >= -3 ? below : above) = mid;
    }
    QVERIFY(result.bandwidthHz);
    QVERIFY2(std::abs(*result.bandwidthHz / below - 1) <= 0.05,
             qPrintable(QStringLiteral("%1 Hz, equations %2").arg(*result.bandwidthHz).arg(below)));
    QVERIFY(result.moved && result.stopConfirmed);
    QCOMPARE(bench.held(ParameterCatalogue::TargetVelocity), 0);
    QCOMPARE(bench.held(ParameterCatalogue::EnableVelocityRamp), 1);
}

void TestFrequency::sweepEndsStoppedWithTheRampBack_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("cancelAfter"); // asks of the cancel; 0 never
    QTest::addColumn<bool>("anyMotion");
    QTest::newRow("beyond the max. velocity") << 1950 << 0 << false;
    QTest::newRow("cancelled at once") << 500 << 1 << false;
    QTest::newRow("cancelled during the sweep") << 500 << 300 << true;
}

// Refused, or cancelled before or during the sweep: the ramp is switched back, and a motor
// that was moved ends told to stop.
void TestFrequency::sweepEndsStoppedWithTheRampBack()
{
    QFETCH(int, offset);
    QFETCH(int, cancelAfter);
    QFETCH(bool, anyMotion);
    ServedBench bench;
    QVERIFY(bench.opened);
    FrequencyResponse::Request request;
    request.offset = offset;
    int asked = 0;
    const FrequencyResponse::Result result = FrequencyResponse::run(
        bench.handler, nullptr, request, [&] { return cancelAfter > 0 && ++asked >= cancelAfter; });
    QVERIFY(!result.ok);
    QCOMPARE(result.cancelled, cancelAfter > 0);
    QVERIFY(!result.error.isEmpty());
    QCOMPARE(result.moved, anyMotion);
    // Target writes besides the stop.
    QCOMPARE(bench.targetWrites() > 1, anyMotion);
    QCOMPARE(bench.held(ParameterCatalogue::TargetVelocity), 0);
    QCOMPARE(bench.held(ParameterCatalogue::EnableVelocityRamp), 1);
}

QTEST_GUILESS_MAIN(TestFrequency)
#include "test_frequency.moc"

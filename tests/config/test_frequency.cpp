#include "config/FrequencyEstimate.h"

#include <QtTest>

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

} // namespace

class TestFrequency : public QObject
{
    Q_OBJECT

private slots:
    void estimateOfAKnownLoop_data();
    void estimateOfAKnownLoop();
    void tooLittleToFit();
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

QTEST_GUILESS_MAIN(TestFrequency)
#include "test_frequency.moc"

#include "config/ParameterNumbers.h"
#include "config/StepMetrics.h"
#include "support/SimBench.h"

#include <QtTest>

#include <cmath>

using namespace std::chrono_literals;
using namespace SimBench;
using namespace ParameterCatalogue;

namespace {

// A velocity step on the simulated module, sampled every millisecond of its clock.
struct Gains
{
    int p;
    int i;
};

StepMetrics::Metrics velocityStep(Bench& bench, int target, int windowMs = 1000,
                                  std::vector<StepMetrics::Sample>* samples = nullptr)
{
    std::vector<StepMetrics::Sample> taken;
    const double start = bench.get(ActualVelocity);
    if (bench.set(TargetVelocity, target) != Ok)
        return {};
    for (int ms = 1; ms <= windowMs; ++ms) {
        bench.run(1ms);
        taken.push_back({double(ms), double(bench.get(ActualVelocity))});
    }
    const StepMetrics::Metrics metrics = StepMetrics::measure(taken, start, target, windowMs);
    if (samples)
        *samples = taken;
    return metrics;
}

void setVelocityGains(Bench& bench, Gains gains)
{
    const auto numbers = pidNumbers(VelocityLoop);
    for (PidField p : {PSet1, PSet2})
        QCOMPARE(bench.set(numbers[p], gains.p), Ok);
    for (PidField i : {ISet1, ISet2})
        QCOMPARE(bench.set(numbers[i], gains.i), Ok);
}

QString describe(const StepMetrics::Metrics& m)
{
    return QStringLiteral("rise %1 ms, overshoot %2 %, settling %3 ms, error %4")
        .arg(m.riseTimeMs ? QString::number(*m.riseTimeMs) : QStringLiteral("none"))
        .arg(m.overshootPercent)
        .arg(m.settlingTimeMs ? QString::number(*m.settlingTimeMs) : QStringLiteral("none"))
        .arg(m.steadyStateError);
}

} // namespace

Q_DECLARE_METATYPE(Gains)

// The simulated module's cascaded loops, as a user tuning them sees them: through the
// step responses that the PID parameters give.
class TestLoops : public QObject
{
    Q_OBJECT

private slots:
    void defaultGainsSettleCleanly();
    void velocityGains_data();
    void velocityGains();
    void integralRemovesTheLoadError();
    void setsAndClipping_data();
    void setsAndClipping();
    void rampShapesTheRise();
    void currentLimitBoundsTheAcceleration();
    void positionLoopHoldsTheTarget();
    void chosenMotor_data();
    void chosenMotor();
};

void TestLoops::defaultGainsSettleCleanly()
{
    // A small motor at the module's power-up gains, the ramp off: a 1000 rpm step settles
    // within a few hundred milliseconds, slightly damped.
    Bench bench;
    QCOMPARE(bench.set(EnableVelocityRamp, 0), Ok);
    const StepMetrics::Metrics m = velocityStep(bench, 1000);
    QVERIFY2(m.settlingTimeMs && *m.settlingTimeMs >= 50 && *m.settlingTimeMs <= 300,
             qPrintable(describe(m)));
    QVERIFY2(m.overshootPercent < 15, qPrintable(describe(m)));
    QVERIFY2(std::abs(m.steadyStateError) < 10, qPrintable(describe(m)));
}

void TestLoops::velocityGains_data()
{
    QTest::addColumn<Gains>("slow");
    QTest::addColumn<Gains>("fast");
    QTest::addColumn<bool>("ringing");
    // More P rises faster; much more P or I overshoots and rings.
    QTest::newRow("P 500 to 2000") << Gains{500, 200} << Gains{2000, 200} << false;
    QTest::newRow("P 2000 to 8000") << Gains{2000, 200} << Gains{8000, 200} << false;
    QTest::newRow("large I") << Gains{2000, 200} << Gains{2000, 3000} << true;
}

void TestLoops::velocityGains()
{
    QFETCH(Gains, slow);
    QFETCH(Gains, fast);
    QFETCH(bool, ringing);
    Bench a;
    Bench b;
    for (Bench* bench : {&a, &b})
        QCOMPARE(bench->set(EnableVelocityRamp, 0), Ok);
    setVelocityGains(a, slow);
    setVelocityGains(b, fast);
    const StepMetrics::Metrics ma = velocityStep(a, 1000);
    const StepMetrics::Metrics mb = velocityStep(b, 1000);
    const QString both = describe(ma) + " / " + describe(mb);
    QVERIFY2(ma.riseTimeMs && mb.riseTimeMs, qPrintable(both));
    if (ringing)
        QVERIFY2(mb.overshootPercent > ma.overshootPercent + 10, qPrintable(both));
    else
        QVERIFY2(*mb.riseTimeMs < *ma.riseTimeMs * 0.8, qPrintable(both));
}

void TestLoops::integralRemovesTheLoadError()
{
    // Friction and the viscous load are a load torque the loop works against: P alone
    // leaves an error, I removes it; with no gain at all the motor does not move.
    Bench p;
    Bench pi;
    Bench none;
    setVelocityGains(p, {2000, 0});
    setVelocityGains(pi, {2000, 200});
    setVelocityGains(none, {0, 0});
    const StepMetrics::Metrics mp = velocityStep(p, 1000, 3000);
    const StepMetrics::Metrics mpi = velocityStep(pi, 1000, 3000);
    QVERIFY2(mp.steadyStateError < -10, qPrintable(describe(mp)));
    QVERIFY2(std::abs(mpi.steadyStateError) < 3, qPrintable(describe(mpi)));

    QCOMPARE(none.set(EnableVelocityRamp, 0), Ok);
    QCOMPARE(none.set(TargetVelocity, 1000), Ok);
    none.run(2s);
    QCOMPARE(none.get(ActualVelocity), 0);
    QCOMPARE(none.get(ActualPosition), 0);
}

void TestLoops::setsAndClipping_data()
{
    // The velocity loop's nine values, as pidNumbers() orders them, and whether the motor
    // gets going on a 500 rpm step.
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<bool>("moves");
    // Set 1 below the threshold speed, set 2 from it on: a standing motor is in set 1.
    QTest::newRow("set 1 empty below the threshold")
        << QList<int>{0, 0, 0, 500000, 2000, 200, 0, 500000, 1000} << false;
    QTest::newRow("threshold 0: set 2 throughout")
        << QList<int>{0, 0, 0, 500000, 2000, 200, 0, 500000, 0} << true;
    // The I-clipping bounds the integral: 100 leaves 1 mA, short of the friction.
    QTest::newRow("I alone, clipped") << QList<int>{0, 200, 0, 100, 0, 200, 0, 100, 1000} << false;
    QTest::newRow("I alone") << QList<int>{0, 200, 0, 500000, 0, 200, 0, 500000, 1000} << true;
}

void TestLoops::setsAndClipping()
{
    QFETCH(QList<int>, values);
    QFETCH(bool, moves);
    Bench bench;
    const auto numbers = pidNumbers(VelocityLoop);
    for (size_t i = 0; i < numbers.size(); ++i)
        QCOMPARE(bench.set(numbers[i], values.at(int(i))), Ok);
    QCOMPARE(bench.set(EnableVelocityRamp, 0), Ok);
    QCOMPARE(bench.set(TargetVelocity, 500), Ok);
    bench.run(3s);
    const int velocity = bench.get(ActualVelocity);
    QVERIFY2(moves ? velocity > 250 : velocity == 0, qPrintable(QString::number(velocity)));
}

void TestLoops::rampShapesTheRise()
{
    // With the ramp on, the target comes at the acceleration (1000 rpm/s by default) and
    // the motor follows it: 10 % to 90 % of 1000 rpm takes about 0.8 s.
    Bench bench;
    const StepMetrics::Metrics slow = velocityStep(bench, 1000, 2000);
    QVERIFY2(slow.riseTimeMs && std::abs(*slow.riseTimeMs - 800) < 40, qPrintable(describe(slow)));
    Bench faster;
    QCOMPARE(faster.set(Acceleration, 4000), Ok);
    const StepMetrics::Metrics fast = velocityStep(faster, 1000, 2000);
    QVERIFY2(fast.riseTimeMs && std::abs(*fast.riseTimeMs - 200) < 40, qPrintable(describe(fast)));
}

void TestLoops::currentLimitBoundsTheAcceleration()
{
    // A huge P asks for far more than the drive gives: the max. current bounds the output,
    // and with it how fast the motor gains speed.
    Bench strong;
    Bench weak;
    for (Bench* bench : {&strong, &weak}) {
        QCOMPARE(bench->set(EnableVelocityRamp, 0), Ok);
        setVelocityGains(*bench, {50000, 0});
    }
    QCOMPARE(weak.set(MaxCurrent, 500), Ok);
    const StepMetrics::Metrics ms = velocityStep(strong, 1000);
    const StepMetrics::Metrics mw = velocityStep(weak, 1000);
    QVERIFY2(ms.riseTimeMs && mw.riseTimeMs && *mw.riseTimeMs > 3 * *ms.riseTimeMs,
             qPrintable(describe(ms) + " / " + describe(mw)));
    QVERIFY(std::abs(weak.get(ActualCurrent)) <= 1100);
}

void TestLoops::positionLoopHoldsTheTarget()
{
    // A move ends on its target and stays there, whatever the position gains, unless
    // they are zero: then only the profile's own velocity drives it.
    Bench bench;
    QCOMPARE(bench.moveTo(1, 20000), Ok);
    bench.run(5s);
    QVERIFY2(std::abs(bench.get(ActualPosition) - 20000) <= 2,
             qPrintable(QString::number(bench.get(ActualPosition))));
    QCOMPARE(bench.get(ActualVelocity), 0);
}

void TestLoops::chosenMotor_data()
{
    QTest::addColumn<double>("accel");
    QTest::addColumn<double>("friction");
    QTest::addColumn<double>("viscous");
    QTest::addColumn<double>("gainScale");
    QTest::newRow("power-up motor") << 15.0 << 50.0 << 0.25 << 1.0;
    QTest::newRow("heavy, sticky, gains quartered") << 4.0 << 150.0 << 0.8 << 0.25;
    QTest::newRow("light, free, gains fourfold") << 40.0 << 20.0 << 0.05 << 4.0;
}

void TestLoops::chosenMotor()
{
    // The motor of the settings, as the equations have it: in torque mode it accelerates
    // at accel · (i - friction - viscous · v) and comes to rest at (i - friction) / viscous;
    // a gain scale of S is the gains times S on a module that scales by 1.
    QFETCH(double, accel);
    QFETCH(double, friction);
    QFETCH(double, viscous);
    QFETCH(double, gainScale);
    const MotorSettings motor{accel, friction, viscous, gainScale};

    // Within 10 ms of the torque target the current is there; then the velocity grows by
    // the equation.
    Bench torque(motor);
    const double current = 400;
    QCOMPARE(torque.set(TargetCurrent, qint32(current)), Ok);
    torque.run(50ms);
    const double v1 = torque.get(ActualVelocity);
    torque.run(20ms);
    const double v2 = torque.get(ActualVelocity);
    const double expected = accel * (current - friction - viscous * (v1 + v2) / 2) * 0.02;
    QVERIFY2(std::abs((v2 - v1) - expected) < 0.03 * expected + 5,
             qPrintable(QStringLiteral("%1 rpm in 20 ms, %2 expected").arg(v2 - v1).arg(expected)));
    // Left long enough (30 time constants), it holds where the load takes all the current.
    torque.run(std::chrono::milliseconds(int(30000 / (accel * viscous))));
    const double rest = (current - friction) / viscous;
    QVERIFY2(std::abs(torque.get(ActualVelocity) - rest) < 0.01 * rest + 3,
             qPrintable(
                 QStringLiteral("%1 rpm, %2 expected").arg(torque.get(ActualVelocity)).arg(rest)));

    Bench scaled(motor);
    MotorSettings unscaledMotor = motor;
    unscaledMotor.gainScale = 1;
    Bench unscaled(unscaledMotor);
    setVelocityGains(scaled, {400, 40});
    setVelocityGains(unscaled, {int(400 * gainScale), int(40 * gainScale)});
    for (Bench* bench : {&scaled, &unscaled})
        QCOMPARE(bench->set(EnableVelocityRamp, 0), Ok);
    std::vector<StepMetrics::Sample> a;
    std::vector<StepMetrics::Sample> b;
    velocityStep(scaled, 300, 500, &a);
    velocityStep(unscaled, 300, 500, &b);
    for (size_t k = 0; k < a.size(); k += 50)
        QCOMPARE(a[k].value, b[k].value);
}

QTEST_GUILESS_MAIN(TestLoops)
#include "test_loops.moc"

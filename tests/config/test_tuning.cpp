#include "config/MotorIdentification.h"
#include "config/ParameterNumbers.h"
#include "config/VelocityTuning.h"
#include "sim/SimulatedModule.h"
#include "support/BenchAccess.h"
#include "support/CliProcess.h"

#include <QtTest>

#include <cmath>

using namespace ParameterCatalogue;

Q_DECLARE_METATYPE(MotorSettings)

// Identification and tuning of the velocity loop, on simulated motors the tool does not
// know, each on a clock the test steps.
class TestTuning : public QObject
{
    Q_OBJECT

private slots:
    void modelFollowsTheModule_data();
    void modelFollowsTheModule();
    void identification_data();
    void identification();
    void identifyCommand();
    void tuning_data();
    void tuning();
    void bandwidth_data();
    void bandwidth();
    void cancelledTuningPutsBack();
    void tuneCommandPutsBack();
};

void TestTuning::modelFollowsTheModule_data()
{
    QTest::addColumn<MotorSettings>("motor");
    QTest::addColumn<int>("p");
    QTest::addColumn<int>("i");
    QTest::newRow("power-up motor and gains") << MotorSettings{} << 2000 << 200;
    // The model leaves the current loop out: it holds for gains whose current follows
    // within a millisecond or two, not for the power-up gains on this motor, which ring.
    QTest::newRow("light, gains fourfold") << MotorSettings{40, 30, 0.1, 4} << 300 << 30;
    QTest::newRow("heavy, gains quartered") << MotorSettings{5, 120, 0.6, 0.25} << 26000 << 2000;
}

void TestTuning::modelFollowsTheModule()
{
    // The tuning's model, given the motor, the lag and the gains' worth the simulated module
    // documents (10 ms; P / 1024 and I / 16 times the gain scale), steps as the module does.
    QFETCH(MotorSettings, motor);
    QFETCH(int, p);
    QFETCH(int, i);
    const VelocityLoopModel::Plant plant{motor.acceleration, motor.friction, motor.viscous, 0.01};
    const VelocityLoopModel::Gains gains{p * motor.gainScale / 1024, i * motor.gainScale / 16};
    std::vector<StepMetrics::Sample> model;
    VelocityLoopModel::predict(plant, gains, 300, 4000, 600, &model);
    SimBench::Bench bench(motor);
    for (int n : {140, 234})
        bench.set(n, p);
    for (int n : {141, 235})
        bench.set(n, i);
    bench.set(EnableVelocityRamp, 0);
    bench.set(TargetVelocity, 300);
    for (int ms = 1; ms <= 600; ++ms) {
        bench.run(std::chrono::milliseconds(1));
        const double v = bench.get(ActualVelocity);
        QVERIFY2(std::abs(v - model[size_t(ms)].value) <= 12,
                 qPrintable(QStringLiteral("at %1 ms: module %2 rpm, model %3 rpm")
                                .arg(ms)
                                .arg(v)
                                .arg(model[size_t(ms)].value)));
    }
}

void TestTuning::identification_data()
{
    QTest::addColumn<MotorSettings>("motor");
    // The corners where the fit is hardest: a slow motor whose load is nearly all
    // friction, and a light one that settles within 30 ms.
    QTest::newRow("heavy, free") << MotorSettings{4, 20, 0.05, 1};
    QTest::newRow("light, sticky") << MotorSettings{40, 150, 0.8, 1};
}

void TestTuning::identification()
{
    // Within 5 % on the acceleration, 10 % on friction and viscous load, in 10 s at most;
    // only torque targets written, and the stop last.
    QFETCH(MotorSettings, motor);
    BenchAccess access(motor);
    const MotorIdentification::Result result = MotorIdentification::run(access, {});
    const MotorIdentification::Motor& m = result.motor;
    const QString seen = QStringLiteral("accel %1, friction %2, viscous %3 in %4 s; %5")
                             .arg(m.accel)
                             .arg(m.friction)
                             .arg(m.viscous)
                             .arg(result.durationSeconds)
                             .arg(result.error);
    QVERIFY2(result.ok, qPrintable(seen));
    QVERIFY2(std::abs(m.accel / motor.acceleration - 1) <= 0.05, qPrintable(seen));
    QVERIFY2(std::abs(m.friction / motor.friction - 1) <= 0.10, qPrintable(seen));
    QVERIFY2(std::abs(m.viscous / motor.viscous - 1) <= 0.10, qPrintable(seen));
    QVERIFY2(result.durationSeconds <= 10, qPrintable(seen));
    for (const MotorIdentification::Reading& reading : result.velocity)
        QVERIFY(reading.value <= result.maxVelocity);
    for (const MotorIdentification::Reading& reading : result.current)
        QVERIFY(std::abs(reading.value) <= result.maxCurrent * 1.05);
    QVERIFY(!access.writes.isEmpty());
    for (int k = 0; k < access.writes.size() - 1; ++k)
        QCOMPARE(access.writes.at(k).first, int(TargetCurrent));
    QCOMPARE(access.writes.last(), (QPair<int, qint32>(TargetVelocity, 0)));
}

namespace {

QString figure(const std::optional<double>& value)
{
    return value ? QString::number(*value, 'f', 1) : QStringLiteral("none");
}

QString describe(const StepMetrics::Metrics& m)
{
    return QStringLiteral("rise %1 ms, overshoot %2 %, settling %3 ms")
        .arg(figure(m.riseTimeMs))
        .arg(m.overshootPercent, 0, 'f', 1)
        .arg(figure(m.settlingTimeMs));
}

// A 300 rpm step from rest with the ramp off, sampled every millisecond of the module.
StepMetrics::Metrics stepOf(SimBench::Bench& bench, int windowMs = 1500)
{
    bench.set(EnableVelocityRamp, 0);
    bench.set(TargetVelocity, 300);
    std::vector<StepMetrics::Sample> samples;
    for (int ms = 1; ms <= windowMs; ++ms) {
        bench.run(std::chrono::milliseconds(1));
        samples.push_back({double(ms), double(bench.get(ActualVelocity))});
    }
    bench.set(TargetVelocity, 0);
    bench.run(std::chrono::seconds(3));
    bench.set(EnableVelocityRamp, 1);
    return StepMetrics::measure(samples, 0, 300, windowMs);
}

} // namespace

void TestTuning::tuning_data()
{
    QTest::addColumn<MotorSettings>("motor");
    // A light motor on a module that scales its gains up: the power-up gains ring. A heavy
    // one on a module that scales them down: they crawl.
    QTest::newRow("rings") << MotorSettings{40, 30, 0.1, 4};
    QTest::newRow("crawls") << MotorSettings{5, 120, 0.6, 0.25};
}

void TestTuning::tuning()
{
    QFETCH(MotorSettings, motor);
    BenchAccess access(motor);
    VelocityTuning::Request request;
    request.apply = true;
    const VelocityTuning::Result result = VelocityTuning::run(access, request);
    const QString seen =
        QStringLiteral("P %1, I %2 (worth %3, %4, lag %5 ms) in %6 s: predicted %7; before %8; "
                       "measured %9; %10")
            .arg(result.p)
            .arg(result.i)
            .arg(result.pWorth)
            .arg(result.iWorth)
            .arg(result.lagSeconds * 1000)
            .arg(result.durationSeconds)
            .arg(describe(result.predicted.step), describe(result.formerPredicted.step),
                 result.measured ? describe(*result.measured) : QString(), result.error);
    qInfo("%s", qPrintable(seen));
    QVERIFY2(result.ok, qPrintable(seen));
    QVERIFY2(result.durationSeconds <= 30, qPrintable(seen));

    SimBench::Bench& bench = access.bench;
    const StepMetrics::Metrics tuned = stepOf(bench);
    qInfo("tuned: %s", qPrintable(describe(tuned)));
    QVERIFY2(tuned.overshootPercent <= 10 && tuned.settlingTimeMs, qPrintable(describe(tuned)));
    // Applied to both sets; the ramp switch back on.
    QCOMPARE(bench.get(140), result.p);
    QCOMPARE(bench.get(234), result.p);
    QCOMPARE(bench.get(141), result.i);
    QCOMPARE(bench.get(235), result.i);
    QCOMPARE(bench.get(EnableVelocityRamp), 1);
}

void TestTuning::bandwidth_data()
{
    QTest::addColumn<MotorSettings>("motor");
    QTest::addColumn<double>("hz");
    QTest::newRow("power-up motor, 5 Hz") << MotorSettings{} << 5.0;
    QTest::newRow("light, sticky, 8 Hz") << MotorSettings{40, 150, 0.8, 4} << 8.0;
    // Beyond what the measurement's lag allows within the overshoot: refused, nothing left
    // changed.
    QTest::newRow("power-up motor, 30 Hz") << MotorSettings{} << 30.0;
}

void TestTuning::bandwidth()
{
    // The closed loop's -3 dB bandwidth with the gains found, measured on the module: the
    // amplitude a 20 rpm sine around 300 rpm keeps, from 0.5 Hz up in steps of 3 %.
    QFETCH(MotorSettings, motor);
    QFETCH(double, hz);
    BenchAccess access(motor);
    VelocityTuning::Request request;
    request.bandwidthHz = hz;
    request.apply = true;
    const VelocityTuning::Result result = VelocityTuning::run(access, request);
    if (hz > 20) {
        QVERIFY(!result.ok && result.restored);
        QVERIFY2(result.error.contains(QLatin1String("Hz on this motor")),
                 qPrintable(result.error));
        for (int type : {140, 141, 143, 234, 235, 237, 146})
            QCOMPARE(access.bench.get(type), SimulatedModule::parameterInfo(type).defaultValue);
        return;
    }
    QVERIFY2(result.ok, qPrintable(result.error));
    SimBench::Bench& bench = access.bench;
    const auto gainAt = [&](double f) {
        bench.set(EnableVelocityRamp, 0);
        bench.set(TargetVelocity, 300);
        bench.run(std::chrono::seconds(2));
        const int total = int(6 * 1000 / f);
        double c = 0;
        double s = 0;
        for (int ms = 0; ms < total; ++ms) {
            const double phase = 2 * M_PI * f * ms / 1000.0;
            bench.set(TargetVelocity, qint32(std::lround(300 + 20 * std::sin(phase))));
            bench.run(std::chrono::milliseconds(1));
            if (ms >= total / 2) {
                const double v = bench.get(ActualVelocity) - 300;
                c += v * std::cos(phase);
                s += v * std::sin(phase);
            }
        }
        return std::hypot(c, s) * 2 / (total - total / 2) / 20;
    };
    double measured = 0;
    for (double f = 0.5; f < 100 && measured == 0; f *= 1.03)
        if (gainAt(f) < std::sqrt(0.5))
            measured = f;
    QVERIFY2(std::abs(measured / hz - 1) <= 0.15,
             qPrintable(QStringLiteral("%1 Hz asked, %2 Hz measured").arg(hz).arg(measured)));
}

void TestTuning::cancelledTuningPutsBack()
{
    // Ctrl-C at any point: the motor stopped last but for the settings put back, every
    // gain, clipping and the ramp switch as they were.
    for (int reads : {100, 3600, 4100, 4600}) {
        BenchAccess access;
        access.cancelAfterReads = reads;
        VelocityTuning::Request request;
        request.apply = true;
        const VelocityTuning::Result result = VelocityTuning::run(access, request);
        QVERIFY2(
            !result.ok && result.cancelled && result.restored,
            qPrintable(QStringLiteral("after %1 reads: %2").arg(access.reads).arg(result.error)));
        QVERIFY(access.stopped);
        for (int type : {140, 141, 143, 234, 235, 237, 146})
            QCOMPARE(access.bench.get(type), SimulatedModule::parameterInfo(type).defaultValue);
        int lastStop = -1;
        for (int k = 0; k < access.writes.size(); ++k)
            if (access.writes.at(k) == QPair<int, qint32>(TargetVelocity, 0))
                lastStop = k;
        for (int k = lastStop + 1; k < access.writes.size(); ++k)
            QVERIFY(access.writes.at(k).first != TargetCurrent &&
                    access.writes.at(k).first != TargetVelocity);
    }
}

void TestTuning::tuneCommandPutsBack()
{
    // Without --apply the module's settings are as they were; what was written is motion,
    // the velocity loop's gains and clipping, and the ramp switch, each put back last.
    SimulatorProcess sim;
    QVERIFY(sim.start(
        {"--baud", "115200", "--motor", "accel=30,friction=40,viscous=0.3", "--gain-scale", "2"}));
    const Run run = cli(sim.onLink({"--baud", "115200", "tune", "velocity"}));
    QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
    static const QRegularExpression figures(
        QStringLiteral("^P\t[0-9]+\nI\t[0-9]+\nrise_time_ms\t[0-9.]+\n"
                       "overshoot_percent\t[0-9.]+\nsettling_time_ms\t[0-9.]+\n"
                       "bandwidth_hz\t[0-9.]+\n$"));
    QVERIFY2(figures.match(run.out).hasMatch(), qPrintable(run.out));

    QMap<int, qint32> last;
    for (const QString& frame : sim.received()) {
        const QStringList bytes = frame.split(QLatin1Char(' '));
        if (bytes.at(1) != QLatin1String("05"))
            continue;
        const int type = bytes.at(2).toInt(nullptr, 16);
        QVERIFY2(QList<int>({2, 155, 140, 141, 143, 234, 235, 237, 146}).contains(type),
                 qPrintable(frame));
        last[type] = qint32(bytes.mid(4, 4).join(QString()).toUInt(nullptr, 16));
    }
    QCOMPARE(last.value(2, -1), 0);
    for (int type : {140, 141, 143, 234, 235, 237, 146})
        QCOMPARE(last.value(type), SimulatedModule::parameterInfo(type).defaultValue);
}

void TestTuning::identifyCommand()
{
    // On the line, at its rate: the figures within the goal's tolerances, the limits kept
    // (at most 400 rpm and 300 mA asked for), and nothing written but torque targets and
    // the stop.
    SimulatorProcess sim;
    QVERIFY(sim.start({"--baud", "115200", "--motor", "accel=25,friction=60,viscous=0.4"}));
    const Run run = cli(sim.onLink(
        {"--baud", "115200", "identify", "--max-velocity", "400", "--max-current", "300"}));
    QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
    QMap<QString, double> figures;
    for (const QString& line : run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        figures.insert(line.section(QLatin1Char('\t'), 0, 0),
                       line.section(QLatin1Char('\t'), 1).toDouble());
    QCOMPARE(figures.keys(), (QStringList{"accel_rpm_per_s_per_mA", "duration_s", "friction_mA",
                                          "viscous_mA_per_rpm"}));
    QVERIFY2(std::abs(figures["accel_rpm_per_s_per_mA"] / 25 - 1) <= 0.05, qPrintable(run.out));
    QVERIFY2(std::abs(figures["friction_mA"] / 60 - 1) <= 0.10, qPrintable(run.out));
    QVERIFY2(std::abs(figures["viscous_mA_per_rpm"] / 0.4 - 1) <= 0.10, qPrintable(run.out));

    const QStringList frames = sim.received();
    QVERIFY(!frames.isEmpty());
    QCOMPARE(frames.last(), QStringLiteral("01 05 02 00 00 00 00 00 08"));
    for (const QString& frame : frames) {
        const QStringList bytes = frame.split(QLatin1Char(' '));
        const int type = bytes.at(2).toInt(nullptr, 16);
        if (bytes.at(1) == QLatin1String("06"))
            continue;
        QVERIFY2(bytes.at(1) == QLatin1String("05") && (type == TargetCurrent || type == 2),
                 qPrintable(frame));
        const qint32 value = qint32(bytes.mid(4, 4).join(QString()).toUInt(nullptr, 16));
        QVERIFY2(std::abs(value) <= 300, qPrintable(frame));
    }
}

QTEST_GUILESS_MAIN(TestTuning)
#include "test_tuning.moc"

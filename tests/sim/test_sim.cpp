#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/SerialUSBDevice.h"
#include "comm/VOKTRequest.h"
#include "comm/VOKTUSBReply.h"
#include "config/ParameterNumbers.h"
#include "sim/ServedModule.h"
#include "sim/SimulatedModule.h"
#include "support/LogCapture.h"
#include "support/SimBench.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;
using namespace SimBench;

namespace {

constexpr quint32 ModeBits = 0xF00;

} // namespace

class TestSim : public QObject
{
    Q_OBJECT

private slots:
    void replyFrame();
    void setThenGet_data();
    void setThenGet();
    void refusedWrites_data();
    void refusedWrites();
    void frameErrors();
    void storeChangeRestore();
    void velocityRamp();
    void steppingDoesNotChangeTheMotion();
    void catchingUpKeepsTheMotion_data();
    void catchingUpKeepsTheMotion();
    void longIdleInTheCurrentLimit();
    void relativeAndAbsoluteMoves();
    void modeBitsFollowTheLastCommand();
    void torqueModeAndI2t();
    void clearingThePosition();
    void noiseIsDeterministicButAlive();
    void globalParametersAndIo();

    void servedRefreshThroughHandler();
    void servedPacingAt9600Baud();
    void servedSilentForOtherAddress();
    void servedDropsBrokenFrame();
    void commandServesOnALink();
    void commandEndsWhileNobodyReads_data();
    void commandEndsWhileNobodyReads();
    void commandReportsALogItCannotWrite();
};

void TestSim::replyFrame()
{
    Bench bench;
    const QByteArray reply = bench.module.handle(VOKTRequest(1, 6, 6, 0, 0));
    // Reply address 2, module 1, status 100, command 6, max. current 2000, checksum.
    QCOMPARE(reply.toHex(' '), QByteArray("02 01 64 06 00 00 07 d0 44"));
    QVERIFY(VOKTUSBReply::hasValidAddress(reply));

    bench.module.setAddress(7);
    const QByteArray other = bench.module.handle(VOKTRequest(7, 6, 4, 0, 0));
    QCOMPARE(int(quint8(other.at(1))), 7);
    QVERIFY(VOKTUSBReply::hasValidChecksum(other));
    QVERIFY(bench.module.handle(VOKTRequest(1, 6, 4, 0, 0)).isEmpty());
}

void TestSim::setThenGet_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("value");
    QTest::newRow("max current") << 6 << 1500;
    QTest::newRow("motor poles") << 253 << 12;
    QTest::newRow("encoder steps") << 250 << 2000;
    QTest::newRow("max velocity") << 4 << 3000;
    QTest::newRow("acceleration") << 11 << 1;
    QTest::newRow("ramp off") << 146 << 0;
    QTest::newRow("block commutation") << 159 << 1;
    QTest::newRow("current P set 2") << 172 << 60000;
    QTest::newRow("position I clipping") << 135 << 500000;
    QTest::newRow("target position") << 0 << -2147483647 - 1;
    QTest::newRow("target velocity backwards") << 2 << -1500;
    QTest::newRow("clear on null") << 163 << 1;
}

void TestSim::setThenGet()
{
    QFETCH(int, type);
    QFETCH(int, value);
    Bench bench;
    const Answer answer = bench.send(5, type, value);
    QCOMPARE(answer.status, Ok);
    QCOMPARE(answer.command, 5);
    QCOMPARE(answer.value, value);
    QCOMPARE(bench.get(type), value);
}

void TestSim::refusedWrites_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("status");
    const int invalid = vokt::StatusInvalidValue;
    const int readOnly = vokt::StatusReadOnly;
    QTest::newRow("negative max current") << 6 << -1 << invalid;
    QTest::newRow("max current too high") << 6 << 100001 << invalid;
    QTest::newRow("commutation mode 2") << 159 << 2 << invalid;
    QTest::newRow("ramp enabled 5") << 146 << 5 << invalid;
    QTest::newRow("acceleration 0") << 11 << 0 << invalid;
    QTest::newRow("encoder steps 0") << 250 << 0 << invalid;
    QTest::newRow("PWM above full") << 154 << 1001 << invalid;
    QTest::newRow("actual position other than 0") << 1 << 5 << invalid;
    QTest::newRow("actual velocity") << 3 << 100 << readOnly;
    QTest::newRow("ramp velocity") << 13 << 100 << readOnly;
    QTest::newRow("actual current") << 150 << 0 << readOnly;
    QTest::newRow("actual PWM") << 153 << 0 << readOnly;
    QTest::newRow("status word") << 156 << 0 << readOnly;
    QTest::newRow("unknown parameter") << 5 << 1 << int(vokt::StatusWrongType);
}

void TestSim::refusedWrites()
{
    QFETCH(int, type);
    QFETCH(int, value);
    QFETCH(int, status);
    Bench bench;
    const qint32 before = bench.get(type);
    const Answer answer = bench.send(5, type, value);
    QCOMPARE(answer.status, status);
    // The reply carries what the module kept, so a tool that shows it shows the truth.
    QCOMPARE(answer.value, before);
    QCOMPARE(bench.get(type), before);
}

void TestSim::frameErrors()
{
    Bench bench;
    VOKTRequest request(1, 6, 6, 0, 0);
    request.setValue(1); // checksum left as it was
    Answer answer = Bench::decode(bench.module.handle(request));
    QCOMPARE(answer.status, int(vokt::StatusWrongChecksum));
    QCOMPARE(answer.command, 6);

    QCOMPARE(bench.send(9, 0).status, int(vokt::StatusInvalidCommand));
    QCOMPARE(bench.send(200, 0).command, 200);
    QCOMPARE(bench.send(6, 6, 0, 1).status, int(vokt::StatusWrongMotorBank));
    QCOMPARE(bench.send(6, 5).status, int(vokt::StatusWrongType));
    QCOMPARE(bench.send(4, 2, 100).status, int(vokt::StatusWrongType));

    // Another module's frames, and anything that is not a frame, get no answer at all.
    QVERIFY(bench.send(6, 6, 0, 0, 2).silent);
    QVERIFY(bench.send(5, 6, 100, 0, 0).silent);
    const QByteArray frame = VOKTRequest(1, 6, 6, 0, 0).toWire();
    QVERIFY(bench.module.handle(frame.left(8)).isEmpty());
    QVERIFY(bench.module.handle(frame + char(0)).isEmpty());
    // None of it changed anything.
    QCOMPARE(bench.get(6), 2000);
}

void TestSim::storeChangeRestore()
{
    Bench bench;
    QCOMPARE(bench.set(6, 1500), Ok);
    Answer answer = bench.send(7, 6);
    QCOMPARE(answer.status, Ok);
    QCOMPARE(answer.value, 1500);
    QCOMPARE(bench.module.storedAxisParameter(6), 1500);

    QCOMPARE(bench.set(6, 800), Ok);
    answer = bench.send(8, 6);
    QCOMPARE(answer.status, Ok);
    QCOMPARE(answer.value, 1500);
    QCOMPARE(bench.get(6), 1500);

    // Never stored: restore brings back the power-up value.
    QCOMPARE(bench.set(4, 3000), Ok);
    QCOMPARE(bench.send(8, 4).value, 2000);

    // Targets and actual values are not kept; unknown numbers are not there at all.
    QCOMPARE(bench.send(7, 2).status, int(vokt::StatusReadOnly));
    QCOMPARE(bench.send(8, 3).status, int(vokt::StatusReadOnly));
    QCOMPARE(bench.send(7, 5).status, int(vokt::StatusWrongType));
}

void TestSim::velocityRamp()
{
    Bench bench;
    QCOMPARE(bench.set(2, 2000), Ok);
    QCOMPARE(bench.get(2), 2000);

    // 1000 rpm/s from standstill: halfway after one second, there after two.
    bench.run(1s);
    QVERIFY(qAbs(bench.get(13) - 1000) <= 1);
    QVERIFY(!(bench.flags() & MotorModel::MotorHaltedBit));
    const auto rest = bench.runUntil([&] { return bench.get(13) == 2000; }, 5s);
    QVERIFY2(rest >= 980ms && rest <= 1020ms, qPrintable(QString::number(seconds(rest))));
    bench.run(1s);
    QVERIFY(qAbs(bench.get(3) - 2000) <= 10);
    QCOMPARE(bench.get(13), 2000);
    QVERIFY(qAbs(bench.get(150)) > 0);

    // Two seconds of ramp and one at 2000 rpm, 4096 steps a rotation; the velocity loop
    // lags the ramp a little at its start.
    const double expected = (1.0 + 1.0) * 2000.0 / 60.0 * 4096.0;
    QVERIFY2(qAbs(bench.get(1) - expected) < expected * 0.01,
             qPrintable(QString::number(bench.get(1))));

    // Back to standstill along the same ramp.
    QCOMPARE(bench.set(2, 0), Ok);
    // The ramp comes down in two seconds, the motor comes to rest behind it.
    const auto stopping = bench.runUntil([&] { return bench.get(13) == 0; }, 5s);
    QVERIFY(stopping >= 1900ms && stopping <= 2100ms);
    // The motor comes to rest behind it, the integral's last milliamperes bleeding off.
    const auto resting =
        bench.runUntil([&] { return bool(bench.flags() & MotorModel::MotorHaltedBit); }, 5s);
    QVERIFY2(resting < 3s, qPrintable(QString::number(seconds(resting))));
    bench.run(10ms);
    QCOMPARE(bench.get(150), 0);

    // The max. velocity caps the target; without the ramp the target is there at once.
    QCOMPARE(bench.set(4, 1000), Ok);
    QCOMPARE(bench.set(2, -3000), Ok);
    bench.run(3s);
    QCOMPARE(bench.get(13), -1000);
    QCOMPARE(bench.set(146, 0), Ok);
    QCOMPARE(bench.set(2, 500), Ok);
    bench.run(10ms);
    QCOMPARE(bench.get(13), 500);
}

void TestSim::steppingDoesNotChangeTheMotion()
{
    // Asked every few milliseconds or once at the end: the motor has gone the same way.
    Bench polled;
    Bench once;
    auto both = [&](auto command) {
        command(polled);
        command(once);
    };
    auto runBoth = [&](std::chrono::nanoseconds time, std::chrono::nanoseconds tick) {
        for (const auto end = polled.now + time; polled.now < end; polled.now += tick)
            polled.get(1);
        once.run(polled.now - once.now);
        QVERIFY(qAbs(polled.get(1) - once.get(1)) <= 1);
        QCOMPARE(polled.get(13), once.get(13));
    };
    both([](Bench& bench) { QCOMPARE(bench.set(2, 1500), Ok); });
    runBoth(3s, 10ms);
    both([](Bench& bench) { QCOMPARE(bench.set(2, -800), Ok); });
    runBoth(5s, 7ms);
    both([](Bench& bench) { QCOMPARE(bench.moveTo(0, 0), Ok); });
    runBoth(10s, 3ms);
    QCOMPARE(once.get(1), 0);
}

void TestSim::catchingUpKeepsTheMotion_data()
{
    // Commands as (time [ms], command, type, value); the module that is asked only at the
    // checkpoints must be where the one brought up to time every millisecond is.
    QTest::addColumn<QList<QList<int>>>("script");
    QTest::addColumn<QList<int>>("checkpoints");
    QTest::newRow("slow ramp") << QList<QList<int>>{{0, 5, 11, 50}, {0, 5, 2, 1500}}
                               << QList<int>{10000, 31000, 35000};
    QTest::newRow("long move") << QList<QList<int>>{{0, 5, 4, 300},
                                                    {0, 5, 11, 40},
                                                    {0, 4, 0, 400000}}
                               << QList<int>{5000, 15000, 26000, 30000};
    // I²t exceeded comes and goes between the checkpoints; the current limit changes
    // there, and with it the motion (in a settled PWM run, long after the last command).
    for (int overload : {2600, 3500})
        QTest::addRow("I2t at %d mA", overload)
            << QList<QList<int>>{{0, 5, 155, overload},
                                 {8000, 5, 155, 1000},
                                 {20000, 5, 155, -overload}}
            << QList<int>{1000, 7000, 9000, 10500, 12000, 19000, 25000};
    for (int maxCurrent : {420, 450, 480, 520, 550})
        QTest::addRow("PWM run, max. current lowered to %d mA", maxCurrent)
            << QList<QList<int>>{{0, 5, 154, 500}, {3000, 5, 6, maxCurrent}}
            << QList<int>{3000, 20000};
    QTest::newRow("ramps that draw more than the max. current")
        << QList<QList<int>>{{0, 5, 11, 15000},
                             {0, 5, 4, 6000},
                             {0, 5, 2, 5000},
                             {3000, 5, 2, -5000}}
        << QList<int>{200, 2000, 3300, 4000, 9000};
    // Between 5 s and 7.5 s the motor turns round and runs back over a null mark, while
    // on the whole it has still moved forward.
    QTest::newRow("turning round, clearing on the null channel")
        << QList<QList<int>>{{0, 5, 11, 230}, {0, 5, 2, 610}, {4000, 5, 163, 1}, {4000, 5, 2, -590}}
        << QList<int>{5000, 7500, 12000};
    // Told to clear once, the count restarts at the first null mark, not the last one.
    QTest::newRow("clear once") << QList<QList<int>>{{0, 5, 2, 610},
                                                     {3000, 5, 163, 1},
                                                     {3000, 5, 161, 1}}
                                << QList<int>{3000, 6000};
}

void TestSim::catchingUpKeepsTheMotion()
{
    QFETCH(QList<QList<int>>, script);
    QFETCH(QList<int>, checkpoints);
    Bench stepped;
    Bench caughtUp;
    int next = 0;
    for (int ms = 0; ms <= checkpoints.last(); ++ms) {
        stepped.now = std::chrono::milliseconds(ms);
        caughtUp.now = stepped.now;
        stepped.module.update();
        for (; next < script.size() && script.at(next).at(0) == ms; ++next) {
            const QList<int>& c = script.at(next);
            QCOMPARE(caughtUp.send(c.at(1), c.at(2), c.at(3)).status,
                     stepped.send(c.at(1), c.at(2), c.at(3)).status);
        }
        if (!checkpoints.contains(ms))
            continue;
        const QString at = QStringLiteral("at %1 ms").arg(ms);
        QVERIFY2(qAbs(caughtUp.get(1) - stepped.get(1)) <= 1, qPrintable(at));
        // The PWM, the current loop's output, may round the other way.
        QVERIFY2(qAbs(caughtUp.get(153) - stepped.get(153)) <= 1, qPrintable(at));
        for (int type : {3, 13, 150, 156})
            QVERIFY2(caughtUp.get(type) == stepped.get(type),
                     qPrintable(at + QStringLiteral(", parameter %1").arg(type)));
    }
}

void TestSim::longIdleInTheCurrentLimit()
{
    // Above the max. current: I²t exceeded comes, the current is held at the max. current,
    // and the module sits there for a thousand hours.
    Bench bench;
    QCOMPARE(bench.set(155, 3000), Ok);
    bench.run(1000h);
    QVERIFY(bench.flags() & MotorModel::I2tExceededBit);
    QVERIFY(qAbs(bench.get(150) - 2000) < 50);
    QVERIFY(qAbs(bench.get(3) - 7800) < 50); // where the max. current holds the load

    // The I²t sum stayed at its limit, so it runs down as after any short overload.
    QCOMPARE(bench.set(155, 0), Ok);
    const auto recovered =
        bench.runUntil([&] { return !(bench.flags() & MotorModel::I2tExceededBit); }, 60s);
    QVERIFY2(recovered >= 1s && recovered <= 4s, qPrintable(QString::number(seconds(recovered))));
}

void TestSim::relativeAndAbsoluteMoves()
{
    Bench bench;
    QCOMPARE(bench.set(2, 300), Ok);
    bench.run(3s);
    QCOMPARE(bench.set(2, 0), Ok);
    bench.run(1s);
    const qint32 start = bench.get(1);
    QVERIFY(start > 0);

    // 100000 steps at 1000 rpm/s (68267 steps/s²) never reach 2000 rpm: a triangle of
    // about 2.42 s.
    const Answer answer = bench.send(4, 1, 100000);
    QCOMPARE(answer.status, Ok);
    QCOMPARE(answer.value, 100000);
    bench.run(100ms);
    QVERIFY(bench.flags() & MotorModel::PositionModeBit);
    QVERIFY(!(bench.flags() & MotorModel::PositionEndBit));
    const auto took =
        bench.runUntil([&] { return bool(bench.flags() & MotorModel::PositionEndBit); }, 10s);
    QVERIFY2(took >= 2200ms && took <= 2600ms, qPrintable(QString::number(seconds(took))));
    // The position loop takes the last steps once the profile has arrived.
    bench.run(500ms);
    QCOMPARE(bench.get(1), start + 100000);
    QVERIFY(bench.flags() & MotorModel::MotorHaltedBit);
    QCOMPARE(bench.get(3), 0);

    // Moves in a row add up; an absolute move goes where it is told.
    QCOMPARE(bench.moveTo(1, -30000), Ok);
    bench.run(5s);
    QCOMPARE(bench.get(1), start + 70000);
    QCOMPARE(bench.moveTo(0, -5000), Ok);
    bench.run(5s);
    QCOMPARE(bench.get(1), -5000);
    QVERIFY(bench.flags() & MotorModel::PositionEndBit);

    // A move past the end of the 32-bit count is refused.
    QCOMPARE(bench.moveTo(0, 2147483647), Ok);
    QCOMPARE(bench.moveTo(1, 1), int(vokt::StatusInvalidValue));
    QCOMPARE(bench.get(0), 2147483647);
}

void TestSim::modeBitsFollowTheLastCommand()
{
    Bench bench;
    QCOMPARE(bench.flags() & ModeBits, quint32(MotorModel::VelocityModeBit));
    QVERIFY(bench.flags() & MotorModel::MotorHaltedBit);

    QCOMPARE(bench.set(154, 200), Ok);
    bench.run(50ms);
    QCOMPARE(bench.flags() & ModeBits, quint32(MotorModel::PwmModeBit));
    QCOMPARE(bench.get(153), 200);
    QVERIFY(bench.get(3) > 0);

    QCOMPARE(bench.set(155, -300), Ok);
    QCOMPARE(bench.flags() & ModeBits, quint32(MotorModel::TorqueModeBit));
    QCOMPARE(bench.moveTo(0, 0), Ok);
    QCOMPARE(bench.flags() & ModeBits, quint32(MotorModel::PositionModeBit));
    QCOMPARE(bench.set(2, 0), Ok);
    QCOMPARE(bench.flags() & ModeBits, quint32(MotorModel::VelocityModeBit));

    // A refused write changes no mode.
    QCOMPARE(bench.set(154, 5000), int(vokt::StatusInvalidValue));
    QCOMPARE(bench.flags() & ModeBits, quint32(MotorModel::VelocityModeBit));
}

void TestSim::torqueModeAndI2t()
{
    Bench bench;
    // Max. current 2000 mA: 3000 mA may flow for a while, then the limit drops to 2000.
    QCOMPARE(bench.set(155, 3000), Ok);
    bench.run(1s);
    QVERIFY(qAbs(bench.get(150) - 3000) < 150);
    QVERIFY(bench.get(3) > 1000);
    QVERIFY(!(bench.flags() & MotorModel::I2tExceededBit));
    const auto exceeded =
        bench.runUntil([&] { return bool(bench.flags() & MotorModel::I2tExceededBit); }, 5s);
    QVERIFY(exceeded < 2s);
    bench.run(100ms);
    QVERIFY(qAbs(bench.get(150) - 2000) < 100);

    // Without current the integral runs down and the flag goes out.
    QCOMPARE(bench.set(155, 0), Ok);
    bench.runUntil([&] { return !(bench.flags() & MotorModel::I2tExceededBit); }, 10s);
    QVERIFY(!(bench.flags() & MotorModel::I2tExceededBit));
    QCOMPARE(bench.get(150), 0);

    // The max. current itself may flow for ever.
    QCOMPARE(bench.set(155, -2000), Ok);
    bench.run(20s);
    QVERIFY(!(bench.flags() & MotorModel::I2tExceededBit));
    QVERIFY(bench.get(3) < -1000);
}

void TestSim::clearingThePosition()
{
    Bench bench;
    // "Clear" at the end of a move: the count restarts at 0 and the motor stays.
    QCOMPARE(bench.moveTo(0, 10000), Ok);
    bench.run(3s);
    QCOMPARE(bench.get(1), 10000);
    const Answer cleared = bench.send(5, 1, 0);
    QCOMPARE(cleared.status, Ok);
    QCOMPARE(cleared.value, 0);
    bench.run(1s);
    QCOMPARE(bench.get(1), 0);
    QCOMPARE(bench.get(3), 0);
    QVERIFY(bench.flags() & MotorModel::PositionEndBit);

    // "Clear on NULL": 163, then 161; at 600 rpm the null channel (every 4096 steps)
    // comes within 0.1 s, and clears the count once.
    QCOMPARE(bench.set(2, 600), Ok);
    bench.run(1s);
    QVERIFY(bench.get(1) > 4096);
    QCOMPARE(bench.set(163, 1), Ok);
    QCOMPARE(bench.set(161, 1), Ok);
    bench.run(50ms);
    bench.runUntil([&] { return bench.get(161) == 0; }, 1s);
    QCOMPARE(bench.get(161), 0);
    QCOMPARE(bench.get(163), 0);
    QVERIFY(bench.get(1) >= 0 && bench.get(1) < 4096);
    bench.run(1s);
    QVERIFY(bench.get(1) > 4096);

    // A new sine initialisation reports done half a second later.
    QCOMPARE(bench.set(160, 0), Ok);
    QCOMPARE(bench.get(160), 0);
    bench.run(600ms);
    QCOMPARE(bench.get(160), 1);
}

void TestSim::noiseIsDeterministicButAlive()
{
    Bench first;
    Bench second;
    QList<qint32> readings[2];
    int index = 0;
    for (Bench* bench : {&first, &second}) {
        QCOMPARE(bench->set(2, 1000), Ok);
        bench->run(2s);
        for (int i = 0; i < 50; ++i) {
            bench->run(20ms);
            readings[index] << bench->get(3) << bench->get(150);
        }
        ++index;
    }
    QCOMPARE(readings[0], readings[1]);
    QSet<qint32> velocities;
    for (int i = 0; i < readings[0].size(); i += 2) {
        velocities << readings[0][i];
        QVERIFY(qAbs(readings[0][i] - 1000) <= 5);
    }
    QVERIFY(velocities.size() > 3);
}

void TestSim::globalParametersAndIo()
{
    Bench bench;
    QCOMPARE(bench.send(10, 0).value, 1);
    QCOMPARE(bench.send(10, 1).value, 2);
    QCOMPARE(bench.send(10, 200).status, int(vokt::StatusWrongType));
    QCOMPARE(bench.send(10, 0, 0, 1).status, int(vokt::StatusWrongMotorBank));

    // Outputs (bank 2) are set and read back; inputs (banks 0, 1) only read.
    Answer answer = bench.send(14, 1, 1, 2);
    QCOMPARE(answer.status, Ok);
    QCOMPARE(answer.value, 1);
    QCOMPARE(bench.send(15, 1, 0, 2).value, 1);
    QCOMPARE(bench.send(14, 1, 7, 2).status, int(vokt::StatusInvalidValue));
    QCOMPARE(bench.send(15, 1, 0, 2).value, 1);
    QCOMPARE(bench.send(14, 0, 1, 0).status, int(vokt::StatusReadOnly));
    QCOMPARE(bench.send(15, 9, 0, 2).status, int(vokt::StatusWrongType));
    answer = bench.send(15, 0, 0, 1);
    QCOMPARE(answer.status, Ok);
    QVERIFY(answer.value > 200 && answer.value < 260);
}

// Through the tool's own serial device and handler, on the pseudo-terminal.

namespace {

struct Link
{
    explicit Link(ServedModule& served) : device(served.portName(), QStringLiteral("Simulated"))
    {
        handler.setDevice(&device);
    }
    LogCapture log;
    SerialUSBDevice device;
    SerialUSBCommandHandler handler;
};

} // namespace

void TestSim::servedRefreshThroughHandler()
{
    ServedModule served;
    QString error;
    QVERIFY2(served.start(&error), qPrintable(error));
    QVERIFY(served.isRunning());
    Link link(served);
    QVERIFY(link.handler.open());
    QSignalSpy answers(&link.handler, &SerialUSBCommandHandler::requestedValue);

    // Every number the tool reads or writes.
    const QList<int> catalogue = {253, 6,   177, 240, 239, 250, 251, 249, 241, 165, 254, 14,
                                  4,   11,  146, 7,   10,  168, 169, 170, 171, 172, 173, 174,
                                  175, 176, 140, 141, 142, 143, 234, 235, 236, 237, 8,   130,
                                  131, 132, 135, 230, 231, 232, 233, 12,  159, 160, 0,   1,
                                  2,   3,   13,  150, 153, 154, 155, 156, 161, 163};
    for (int type : catalogue)
        link.handler.getAxisParameter(0, char(type));
    QCOMPARE(answers.size(), catalogue.size());
    QMap<int, qint32> values;
    for (int i = 0; i < catalogue.size(); ++i) {
        QCOMPARE(int(quint8(answers.at(i).at(1).value<char>())), catalogue.at(i));
        values[catalogue.at(i)] = answers.at(i).at(2).toInt();
        qint32 held = 0;
        served.withModule(
            [&](SimulatedModule& module) { held = module.axisParameter(catalogue.at(i)); });
        QCOMPARE(values[catalogue.at(i)], held);
    }
    QCOMPARE(values[253], 8);
    QCOMPARE(values[6], 2000);
    QCOMPARE(values[250], 4096);
    QCOMPARE(values[4], 2000);
    QCOMPARE(values[11], 1000);
    QCOMPARE(values[146], 1);
    QCOMPARE(values[159], 3);
    QCOMPARE(values[156] & int(ModeBits), int(MotorModel::VelocityModeBit));

    // A write comes back as the value taken, and the module holds it.
    link.handler.setAxisParameter(0, char(6), 1200);
    QCOMPARE(answers.last().at(2).toInt(), 1200);
    served.withModule([](SimulatedModule& module) { QCOMPARE(module.axisParameter(6), 1200); });
    QVERIFY(
        !link.log.contains(QStringLiteral("SerialUSBCommandHandler: communicationTimeouted! ")));

    served.stop();
    QVERIFY(!served.isRunning());
}

void TestSim::servedPacingAt9600Baud()
{
    ServedModule served;
    QVERIFY(served.start());
    served.peer().setBaudRate(9600);
    Link link(served);
    QVERIFY(link.handler.open());
    QSignalSpy answers(&link.handler, &SerialUSBCommandHandler::requestedValue);

    // 18 bytes of 10 bits at 9600 baud: 18.75 ms an exchange.
    constexpr int Exchanges = 10;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < Exchanges; ++i)
        link.handler.getAxisParameter(0, char(4));
    const double perExchange = double(timer.elapsed()) / Exchanges;
    QCOMPARE(answers.size(), Exchanges);
    QVERIFY2(perExchange >= 12 && perExchange <= 60, qPrintable(QString::number(perExchange)));
}

void TestSim::servedSilentForOtherAddress()
{
    ServedModule served;
    QVERIFY(served.start());
    Link link(served);
    QVERIFY(link.handler.open());
    QSignalSpy answers(&link.handler, &SerialUSBCommandHandler::requestedValue);

    link.handler.setModuleAddress(2);
    link.handler.getAxisParameter(0, char(6));
    QCOMPARE(answers.size(), 0);
    QVERIFY(served.peer().waitForRequests(1, 1000));
    QVERIFY(link.log.contains(QStringLiteral("SerialUSBCommandHandler: communicationTimeouted! ")));
}

void TestSim::servedDropsBrokenFrame()
{
    ServedModule served;
    QVERIFY(served.start());
    Link link(served);
    QVERIFY(link.handler.open());
    QSignalSpy answers(&link.handler, &SerialUSBCommandHandler::requestedValue);

    // Half a frame, then nothing: the module forgets it, and the next request is whole.
    link.device.write(QByteArray::fromHex("01050600"));
    QTest::qWait(3 * ServedModule::FrameTimeoutMs);
    link.handler.getAxisParameter(0, char(6));
    QCOMPARE(answers.size(), 1);
    QCOMPARE(answers.at(0).at(2).toInt(), 2000);
    QCOMPARE(served.peer().requestCount(), 1);
}

void TestSim::commandServesOnALink()
{
    QProcess help;
    help.start(QStringLiteral(ZIRO_SIM_COMMAND), {QStringLiteral("--help")});
    QVERIFY(help.waitForFinished(10000));
    QCOMPARE(help.exitCode(), 0);
    QVERIFY(help.readAllStandardOutput().contains("--link"));

    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ziro"));
    QProcess sim;
    sim.start(QStringLiteral(ZIRO_SIM_COMMAND),
              {QStringLiteral("--link"), link, QStringLiteral("--address"), QStringLiteral("3")});
    QVERIFY(sim.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), 10000);
    const QString port = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QVERIFY2(port.startsWith(QStringLiteral("/dev/pts/")), qPrintable(port));
    QCOMPARE(QFileInfo(link).symLinkTarget(), port);

    // A tool that opens the link and talks to address 3 gets the module's answers.
    LogCapture quiet;
    SerialUSBDevice device(link, QString());
    SerialUSBCommandHandler handler;
    handler.setDevice(&device);
    handler.setModuleAddress(3);
    QVERIFY(handler.open());
    QSignalSpy values(&handler, &SerialUSBCommandHandler::requestedValue);
    handler.getAxisParameter(0, char(253));
    QCOMPARE(values.count(), 1);
    QCOMPARE(values.first().at(2).toInt(), SimulatedModule::parameterInfo(253).defaultValue);
    handler.close();

    sim.terminate();
    QVERIFY(sim.waitForFinished(10000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestSim::commandEndsWhileNobodyReads_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestSim::commandEndsWhileNobodyReads()
{
    QFETCH(int, signal);
    // A tool writes thousands of requests and never reads a reply: the line back fills up.
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("received.log"));
    QProcess sim;
    sim.start(QStringLiteral(ZIRO_SIM_COMMAND), {QStringLiteral("--log"), log});
    QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), 10000);
    const QByteArray port = sim.readLine().trimmed();
    const int fd = ::open(port.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    constexpr int Requests = 8000;
    QByteArray requests;
    for (int i = 0; i < Requests; ++i)
        requests += VOKTRequest(1, 6, 4, 0, 0).toWire();
    qsizetype written = 0;
    QElapsedTimer timer;
    timer.start();
    while (written < requests.size() && timer.elapsed() < 10000) {
        const ssize_t n = ::write(fd, requests.constData() + written,
                                  static_cast<size_t>(requests.size() - written));
        if (n > 0)
            written += n;
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
        pollfd room{fd, POLLOUT, 0};
        ::poll(&room, 1, 100);
    }
    QCOMPARE(written, requests.size());
    // Every request reached the module: it kept taking them in although no reply found room.
    const qint64 logged = Requests * qint64(sizeof "01 06 04 00 00 00 00 00 0b");
    QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(log).size(), logged, 20000);

    timer.restart();
    ::kill(static_cast<pid_t>(sim.processId()), signal);
    QVERIFY(sim.waitForFinished(10000));
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    ::close(fd);
}

void TestSim::commandReportsALogItCannotWrite()
{
    QProcess sim;
    sim.start(QStringLiteral(ZIRO_SIM_COMMAND),
              {QStringLiteral("--log"), QStringLiteral("/dev/full")});
    QVERIFY(sim.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), 10000);
    const QString port = QString::fromLocal8Bit(sim.readLine()).trimmed();

    // The module answers whatever becomes of its log; the failure is told once.
    LogCapture quiet;
    SerialUSBDevice device(port, QString());
    SerialUSBCommandHandler handler;
    handler.setDevice(&device);
    QVERIFY(handler.open());
    QSignalSpy values(&handler, &SerialUSBCommandHandler::requestedValue);
    for (int type : {253, 6, 4})
        handler.getAxisParameter(0, char(type));
    QCOMPARE(values.count(), 3);
    handler.close();

    sim.terminate();
    QVERIFY(sim.waitForFinished(10000));
    QCOMPARE(sim.exitCode(), 0);
    const QString errors = QString::fromLocal8Bit(sim.readAllStandardError());
    QCOMPARE(errors.count(QStringLiteral("cannot write the log /dev/full: ")), 1);
}

QTEST_GUILESS_MAIN(TestSim)
#include "test_sim.moc"

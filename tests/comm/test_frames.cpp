#include "comm/DebugLine.h"
#include "comm/TraceCommand.h"
#include "comm/VOKTRequest.h"
#include "comm/VOKTUSBReply.h"
#include "support/LogCapture.h"

#include <QtTest>

class TestFrames : public QObject
{
    Q_OBJECT

private slots:
    void requestWireBytes_data();
    void requestWireBytes();
    void requestDebugTexts();
    void requestChecksumFollowsSetters();
    void replyDecoding();
    void replyAcceptance();
    void replyDebugTexts();
    void traceCommandText();
    void debugLineComposition();
};

static QByteArray hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

void TestFrames::requestWireBytes_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("motorBank");
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("set 4 to 1000") << 5 << 4 << 0 << 1000 << hex("01 05 04 00 00 00 03 E8 F5");
    QTest::newRow("set max current 2000")
        << 5 << 6 << 0 << 2000 << hex("01 05 06 00 00 00 07 D0 E3");
    QTest::newRow("get 4") << 6 << 4 << 0 << 0 << hex("01 06 04 00 00 00 00 00 0B");
    QTest::newRow("all zero but address") << 0 << 0 << 0 << 0 << hex("01 00 00 00 00 00 00 00 01");
    QTest::newRow("minus one") << 5 << 2 << 0 << -1 << hex("01 05 02 00 FF FF FF FF 04");
    QTest::newRow("checksum wraps") << 5 << 255 << 0 << 0xFF << hex("01 05 FF 00 00 00 00 FF 04");
    // Numbers of 128 and more travel through signals as negative chars: same byte.
    QTest::newRow("type 200 as char")
        << 5 << int(char(200)) << int(char(146)) << 1 << hex("01 05 C8 92 00 00 00 01 61");
}

void TestFrames::requestWireBytes()
{
    QFETCH(int, command);
    QFETCH(int, type);
    QFETCH(int, motorBank);
    QFETCH(int, value);
    QFETCH(QByteArray, wire);
    const VOKTRequest request(1, quint8(command), quint8(type), quint8(motorBank), value);
    QCOMPARE(request.toWire().toHex(' '), wire.toHex(' '));
    QCOMPARE(request.checksum(), quint8(wire.at(8)));
}

void TestFrames::requestDebugTexts()
{
    const VOKTRequest request(1, 5, 4, 0, 1000);
    QCOMPARE(request.toString(), QString("VOKTRequest[1, 5, 4, 0, 232, 245]"));
    QCOMPARE(request.toByteString(),
             QString("VOKTRequest[0x001, 0x005, 0x004, 0x000, 0x232, 0x003, 0x000, 0x000, 0x245]"));

    // Only the value's low byte stands in the decoded text; the byte list is in memory order.
    const VOKTRequest big(1, 5, 11, 0, 256);
    QCOMPARE(big.toString(), QString("VOKTRequest[1, 5, 11, 0, 0, 18]"));
    QCOMPARE(big.toByteString(),
             QString("VOKTRequest[0x001, 0x005, 0x011, 0x000, 0x000, 0x001, 0x000, 0x000, 0x018]"));
}

void TestFrames::requestChecksumFollowsSetters()
{
    VOKTRequest request(1, 6, 4, 0, 0);
    request.setCommand(5);
    request.setValue(1000);
    QCOMPARE(request.checksum(), quint8(0x0B)); // not recomputed yet
    request.updateChecksum();
    QCOMPARE(request.toWire(), hex("01 05 04 00 00 00 03 E8 F5"));
}

void TestFrames::replyDecoding()
{
    const VOKTUSBReply reply(hex("02 01 64 06 FF FF FF FE 69"));
    QCOMPARE(reply.replyAddress(), quint8(2));
    QCOMPARE(reply.moduleAddress(), quint8(1));
    QCOMPARE(reply.status(), quint8(100));
    QCOMPARE(reply.command(), quint8(6));
    QCOMPARE(reply.value(), -2);
    QCOMPARE(reply.checksum(), quint8(0x69));

    QCOMPARE(VOKTUSBReply(hex("02 01 64 06 00 00 03 E8 58")).value(), 1000);
    QCOMPARE(VOKTUSBReply(hex("02 01 64 06 80 00 00 00 ED")).value(), int(0x80000000));
}

void TestFrames::replyAcceptance()
{
    const QByteArray good = hex("02 01 64 06 00 00 03 E8 58");
    QVERIFY(VOKTUSBReply::hasValidAddress(good));
    QVERIFY(VOKTUSBReply::hasValidChecksum(good));

    QByteArray badSum = good;
    badSum[8] = char(0x59);
    QVERIFY(VOKTUSBReply::hasValidAddress(badSum));
    QVERIFY(!VOKTUSBReply::hasValidChecksum(badSum));

    QByteArray highAddress = good;
    highAddress[0] = char(0x80);
    QVERIFY(!VOKTUSBReply::hasValidAddress(highAddress));
    highAddress[0] = char(0xFF);
    QVERIFY(!VOKTUSBReply::hasValidAddress(highAddress));
    QVERIFY(!VOKTUSBReply::hasValidChecksum(good.left(8)));
}

void TestFrames::replyDebugTexts()
{
    const VOKTUSBReply reply(hex("02 01 64 06 FF FF FF FE 69"));
    QCOMPARE(reply.toString(), QString("VOKTUSBReply[2, 1, 100, 6, -2, 105]"));
    QCOMPARE(
        reply.toByteString(),
        QString("VOKTUSBReply[0x002, 0x001, 0x100, 0x006, 0x254, 0x255, 0x255, 0x255, 0x105]"));
}

void TestFrames::traceCommandText()
{
    QCOMPARE(TraceCommand(6, 4, 0).toString(), QString("TraceCommand(6, 4, 0)"));
    QCOMPARE(TraceCommand(6, 156, 0).toString(), QString("TraceCommand(6, 156, 0)"));
    QCOMPARE(TraceCommand(qint8(-56), 200, 1).toString(), QString("TraceCommand(-56, 200, 1)"));
    QVERIFY(TraceCommand(6, 3, 0).sameAs(TraceCommand(6, 3, 0)));
    QVERIFY(!TraceCommand(6, 3, 0).sameAs(TraceCommand(6, 3, 1)));
}

void TestFrames::debugLineComposition()
{
    LogCapture log;
    DebugLine() << "baudrate: " << 9600 << "   address: " << 1;
    DebugLine() << "TraceCommand: " << QString::number(6) << ", " << QString::number(3);
    DebugLine() << "could not send data: is device opened?";
    QCOMPARE(log.lines(),
             QStringList({"baudrate:  9600    address:  1 ", "TraceCommand:  \"6\" ,  \"3\" ",
                          "could not send data: is device opened? "}));
}

int runFrameTests(int argc, char** argv)
{
    TestFrames test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_frames.moc"

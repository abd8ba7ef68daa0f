#include "comm/SerialUSBDevice.h"
#include "sim/PtyPeer.h"
#include "support/LogCapture.h"
#include "support/StdoutCapture.h"

#include <QElapsedTimer>
#include <QtTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Polls bytesAvailable() without an event loop, as the handler does, until it reports at
// least `count` bytes (or the line's end, -1) or two seconds pass.
qint64 waitForAvailable(SerialUSBDevice& device, qint64 count)
{
    QElapsedTimer timer;
    timer.start();
    qint64 available = device.bytesAvailable();
    while (available >= 0 && available < count && timer.elapsed() < 2000) {
        device.waitForInput(10);
        available = device.bytesAvailable();
    }
    return available;
}

termios lineSettings(const QString& path)
{
    termios tio{};
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        ::tcgetattr(fd, &tio);
        ::close(fd);
    }
    return tio;
}

bool setLineSettings(const QString& path, speed_t speed, tcflag_t cflags)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    tio.c_iflag |= IXON | IXOFF;
    tio.c_cflag = (tio.c_cflag & ~(CSTOPB | CRTSCTS)) | cflags;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    const bool ok = ::tcsetattr(fd, TCSANOW, &tio) == 0;
    ::close(fd);
    return ok;
}

} // namespace

class TestDevice : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void lifecycle();
    void failedOpenGivesTheReason_data();
    void failedOpenGivesTheReason();
    void serialPathLineSettings();
    void usbPathKeepsPortSettings();
    void readsWithoutEventLoop();
    void inputIsBoundedAndNothingIsLost();
    void lostPortReportsMinusOne();

private:
    PtyPeer* m_peer = nullptr;
};

void TestDevice::init()
{
    m_peer = new PtyPeer;
    QString error;
    QVERIFY2(m_peer->start(&error), qPrintable(error));
}

void TestDevice::cleanup()
{
    delete m_peer;
    m_peer = nullptr;
}

void TestDevice::lifecycle()
{
    SerialUSBDevice device(m_peer->portName(), QStringLiteral("Simulated"));
    QCOMPARE(device.portName(), m_peer->portName());
    QCOMPARE(device.description(), QStringLiteral("Simulated"));
    QCOMPARE(device.bytesAvailable(), qint64(0));
    QVERIFY(!device.open(QIODevice::NotOpen));
    QVERIFY(!device.isPortOpen());
    QCOMPARE(device.readData(nullptr, 0), qint64(0));

    QVERIFY(device.open(QIODevice::ReadWrite));
    QVERIFY(device.isPortOpen());
    QCOMPARE(device.bytesAvailable(), qint64(0));
    const QByteArray frame = QByteArray::fromHex("010604000000000B0B");
    QCOMPARE(device.write(frame), qint64(frame.size()));
    QVERIFY(m_peer->waitForRequests(1, 2000));
    QCOMPARE(m_peer->requests().first(), frame);

    device.close();
    QVERIFY(!device.isPortOpen());
    QCOMPARE(device.bytesAvailable(), qint64(-1));
    QCOMPARE(device.write(frame), qint64(0));
    // A released port is not taken again: the device says open, the port stays closed.
    QVERIFY(device.open(QIODevice::ReadWrite));
    QVERIFY(!device.isPortOpen());
    QCOMPARE(device.bytesAvailable(), qint64(-1));
}

void TestDevice::failedOpenGivesTheReason_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("no such port") << QStringLiteral("ttyNOSUCHPORT99");
    QTest::newRow("not a serial device") << QStringLiteral("/dev/null");
    QTest::newRow("busy") << QString(); // the peer's port, held by another device
}

void TestDevice::failedOpenGivesTheReason()
{
    QFETCH(QString, name);
    SerialUSBDevice holder(m_peer->portName(), QString());
    if (name.isEmpty()) {
        QVERIFY(holder.open(QIODevice::ReadWrite));
        name = m_peer->portName();
    }
    SerialUSBDevice device(name, QString());
    StdoutCapture out;
    LogCapture log;
    QVERIFY(!device.open(QIODevice::ReadWrite));
    // The reason is the caller's to report: the device says nothing itself.
    QVERIFY(!device.errorString().isEmpty());
    QVERIFY2(out.text().isEmpty(), out.text().constData());
    QVERIFY2(log.lines().isEmpty(), qPrintable(log.lines().join('\n')));
    QVERIFY(!device.isPortOpen());
    QVERIFY(!device.isOpen());
    QCOMPARE(device.bytesAvailable(), qint64(0));
}

void TestDevice::serialPathLineSettings()
{
    QVERIFY(setLineSettings(m_peer->portName(), B1200, CSTOPB | CRTSCTS));
    SerialUSBDevice device(m_peer->portName(), QString());
    device.setBaudRate(57600);
    QVERIFY(device.open(QIODevice::ReadWrite));
    const termios tio = lineSettings(m_peer->portName());
    QCOMPARE(::cfgetospeed(&tio), speed_t(B57600));
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(tio.c_iflag & (IXON | IXOFF), tcflag_t(0));
}

void TestDevice::usbPathKeepsPortSettings()
{
    // A pty always reports 8 data bits without parity, but keeps speed, stop bits and
    // hardware flow control: enough to see that the port's own settings stay.
    QVERIFY(setLineSettings(m_peer->portName(), B38400, CSTOPB | CRTSCTS));
    SerialUSBDevice device(m_peer->portName(), QStringLiteral("Virtual"));
    QVERIFY(device.open(QIODevice::ReadWrite));
    const termios tio = lineSettings(m_peer->portName());
    QCOMPARE(::cfgetospeed(&tio), speed_t(B38400));
    QCOMPARE(tio.c_cflag & (CSTOPB | CRTSCTS), tcflag_t(CSTOPB | CRTSCTS));
    // Software flow control is switched off whatever the port had.
    QCOMPARE(tio.c_iflag & (IXON | IXOFF), tcflag_t(0));
}

void TestDevice::readsWithoutEventLoop()
{
    SerialUSBDevice device(m_peer->portName(), QString());
    QVERIFY(device.open(QIODevice::ReadWrite));
    m_peer->send(QByteArray("\x01\x02\x03\x04\x05", 5));
    QCOMPARE(waitForAvailable(device, 5), qint64(5));
    m_peer->send(QByteArray("\x06\x07\x08\x09", 4));
    QCOMPARE(waitForAvailable(device, 9), qint64(9));

    char buffer[16] = {};
    QCOMPARE(device.peekData(buffer, 16), qint64(9));
    QCOMPARE(QByteArray(buffer, 9), QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08\x09", 9));
    QCOMPARE(device.readData(buffer, 4), qint64(4));
    QCOMPARE(QByteArray(buffer, 4), QByteArray("\x01\x02\x03\x04", 4));
    QCOMPARE(device.bytesAvailable(), qint64(5));
    QCOMPARE(device.discardInput(), qint64(5));
    QCOMPARE(device.bytesAvailable(), qint64(0));
    QCOMPARE(device.readData(buffer, 9), qint64(0));
}

void TestDevice::inputIsBoundedAndNothingIsLost()
{
    // Five times what the device holds at most, sent while it reads, twice its limit ahead
    // of it: the rest waits in the line until the device has room, in order.
    SerialUSBDevice device(m_peer->portName(), QString());
    QVERIFY(device.open(QIODevice::ReadWrite));
    QByteArray sent;
    for (int i = 0; i < 5 * SerialUSBDevice::InputLimit; ++i)
        sent.append(static_cast<char>(i % 251));
    qsizetype out = 0;
    QByteArray received;
    QByteArray buffer(1000, '\0');
    QElapsedTimer timer;
    timer.start();
    while (received.size() < sent.size() && timer.elapsed() < 5000) {
        while (out < sent.size() && out - received.size() < 2 * SerialUSBDevice::InputLimit) {
            m_peer->send(sent.mid(out, 1024));
            out += 1024;
        }
        const qint64 waiting = device.bytesAvailable();
        QVERIFY2(waiting <= SerialUSBDevice::InputLimit, qPrintable(QString::number(waiting)));
        if (waiting > 0)
            received.append(buffer.constData(), device.readData(buffer.data(), buffer.size()));
        else
            device.waitForInput(10);
    }
    QCOMPARE(received.size(), sent.size());
    QCOMPARE(received, sent);
}

void TestDevice::lostPortReportsMinusOne()
{
    SerialUSBDevice device(m_peer->portName(), QString());
    QVERIFY(device.open(QIODevice::ReadWrite));
    QCOMPARE(device.bytesAvailable(), qint64(0));
    m_peer->stop(); // the other end goes away, as a USB adapter pulled out
    QCOMPARE(waitForAvailable(device, 1), qint64(-1));
    QVERIFY(device.isPortOpen());
}

int runDeviceTests(int argc, char** argv)
{
    TestDevice test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_device.moc"

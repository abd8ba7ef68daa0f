#include "comm/LinkController.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/SerialUSBDevice.h"
#include "sim/PtyPeer.h"
#include "support/LogCapture.h"

#include <QPointer>
#include <QtTest>

#include <memory>

class TestLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void openReplaceAndReconnect();
    void whyTheLinkIsNotOpen();
    void goingAwayDetachesTheDevice();

private:
    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<PtyPeer> m_peer;
};

void TestLink::init()
{
    m_log = std::make_unique<LogCapture>();
    m_peer = std::make_unique<PtyPeer>();
    QVERIFY(m_peer->start());
    m_peer->setResponder(PtyPeer::answeringWith(1000));
}

void TestLink::cleanup()
{
    m_peer.reset();
    m_log.reset();
}

void TestLink::openReplaceAndReconnect()
{
    SerialUSBCommandHandler handler;
    LinkController link(handler);
    QVERIFY(!link.hasRequest());
    QVERIFY(!link.reconnect());

    QVERIFY(link.open({m_peer->portName(), QStringLiteral("Virtual"), 0, 5, 1}));
    QVERIFY(link.isOpen());
    QCOMPARE(handler.device(), link.device());
    QCOMPARE(handler.description(), QStringLiteral("Virtual"));
    QCOMPARE(handler.moduleAddress(), 5);
    QVERIFY(!link.device()->isBaudRateSet());
    QVERIFY(handler.exchange(vokt::GetAxisParameter, 4, 0, 0).ok());
    QCOMPARE(quint8(m_peer->requests().last().at(0)), quint8(5));

    // A new link on the same port: the old device is closed and released first.
    QPointer<SerialUSBDevice> first = link.device();
    QVERIFY(link.open({m_peer->portName(), QString(), 57600, 1, 2}));
    QVERIFY(!first);
    QCOMPARE(link.device()->baudRate(), 57600);
    QCOMPARE(handler.moduleAddress(), 1);

    // Closed, then opened again with the same settings on a new device.
    link.close();
    QVERIFY(!link.isOpen());
    QPointer<SerialUSBDevice> second = link.device();
    QVERIFY(second);
    QVERIFY(link.reconnect());
    QVERIFY(!second);
    QVERIFY(link.isOpen());
    QCOMPARE(link.device()->baudRate(), 57600);
    QCOMPARE(link.lastRequest().origin, 2);
    QVERIFY(handler.exchange(vokt::GetAxisParameter, 4, 0, 0).ok());
}

void TestLink::whyTheLinkIsNotOpen()
{
    SerialUSBCommandHandler handler;
    LinkController link(handler);
    QVERIFY(link.closeReason().isEmpty());

    // A port that does not open: the device's reason, and nothing logged by the device.
    QVERIFY(!link.open({QStringLiteral("ttyZIRO-NO-SUCH-PORT"), QString(), 9600, 1, 0}));
    QVERIFY(!link.closeReason().isEmpty());
    QCOMPARE(link.closeReason(), link.device()->errorString());
    QVERIFY(link.hasRequest());
    QVERIFY(m_log->lines().filter(QStringLiteral("could not open")).isEmpty());

    QVERIFY(link.open({m_peer->portName(), QString(), 0, 1, 0}));
    QVERIFY(link.closeReason().isEmpty());
    link.close();
    QCOMPARE(link.closeReason(), LinkController::ClosedByUser);

    // A module that stops answering: the handler's reason.
    QVERIFY(link.reconnect());
    m_peer->setSilent(true);
    QVERIFY(!handler.exchange(vokt::GetAxisParameter, 4, 0, 0).reply);
    QCOMPARE(link.closeReason(),
             SerialUSBCommandHandler::failureText(SerialUSBCommandHandler::Failure::TimedOut));
}

void TestLink::goingAwayDetachesTheDevice()
{
    SerialUSBCommandHandler handler;
    QPointer<SerialUSBDevice> device;
    {
        LinkController link(handler);
        QVERIFY(link.open({m_peer->portName(), QString(), 0, 1, 0}));
        device = link.device();
    }
    QVERIFY(!device);
    QVERIFY(!handler.device());
    QVERIFY(!handler.isOpen());
}

int runLinkTests(int argc, char** argv)
{
    TestLink test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_link.moc"

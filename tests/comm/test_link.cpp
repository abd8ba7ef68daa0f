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
    QCOMPARE(link.state().kind, LinkController::State::Closed);
    // Every change once, with the whole state.
    QStringList changes;
    connect(&link, &LinkController::stateChanged, &link,
            [&changes, &link](const LinkController::State& state) {
                QCOMPARE(&state, &link.state());
                changes << QStringLiteral("%1 %2 %3")
                               .arg(int(state.kind))
                               .arg(state.request.origin)
                               .arg(state.reason);
            });
    const auto change = [](LinkController::State::Kind kind, int origin, const QString& reason) {
        return QStringLiteral("%1 %2 %3").arg(int(kind)).arg(origin).arg(reason);
    };

    // A port that does not open: the device's reason, and nothing logged by the device.
    QVERIFY(!link.open({QStringLiteral("ttyZIRO-NO-SUCH-PORT"), QString(), 9600, 1, 7}));
    QVERIFY(!link.closeReason().isEmpty());
    QCOMPARE(link.closeReason(), link.device()->errorString());
    QVERIFY(link.hasRequest());
    QVERIFY(m_log->lines().filter(QStringLiteral("could not open")).isEmpty());
    QCOMPARE(changes,
             QStringList{change(LinkController::State::OpenFailed, 7, link.closeReason())});
    // Nothing was lost: there is no stop to open it for.
    QString error;
    QVERIFY(!link.reopenForStop(&error));

    changes.clear();
    QVERIFY(link.open({m_peer->portName(), QString(), 0, 1, 2}));
    QVERIFY(link.closeReason().isEmpty());
    link.close();
    link.close();
    QCOMPARE(link.closeReason(), LinkController::ClosedByUser);
    QVERIFY(!link.reopenForStop(&error));
    QCOMPARE(error, QStringLiteral("the link was closed"));

    // A module that stops answering: the handler's reason, told once, however many
    // requests then find the link closed.
    QVERIFY(link.reconnect());
    m_peer->setSilent(true);
    QVERIFY(!handler.exchange(vokt::GetAxisParameter, 4, 0, 0).reply);
    QVERIFY(!handler.exchange(vokt::GetAxisParameter, 4, 0, 0).reply);
    const QString timedOut =
        SerialUSBCommandHandler::failureText(SerialUSBCommandHandler::Failure::TimedOut);
    QCOMPARE(link.closeReason(), timedOut);

    // The port opened for the stop alone, and whatever comes of the stop, the link is lost
    // for the first reason.
    QVERIFY(link.reopenForStop(&error));
    QVERIFY(handler.isOpen());
    QCOMPARE(link.closeReason(), timedOut);
    QVERIFY(!handler.exchange(vokt::SetAxisParameter, 2, 0, 0).reply);
    QVERIFY(link.reopenForStop(&error));
    m_peer->setSilent(false);
    QVERIFY(handler.exchange(vokt::SetAxisParameter, 2, 0, 0).ok());
    link.endStopOnly();
    QVERIFY(!handler.isOpen());
    QCOMPARE(link.closeReason(), timedOut);
    QCOMPARE(changes, (QStringList{change(LinkController::State::Open, 2, QString()),
                                   change(LinkController::State::Closed, 2, link.ClosedByUser),
                                   change(LinkController::State::Open, 2, QString()),
                                   change(LinkController::State::Lost, 2, timedOut),
                                   change(LinkController::State::StopOnly, 2, timedOut),
                                   change(LinkController::State::Lost, 2, timedOut)}));
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

#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/SerialUSBDevice.h"
#include "comm/VOKTRequest.h"
#include "comm/VOKTUSBReply.h"
#include "sim/PtyPeer.h"
#include "support/LogCapture.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// A reply as the module sends it, answering the command of the request.
QByteArray replyTo(const QByteArray& request, qint32 value, quint8 status = 100)
{
    return PtyPeer::replyFrame(2, 1, status, static_cast<quint8>(request.at(1)), value);
}

// The arguments of one emitted signal, with char arguments widened as the byte they carry.
QList<int> args(const QList<QVariant>& emitted)
{
    QList<int> out;
    for (const QVariant& v : emitted)
        out << (v.metaType().id() == QMetaType::Char ? int(qvariant_cast<char>(v)) : v.toInt());
    return out;
}

} // namespace

class TestHandler : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void getAndSetAxisParameter();
    void otherRequests();
    void moduleAddressInEveryFrame();
    void exchangeSaysWhy_data();
    void exchangeSaysWhy();
    void chunkedReply();
    void replyFoundBehindJunk_data();
    void replyFoundBehindJunk();
    void staleInputIsDiscarded();
    void bytesThatAnswerNoRequestSpoilTheBatch_data();
    void bytesThatAnswerNoRequestSpoilTheBatch();
    void lateAnswerIsSwallowed_data();
    void lateAnswerIsSwallowed();
    void noiseKeepsTheDeadline_data();
    void noiseKeepsTheDeadline();
    void floodKeepsTheDeadlineAndBoundsTheInput();
    void timeoutClosesThePort();
    void withoutOpenPort();
    void lostPortClosesTheLink_data();
    void lostPortClosesTheLink();
    void traceListWalk();

private:
    void answerWith(std::function<qint32(const QByteArray&)> value);

    std::unique_ptr<PtyPeer> m_peer;
    std::unique_ptr<SerialUSBDevice> m_device;
    std::unique_ptr<SerialUSBCommandHandler> m_handler;
    std::unique_ptr<LogCapture> m_log;
};

void TestHandler::init()
{
    m_log = std::make_unique<LogCapture>();
    m_peer = std::make_unique<PtyPeer>();
    QString error;
    QVERIFY2(m_peer->start(&error), qPrintable(error));
    m_device = std::make_unique<SerialUSBDevice>(m_peer->portName(), QString());
    m_handler = std::make_unique<SerialUSBCommandHandler>();
    m_handler->setDevice(m_device.get());
    QVERIFY(m_handler->open());
    QVERIFY(m_handler->isOpen());
}

void TestHandler::cleanup()
{
    m_handler.reset();
    m_device.reset();
    m_peer.reset();
    m_log.reset();
}

void TestHandler::answerWith(std::function<qint32(const QByteArray&)> value)
{
    m_peer->setResponder([value](const QByteArray& request) {
        return PtyPeer::answer(replyTo(request, value(request)));
    });
}

void TestHandler::getAndSetAxisParameter()
{
    // The module answers a get with 1000 and takes a set as 1999.
    answerWith([](const QByteArray& request) { return request.at(1) == 6 ? 1000 : 1999; });
    QSignalSpy values(m_handler.get(), &SerialUSBCommandHandler::requestedValue);

    m_handler->getAxisParameter(0, 4);
    QCOMPARE(m_peer->requests().last(), hex("01 06 04 00 00 00 00 00 0B"));
    QCOMPARE(values.count(), 1);
    QCOMPARE(args(values.takeFirst()), QList<int>({0, 4, 1000}));
    QCOMPARE(m_log->lines(),
             QStringList({"VOKTRequest[1, 6, 4, 0, 0, 11] ",
                          "VOKTRequest[0x001, 0x006, 0x004, 0x000, 0x000, 0x000, 0x000, 0x000, "
                          "0x011] ",
                          "VOKTUSBReply[0x002, 0x001, 0x100, 0x006, 0x232, 0x003, 0x000, 0x000, "
                          "0x088] ",
                          "VOKTUSBReply[2, 1, 100, 6, 1000, 88] "}));

    // A set reports the value the module took, not the one sent; 146 travels as -110.
    m_handler->setAxisParameter(0, 6, 2000);
    QCOMPARE(m_peer->requests().last(), hex("01 05 06 00 00 00 07 D0 E3"));
    m_handler->setAxisParameter(0, char(146), -1);
    QCOMPARE(m_peer->requests().last(), hex("01 05 92 00 FF FF FF FF 94"));
    QCOMPARE(values.count(), 2);
    QCOMPARE(args(values.at(0)), QList<int>({0, 6, 1999}));
    QCOMPARE(args(values.at(1)), QList<int>({0, -110, 1999}));

    // Negative values come back whole.
    answerWith([](const QByteArray&) { return -2; });
    m_handler->getAxisParameter(0, 1);
    QCOMPARE(args(values.at(2)), QList<int>({0, 1, -2}));
}

void TestHandler::otherRequests()
{
    answerWith([](const QByteArray& request) { return request.at(1) == 10 ? 300 : 1000; });
    QSignalSpy global(m_handler.get(), &SerialUSBCommandHandler::requestedGlobalParameter);
    QSignalSpy io(m_handler.get(), &SerialUSBCommandHandler::requestedIOValue);
    QSignalSpy result(m_handler.get(), &SerialUSBCommandHandler::requestResult);
    QSignalSpy value(m_handler.get(), &SerialUSBCommandHandler::requestedValue);

    m_handler->getGlobalParameter(65, 2);
    QCOMPARE(m_peer->requests().last(), hex("01 0A 41 02 00 00 00 00 4E"));
    QCOMPARE(args(global.takeFirst()), QList<int>({65, 2, 44})); // 300 cut to its low byte

    m_handler->getIOValue(1, 0);
    QCOMPARE(m_peer->requests().last(), hex("01 0F 01 00 00 00 00 00 11"));
    m_handler->setIOValue(2, 3, 1);
    QCOMPARE(m_peer->requests().last(), hex("01 0E 02 03 00 00 00 01 15"));
    QCOMPARE(io.count(), 2);
    QCOMPARE(args(io.at(0)), QList<int>({1, 0, 1000}));
    QCOMPARE(args(io.at(1)), QList<int>({2, 3, 1000}));

    // A direct request reports the request's motor/bank with the reply's fields.
    m_peer->setResponder(
        [](const QByteArray& request) { return PtyPeer::answer(replyTo(request, 500, 200)); });
    m_handler->doRequest(char(200), 0, 3, 500);
    QCOMPARE(m_peer->requests().last(), hex("01 C8 00 03 00 00 01 F4 C1"));
    QCOMPARE(args(result.takeFirst()), QList<int>({3, char(200), char(200), 500}));

    m_log->clear();
    m_handler->doMove(0, 4, 1, -4096);
    QCOMPARE(m_peer->requests().last(), hex("01 04 01 00 FF FF F0 00 F4"));
    QCOMPARE(m_log->lines().last(), QString("reply:  500 "));
    QCOMPARE(value.count(), 0);
}

void TestHandler::moduleAddressInEveryFrame()
{
    answerWith([](const QByteArray&) { return 7; });
    m_handler->setModuleAddress(5);
    m_handler->getAxisParameter(0, 4);
    QCOMPARE(m_peer->requests().last(), hex("05 06 04 00 00 00 00 00 0F"));
}

void TestHandler::exchangeSaysWhy_data()
{
    // What the line does; what exchange() hands back: the failure, and the reply's status
    // when one came (-1 for none).
    using Failure = SerialUSBCommandHandler::Failure;
    QTest::addColumn<QString>("line");
    QTest::addColumn<Failure>("failure");
    QTest::addColumn<int>("status");
    QTest::newRow("answered") << "answers" << Failure::None << 100;
    QTest::newRow("refused") << "refuses" << Failure::Refused << 3;
    QTest::newRow("a stale reply waits") << "stale" << Failure::LineNotClean << 100;
    QTest::newRow("silent") << "silent" << Failure::TimedOut << -1;
    QTest::newRow("port closed") << "closed" << Failure::LinkLost << -1;
}

void TestHandler::exchangeSaysWhy()
{
    using Failure = SerialUSBCommandHandler::Failure;
    QFETCH(QString, line);
    QFETCH(Failure, failure);
    QFETCH(int, status);
    const quint8 answer = line == QLatin1String("refuses") ? 3 : 100;
    m_peer->setResponder([answer](const QByteArray& request) {
        return PtyPeer::answer(replyTo(request, 1234, answer));
    });
    m_peer->setSilent(line == QLatin1String("silent"));
    if (line == QLatin1String("stale")) {
        m_peer->send(replyTo(hex("01 06 04 00 00 00 00 00 0B"), 99));
        QElapsedTimer timer;
        timer.start();
        while (m_device->bytesAvailable() < 9 && timer.elapsed() < 2000)
            m_device->waitForInput(10);
    }
    if (line == QLatin1String("closed"))
        m_handler->close();

    const SerialUSBCommandHandler::Outcome outcome =
        m_handler->exchange(vokt::GetAxisParameter, 4, 0, 0);
    QCOMPARE(outcome.failure, failure);
    QCOMPARE(outcome.ok(), failure == Failure::None);
    QCOMPARE(m_handler->lastFailure(), failure);
    QCOMPARE(outcome.reply.has_value(), status >= 0);
    if (outcome.reply) {
        QCOMPARE(int(outcome.reply->status()), status);
        QCOMPARE(outcome.reply->value(), 1234);
        QCOMPARE(m_peer->requests().last(), hex("01 06 04 00 00 00 00 00 0B"));
    }

    // The pair of halves takes the same path.
    if (failure == Failure::None) {
        VOKTRequest request(1, vokt::SetAxisParameter, 6, 0, 2000);
        m_handler->sendRequest(&request);
        const std::unique_ptr<VOKTUSBReply> reply(m_handler->receiveReply());
        QVERIFY(reply);
        QCOMPARE(reply->value(), 1234);
        QCOMPARE(m_peer->requests().last(), hex("01 05 06 00 00 00 07 D0 E3"));
    }
}

void TestHandler::chunkedReply()
{
    m_peer->setResponder([](const QByteArray& request) {
        const QByteArray reply = replyTo(request, 1234);
        return QList<PtyPeer::Chunk>{{0, reply.left(5)}, {60, reply.mid(5)}};
    });
    QSignalSpy values(m_handler.get(), &SerialUSBCommandHandler::requestedValue);
    m_handler->getAxisParameter(0, 3);
    QCOMPARE(values.count(), 1);
    QCOMPARE(args(values.first()), QList<int>({0, 3, 1234}));
}

void TestHandler::replyFoundBehindJunk_data()
{
    // Whatever comes before the reply is dropped a byte at a time, however long it is: the
    // reply is found and nothing else is taken for it.
    QTest::addColumn<QByteArray>("junk");
    QByteArray badChecksum = PtyPeer::replyFrame(2, 1, 100, 6, 666);
    badChecksum[8] = char(badChecksum.at(8) + 1);
    QTest::newRow("first byte 0xFF") << PtyPeer::replyFrame(0xFF, 1, 100, 6, 666);
    QTest::newRow("wrong checksum") << badChecksum;
    QTest::newRow("reply to another command") << PtyPeer::replyFrame(2, 1, 100, 5, 666);
    QTest::newRow("half a reply") << PtyPeer::replyFrame(2, 1, 100, 6, 666).left(5);
    QTest::newRow("13 bytes of noise") << hex("00 13 7F 26 06 04 55 AA 01 02 03 80 09");
}

void TestHandler::replyFoundBehindJunk()
{
    QFETCH(QByteArray, junk);
    m_peer->setResponder([junk](const QByteArray& request) {
        return QList<PtyPeer::Chunk>{{0, junk}, {30, replyTo(request, 42)}};
    });
    QSignalSpy values(m_handler.get(), &SerialUSBCommandHandler::requestedValue);
    m_handler->getAxisParameter(0, 4);
    QCOMPARE(values.count(), 1);
    QCOMPARE(args(values.first()), QList<int>({0, 4, 42}));
    QCOMPARE(m_handler->droppedBytes(), quint64(junk.size()));
    QCOMPARE(
        m_log->count(QStringLiteral("SerialUSBCommandHandler: dropped %1 bytes that were no reply ")
                         .arg(junk.size())),
        1);
    QVERIFY(m_handler->isOpen());
}

void TestHandler::staleInputIsDiscarded()
{
    answerWith([](const QByteArray&) { return 222; });
    // A late reply to an earlier request, and a stray byte, wait in the input.
    m_peer->send(PtyPeer::replyFrame(2, 1, 100, 6, 111) + QByteArray(1, '\x05'));
    QElapsedTimer timer;
    timer.start();
    while (m_device->bytesAvailable() < 10 && timer.elapsed() < 2000)
        m_device->waitForInput(10);

    QSignalSpy values(m_handler.get(), &SerialUSBCommandHandler::requestedValue);
    m_handler->getAxisParameter(0, 4);
    QCOMPARE(values.count(), 1);
    QCOMPARE(args(values.first()), QList<int>({0, 4, 222}));
    // Taken, but as an answer that may be an earlier request's.
    QVERIFY(m_log->contains("SerialUSBCommandHandler: 10 bytes arrived that answered no request: "
                            "a late answer, a line echo or a second module at address 1 "));
    QCOMPARE(m_handler->unansweredBytes(), quint64(10));
    QCOMPARE(m_handler->lastFailure(), SerialUSBCommandHandler::Failure::LineNotClean);
    m_handler->getAxisParameter(0, 4);
    QCOMPARE(m_handler->lastFailure(), SerialUSBCommandHandler::Failure::None);
}

void TestHandler::bytesThatAnswerNoRequestSpoilTheBatch_data()
{
    // How the module's end answers each request; whether a batch of gets stays clean, when
    // it ends with a look at the quiet line or (closingRead) with one more read.
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("clean");
    QTest::addColumn<int>("gets");
    QTest::addColumn<bool>("closingRead");
    QTest::newRow("a module that answers once") << "once" << true << 9 << false;
    QTest::newRow("a module that answers twice, the copy 5 ms later")
        << "twice" << false << 9 << false;
    QTest::newRow("two modules at one address") << "two modules" << false << 9 << false;
    QTest::newRow("a line that echoes every request") << "echo" << false << 9 << false;
    // Only the closing look at the line can see the copy of the last answer; a batch that
    // short waits for it even when a read would close it.
    QTest::newRow("one get answered twice, the copy 30 ms later")
        << "late copy" << false << 1 << true;
    // Each copy holds back the next answer, so every get takes the one before's copy and
    // the batch looks right until its end: the closing read's answer comes after the last
    // copy.
    QTest::newRow("every get answered after 8 ms and again 30 ms later, closed by a read")
        << "slow late copy" << false << 9 << true;
    QTest::newRow("every get answered once after 8 ms, closed by a read")
        << "slow" << true << 9 << true;
}

void TestHandler::bytesThatAnswerNoRequestSpoilTheBatch()
{
    QFETCH(QString, line);
    QFETCH(bool, clean);
    QFETCH(int, gets);
    QFETCH(bool, closingRead);
    // Each parameter answers ten times its number, so a value taken for the wrong request
    // shows.
    m_peer->setResponder([line](const QByteArray& request) {
        const QByteArray reply = replyTo(request, quint8(request.at(2)) * 10);
        if (line == QLatin1String("twice"))
            return QList<PtyPeer::Chunk>{{0, reply}, {5, reply}};
        if (line == QLatin1String("late copy"))
            return QList<PtyPeer::Chunk>{{0, reply}, {30, reply}};
        if (line == QLatin1String("slow late copy"))
            return QList<PtyPeer::Chunk>{{8, reply}, {30, reply}};
        if (line == QLatin1String("slow"))
            return QList<PtyPeer::Chunk>{{8, reply}};
        if (line == QLatin1String("two modules"))
            return PtyPeer::answer(reply + reply);
        if (line == QLatin1String("echo"))
            return PtyPeer::answer(request + reply);
        return PtyPeer::answer(reply);
    });
    m_handler->setClosingRead(closingRead);
    QSignalSpy values(m_handler.get(), &SerialUSBCommandHandler::requestedValue);
    SerialUSBCommandHandler::Batch batch(*m_handler);
    const QList<int> types = QList<int>{253, 6, 177, 240, 239, 250, 251, 4, 11}.mid(0, gets);
    for (int type : types)
        m_handler->getAxisParameter(0, char(type));
    QCOMPARE(values.count(), types.size());

    QCOMPARE(batch.isClean(), clean);
    const QStringList said = m_log->lines().filter(QRegularExpression(
        "^SerialUSBCommandHandler: [0-9]+ bytes arrived that answered no request: a late "
        "answer, a line echo or a second module at address 1 $"));
    if (clean) {
        for (int i = 0; i < types.size(); ++i)
            QCOMPARE(args(values.at(i)), QList<int>({0, char(types.at(i)), types.at(i) * 10}));
        QCOMPARE(batch.unansweredBytes(), quint64(0));
        QVERIFY(said.isEmpty());
    } else {
        QVERIFY(batch.unansweredBytes() >= 9);
        QVERIFY(!said.isEmpty());
    }
    // A second look at the line costs nothing: nothing was sent since.
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(m_handler->settleLine(), true);
    QVERIFY(timer.elapsed() < SerialUSBCommandHandler::QuietMs);
}

void TestHandler::lateAnswerIsSwallowed_data()
{
    // The command line waits for the late answer before it closes the port; the window
    // closes at once, and the next open drops what waits in the port.
    QTest::addColumn<bool>("await");
    QTest::newRow("awaited before the port closes") << true;
    QTest::newRow("dropped when the port opens again") << false;
}

void TestHandler::lateAnswerIsSwallowed()
{
    QFETCH(bool, await);
    // The first request is answered 900 ms late (390 ms after the deadline), every later
    // one at once.
    std::atomic<int> requests{0};
    m_peer->setResponder([&requests](const QByteArray& request) {
        const qint32 value = quint8(request.at(2)) * 10;
        if (requests++ == 0)
            return QList<PtyPeer::Chunk>{{900, replyTo(request, value)}};
        return PtyPeer::answer(replyTo(request, value));
    });
    m_handler->setAwaitLateAnswer(await);
    QSignalSpy values(m_handler.get(), &SerialUSBCommandHandler::requestedValue);
    QSignalSpy closed(m_handler.get(), &SerialUSBCommandHandler::deviceClosed);
    QElapsedTimer timer;
    timer.start();
    m_handler->getAxisParameter(0, 6);
    const qint64 took = timer.elapsed();
    QCOMPARE(values.count(), 0);
    QCOMPARE(closed.count(), 1);
    QVERIFY(!m_handler->isOpen());
    QCOMPARE(m_handler->lastFailure(), SerialUSBCommandHandler::Failure::TimedOut);
    QCOMPARE(m_handler->unansweredBytes(), quint64(await ? 9 : 0));
    if (await)
        QVERIFY2(took >= 900 && took < SerialUSBCommandHandler::ReplyTimeoutMs +
                                           SerialUSBCommandHandler::LateAnswerLimitMs + 500,
                 qPrintable(QString::number(took)));

    // The late answer is on the line by now, if the port did not take it.
    QVERIFY(m_peer->waitForAnswered(1, 5000));
    m_device = std::make_unique<SerialUSBDevice>(m_peer->portName(), QString());
    m_handler->setDevice(m_device.get());
    m_log->clear();
    QVERIFY(m_handler->open());
    QCOMPARE(m_log->contains("SerialUSBCommandHandler: discarded 9 stale bytes "), !await);

    SerialUSBCommandHandler::Batch batch(*m_handler);
    m_handler->getAxisParameter(0, 4);
    QCOMPARE(values.count(), 1);
    QCOMPARE(args(values.first()), QList<int>({0, 4, 40}));
    QVERIFY(batch.isClean());
}

void TestHandler::noiseKeepsTheDeadline_data()
{
    // A byte of noise every 5 ms; the reply, if any, comes after replyAfterMs.
    QTest::addColumn<int>("replyAfterMs");
    QTest::newRow("reply after 400 ms of noise") << 400;
    QTest::newRow("noise only") << -1;
}

void TestHandler::noiseKeepsTheDeadline()
{
    QFETCH(int, replyAfterMs);
    m_peer->setResponder([replyAfterMs](const QByteArray& request) {
        QList<PtyPeer::Chunk> chunks;
        const int noiseMs = replyAfterMs < 0 ? 700 : replyAfterMs;
        for (int ms = 0; ms < noiseMs; ms += 5)
            chunks << PtyPeer::Chunk{5, QByteArray(1, '\xFF')};
        if (replyAfterMs >= 0)
            chunks << PtyPeer::Chunk{0, replyTo(request, 7)};
        return chunks;
    });
    QSignalSpy values(m_handler.get(), &SerialUSBCommandHandler::requestedValue);
    QSignalSpy closed(m_handler.get(), &SerialUSBCommandHandler::deviceClosed);
    QElapsedTimer timer;
    timer.start();
    m_handler->getAxisParameter(0, 4);
    const qint64 waited = timer.elapsed();
    if (replyAfterMs >= 0) {
        QCOMPARE(values.count(), 1);
        QCOMPARE(args(values.first()), QList<int>({0, 4, 7}));
        QCOMPARE(closed.count(), 0);
    } else {
        QCOMPARE(values.count(), 0);
        QCOMPARE(closed.count(), 1);
        QVERIFY2(waited >= SerialUSBCommandHandler::ReplyTimeoutMs && waited < 3000,
                 qPrintable(QString::number(waited)));
    }
}

void TestHandler::floodKeepsTheDeadlineAndBoundsTheInput()
{
    // Remembers the most input the device held whenever the handler read from it.
    class WatchedDevice : public SerialUSBDevice
    {
    public:
        using SerialUSBDevice::SerialUSBDevice;
        qint64 most = 0;
        qint64 readData(char* data, qint64 maxSize) override
        {
            most = qMax(most, bytesAvailable());
            return SerialUSBDevice::readData(data, maxSize);
        }
    };
    auto* device = new WatchedDevice(m_peer->portName(), QString());
    m_device.reset(device);
    m_handler->setDevice(device);
    QVERIFY(m_handler->open());

    // A far end that streams bytes that cannot be replies, about 4 MB/s, and never answers.
    m_peer->setSilent(true);
    std::atomic<bool> flooding{true};
    PtyPeer* peer = m_peer.get();
    std::thread flood([peer, &flooding] {
        const QByteArray junk(64 * 1024, '\xFF');
        while (flooding) {
            peer->send(junk);
            std::this_thread::sleep_for(std::chrono::milliseconds(16));
        }
    });
    QSignalSpy closed(m_handler.get(), &SerialUSBCommandHandler::deviceClosed);
    QElapsedTimer timer;
    timer.start();
    m_handler->getAxisParameter(0, 4);
    const qint64 took = timer.elapsed();
    flooding = false;
    flood.join();

    QCOMPARE(closed.count(), 1);
    QCOMPARE(m_handler->lastFailure(), SerialUSBCommandHandler::Failure::TimedOut);
    QVERIFY2(took >= SerialUSBCommandHandler::ReplyTimeoutMs && took < 2000,
             qPrintable(QString::number(took)));
    QVERIFY2(m_handler->droppedBytes() > quint64(SerialUSBDevice::InputLimit),
             qPrintable(QString::number(m_handler->droppedBytes())));
    QVERIFY2(device->most > 0 && device->most <= SerialUSBDevice::InputLimit,
             qPrintable(QString::number(device->most)));
}

void TestHandler::timeoutClosesThePort()
{
    m_peer->setSilent(true);
    QSignalSpy closed(m_handler.get(), &SerialUSBCommandHandler::deviceClosed);
    QSignalSpy lost(m_handler.get(), &SerialUSBCommandHandler::linkLost);
    QSignalSpy values(m_handler.get(), &SerialUSBCommandHandler::requestedValue);
    QElapsedTimer timer;
    timer.start();
    m_handler->getAxisParameter(0, 4);
    const qint64 waited = timer.elapsed();
    QVERIFY2(waited >= SerialUSBCommandHandler::ReplyTimeoutMs && waited < 3000,
             qPrintable(QString::number(waited)));
    QCOMPARE(closed.count(), 1);
    QCOMPARE(values.count(), 0);
    QVERIFY(!m_handler->isOpen());
    QCOMPARE(m_log->lines().last(), QString("SerialUSBCommandHandler: communicationTimeouted! "));
    QCOMPARE(lost.count(), 1);
    QCOMPARE(lost.at(0).at(0).toString(), QString("no reply within 510 ms"));

    // The next requests fail at once; the link was announced closed, once.
    m_log->clear();
    timer.restart();
    m_handler->setAxisParameter(0, 6, 100);
    m_handler->getAxisParameter(0, 4);
    QVERIFY(timer.elapsed() < 300);
    QCOMPARE(closed.count(), 1);
    QCOMPARE(lost.count(), 1); // nothing more was lost
    QCOMPARE(m_log->count("could not send data: is device opened? "), 2);
    QCOMPARE(m_peer->requestCount(), 1);

    // The link opened again is another link: its loss is announced again.
    auto again = std::make_unique<SerialUSBDevice>(m_peer->portName(), QString());
    m_handler->setDevice(again.get());
    QVERIFY(m_handler->open());
    m_device = std::move(again);
    m_handler->getAxisParameter(0, 4);
    QCOMPARE(closed.count(), 2);
    QCOMPARE(lost.count(), 2);
    m_handler->getAxisParameter(0, 4);
    QCOMPARE(closed.count(), 2);
}

void TestHandler::withoutOpenPort()
{
    SerialUSBCommandHandler handler;
    QSignalSpy closed(&handler, &SerialUSBCommandHandler::deviceClosed);
    QCOMPARE(handler.portName(), QString("unknown"));
    QCOMPARE(handler.description(), QString("unknown"));
    QVERIFY(!handler.isOpen());

    // No device, or a device whose open failed: refused at once, each announced once. (The
    // device is destroyed before the handler, which must not touch it then.)
    handler.getAxisParameter(0, 4);
    QCOMPARE(closed.count(), 1);
    SerialUSBDevice never(QStringLiteral("ttyNOSUCHPORT98"), QStringLiteral("Virtual"));
    handler.setDevice(&never);
    QVERIFY(!handler.open());
    QCOMPARE(handler.portName(), QString("ttyNOSUCHPORT98"));
    QCOMPARE(handler.description(), QString("Virtual"));
    QElapsedTimer timer;
    timer.start();
    handler.getAxisParameter(0, 4);
    handler.getAxisParameter(0, 4);
    QVERIFY(timer.elapsed() < 300);
    QCOMPARE(closed.count(), 2);
    QCOMPARE(m_log->count("could not send data: is device opened? "), 3);
    QCOMPARE(m_log->count("SerialUSBCommandHandler: communicationTimeouted! "), 0);
}

void TestHandler::lostPortClosesTheLink_data()
{
    // The far end goes away while the handler waits for a reply, or between two requests.
    QTest::addColumn<bool>("duringTheWait");
    QTest::newRow("during the wait") << true;
    QTest::newRow("before the request") << false;
}

void TestHandler::lostPortClosesTheLink()
{
    QFETCH(bool, duringTheWait);
    m_peer->setSilent(true);
    QSignalSpy closed(m_handler.get(), &SerialUSBCommandHandler::deviceClosed);
    QSignalSpy lostLink(m_handler.get(), &SerialUSBCommandHandler::linkLost);
    QSignalSpy values(m_handler.get(), &SerialUSBCommandHandler::requestedValue);
    PtyPeer* peer = m_peer.get();
    std::thread unplug;
    if (duringTheWait) {
        unplug = std::thread([peer] {
            peer->waitForRequests(1, 2000);
            peer->stop();
        });
    } else {
        peer->stop();
    }
    m_handler->getAxisParameter(0, 4);
    if (unplug.joinable())
        unplug.join();

    // Closed once, with the reason, and announced once; not taken for a silent module.
    QCOMPARE(closed.count(), 1);
    QCOMPARE(values.count(), 0);
    QVERIFY(!m_handler->isOpen());
    QCOMPARE(m_log->count("SerialUSBCommandHandler: communicationTimeouted! "), 0);
    const QStringList lost = m_log->lines().filter(
        QRegularExpression("^SerialUSBCommandHandler: connection lost \\(.+\\) $"));
    QVERIFY2(lost.size() == 1, qPrintable(m_log->lines().join('\n')));
    QCOMPARE(lostLink.count(), 1);
    QCOMPARE(lost.first(), QStringLiteral("SerialUSBCommandHandler: connection lost (%1) ")
                               .arg(lostLink.at(0).at(0).toString()));

    // What follows is refused at once, as on any closed link, and not announced again.
    m_handler->getAxisParameter(0, 4);
    QCOMPARE(closed.count(), 1);
    QCOMPARE(lostLink.count(), 1);
    QCOMPARE(m_log->count("could not send data: is device opened? "), 1);
}

void TestHandler::traceListWalk()
{
    // Each entry answers with ten times its type; the second entry's reply is preceded by
    // one the handler must not accept.
    m_peer->setResponder([](const QByteArray& request) {
        const quint8 type = static_cast<quint8>(request.at(2));
        QList<PtyPeer::Chunk> chunks;
        if (type == 13)
            chunks << PtyPeer::Chunk{0, PtyPeer::replyFrame(0xFF, 1, 100, 6, 5)};
        chunks << PtyPeer::Chunk{chunks.isEmpty() ? 0 : 20, replyTo(request, type * 10)};
        return chunks;
    });
    TraceCommand velocity(6, 3, 0), target(6, 13, 0), status(6, 156, 0);
    QList<TraceCommand*> list{&velocity, &target, &status};
    QSignalSpy traced(m_handler.get(), &SerialUSBCommandHandler::requestedTraceValue);
    m_handler->requestTraceValues(&list);
    QCOMPARE(traced.count(), 3);
    QCOMPARE(args(traced.at(0)), QList<int>({0, 3, 30}));
    QCOMPARE(args(traced.at(1)), QList<int>({0, 13, 130}));
    QCOMPARE(args(traced.at(2)), QList<int>({0, char(156), 1560}));
    QCOMPARE(m_peer->requests().last(), hex("01 06 9C 00 00 00 00 00 A3"));

    // After a time-out the rest of the walk is refused at once, entry by entry.
    m_peer->setSilent(true);
    QSignalSpy closed(m_handler.get(), &SerialUSBCommandHandler::deviceClosed);
    m_log->clear();
    m_handler->requestTraceValues(&list);
    QCOMPARE(traced.count(), 3);
    QCOMPARE(closed.count(), 1);
    QCOMPARE(m_log->count("SerialUSBCommandHandler: communicationTimeouted! "), 1);
    QCOMPARE(m_log->count("could not send data: is device opened? "), 2);
}

int runHandlerTests(int argc, char** argv)
{
    TestHandler test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_handler.moc"

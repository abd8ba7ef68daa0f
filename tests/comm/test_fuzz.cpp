// Thousands of exchanges through the real handler and serial device against a peer that
// misbehaves the way lines and modules do: replies in pieces, garbage and line noise before
// and after them, replies to other commands and late replies to earlier requests, replies
// that come late or never, and a far end that goes away. Deterministic for a seed:
//
//   ZIRO_FUZZ_SEED=7 ZIRO_FUZZ_EXCHANGES=10000 build/tests/test_fuzz
//
// What must never happen: a value reported that the peer did not send as the answer to
// that request, a reply with a wrong checksum or for another command taken, a time-out
// shorter than 0.45 s, a lost link taken for anything but a lost link, a crash.
//
// Then batches of exchanges, as an export or a store walk runs them, one right after the
// other, against a module that also answers twice or too late. No reply says which
// request it answers, so a copy or a late answer can be taken for the next request's
// own; what must never happen is a batch with such an answer that does not fail (not
// clean, or a time-out or lost link in it).

#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/SerialUSBDevice.h"
#include "comm/VOKTRequest.h"
#include "sim/PtyPeer.h"
#include "support/LogCapture.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <thread>

namespace {

// splitmix64: the same numbers for a seed on every platform.
class Random
{
public:
    explicit Random(quint64 seed) : m_state(seed) {}
    quint64 next()
    {
        quint64 z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 <= n < bound
    int below(int bound) { return static_cast<int>(next() % static_cast<quint64>(bound)); }
    int between(int low, int high) { return low + below(high - low + 1); }
    bool chance(int perMille) { return below(1000) < perMille; }
    quint8 byte() { return static_cast<quint8>(next()); }
    QByteArray bytes(int count)
    {
        QByteArray out;
        for (int i = 0; i < count; ++i)
            out.append(static_cast<char>(byte()));
        return out;
    }

private:
    quint64 m_state;
};

// What the handler would take as the answer to a request with this command (any command
// if command is negative).
bool looksLikeTheAnswer(const QByteArray& bytes, int at, int command)
{
    if (at + 9 > bytes.size())
        return false;
    const QByteArray frame = bytes.mid(at, 9);
    return static_cast<quint8>(frame.at(0)) < 0x80 &&
           (command < 0 || static_cast<quint8>(frame.at(3)) == command) &&
           vokt::checksum(frame) == static_cast<quint8>(frame.at(8));
}

enum class Outcome
{
    Answer,  // the reply is complete well within the wait: it must be taken
    TimeOut, // no reply in time (a late one may still make it if the handler is late)
    Lost,    // the far end goes away
};

struct Plan
{
    Outcome outcome = Outcome::Answer;
    quint8 command = 6;
    qint32 value = 0;
    quint8 status = 100;
    QList<PtyPeer::Chunk> chunks;
    // A reply that comes after the wait is over.
    bool lateReply = false;
    // Frames sent on purpose: the reply, its copies, replies to other requests.
    QList<QByteArray> frames;
};

// Cuts bytes into pieces with small pauses between them.
QList<PtyPeer::Chunk> inPieces(Random& random, const QByteArray& bytes, int maxDelayMs)
{
    QList<PtyPeer::Chunk> chunks;
    int at = 0;
    while (at < bytes.size()) {
        const int size =
            random.chance(300) ? bytes.size() - at : random.between(1, qMax(1, bytes.size() - at));
        chunks << PtyPeer::Chunk{chunks.isEmpty() ? 0 : random.between(0, maxDelayMs),
                                 bytes.mid(at, size)};
        at += size;
    }
    return chunks;
}

// A frame that must not be taken: a reply to another command, one with bit 7 set in its
// first byte, one with a wrong checksum, or the start of one.
QByteArray decoy(Random& random, quint8 command, qint32 value)
{
    const qint32 other = value ^ (1 + random.below(0x7FFFFFFF));
    switch (random.below(4)) {
    case 0: {
        quint8 otherCommand = random.byte();
        if (otherCommand == command)
            ++otherCommand;
        return PtyPeer::replyFrame(2, 1, 100, otherCommand, other);
    }
    case 1:
        return PtyPeer::replyFrame(0x80 | random.byte(), 1, 100, command, other);
    case 2: {
        QByteArray frame = PtyPeer::replyFrame(2, 1, 100, command, other);
        frame[8] = static_cast<char>(frame.at(8) + random.between(1, 255));
        return frame;
    }
    default:
        return PtyPeer::replyFrame(2, 1, 100, command, other).left(random.between(1, 8));
    }
}

Plan makePlan(Random& random, quint8 command)
{
    Plan plan;
    plan.command = command;
    plan.value = static_cast<qint32>(random.next());
    plan.status = random.byte();
    const QByteArray reply =
        PtyPeer::replyFrame(random.below(0x80), random.byte(), plan.status, command, plan.value);
    plan.frames << reply;

    // Junk before the reply, built until the handler could not mistake any of it (or its
    // junction with the reply) for the answer: one in 2^17 random windows would pass every
    // check a reply can be given, and no reader of the line could tell.
    auto junkBefore = [&](auto make, int takenBy = -2) {
        if (takenBy == -2)
            takenBy = command;
        for (;;) {
            const QByteArray junk = make();
            const QByteArray stream = junk + reply;
            bool clean = true;
            for (int at = 0; at < junk.size() && clean; ++at)
                clean = !looksLikeTheAnswer(stream, at, takenBy);
            if (clean)
                return junk;
        }
    };
    auto garbage = [&] { return random.bytes(random.between(1, 30)); };
    auto decoys = [&] {
        QByteArray out;
        for (int n = random.between(1, 3); n > 0; --n) {
            const QByteArray frame = decoy(random, command, plan.value);
            plan.frames << frame;
            out += frame;
        }
        return out;
    };

    const int kind = random.below(1000);
    if (kind < 300) { // whole
        plan.chunks = PtyPeer::answer(reply);
    } else if (kind < 450) { // in pieces
        plan.chunks = inPieces(random, reply, 2);
    } else if (kind < 620) { // garbage first
        plan.chunks = inPieces(random, junkBefore(garbage) + reply, 2);
    } else if (kind < 780) { // other replies first: other commands, late ones, broken ones
        plan.chunks = inPieces(random, junkBefore(decoys) + reply, 3);
    } else if (kind < 880) { // something after the reply: garbage or a late duplicate
        const bool copy = !random.chance(500);
        const QByteArray after =
            copy ? PtyPeer::replyFrame(2, 1, 100, command, plan.value ^ random.between(1, 1000))
                 : garbage();
        if (copy)
            plan.frames << after;
        plan.chunks = inPieces(random, reply + after, 2);
    } else if (kind < 993) { // line noise trickling in before the reply
        for (int n = random.between(3, 10); n > 0; --n)
            plan.chunks << PtyPeer::Chunk{random.between(0, 2),
                                          junkBefore([&] { return random.bytes(1); })};
        // Each byte was checked on its own; together they must pass as well.
        QByteArray noise;
        for (const auto& chunk : plan.chunks)
            noise += chunk.bytes;
        if (noise != junkBefore([&] { return noise; }))
            plan.chunks.clear();
        plan.chunks << PtyPeer::Chunk{1, reply};
    } else if (kind < 996) { // noise for most of the wait, then the reply
        const int replyAtMs = random.between(250, 320);
        for (int ms = 5; ms < replyAtMs; ms += 5)
            plan.chunks << PtyPeer::Chunk{5,
                                          QByteArray(1, static_cast<char>(0x80 | random.byte()))};
        plan.chunks << PtyPeer::Chunk{5, reply};
    } else if (kind < 999) { // no reply in time: silence or junk, maybe a late reply
        // The handler closes the port at the time-out, and with it whatever it had read
        // but not yet looked at; the rest waits for the next request. It must not be
        // anything a request could take (a late reply is for this command only).
        if (random.chance(500))
            plan.chunks = inPieces(random, junkBefore(garbage, -1), 20);
        plan.lateReply = random.chance(300);
        if (plan.lateReply)
            plan.chunks << PtyPeer::Chunk{random.between(560, 620), reply};
        plan.outcome = Outcome::TimeOut;
    } else { // the far end goes away
        plan.outcome = Outcome::Lost;
    }
    return plan;
}

// A plan for an exchange of a batch: as above, or a module that answers twice (the copy
// 1 to 30 ms later), or one that answers after the wait is over.
Plan makeBatchPlan(Random& random, quint8 command)
{
    const int kind = random.below(1000);
    if (kind < 700)
        return makePlan(random, command);
    Plan plan;
    plan.command = command;
    plan.value = static_cast<qint32>(random.next());
    plan.status = random.byte();
    const QByteArray reply =
        PtyPeer::replyFrame(random.below(0x80), random.byte(), plan.status, command, plan.value);
    plan.frames << reply;
    if (kind < 990) {
        plan.chunks = {{0, reply}, {random.between(1, 30), reply}};
    } else {
        plan.chunks = {{random.between(520, 700), reply}};
        plan.outcome = Outcome::TimeOut;
        plan.lateReply = true;
    }
    return plan;
}

// Whether the bytes of a batch, run together, hold 9 that the handler would take for the
// answer to one of the commands and that nobody sent as a frame: junk of one exchange
// meeting the next one's bytes. No reader of the line could tell those from an answer.
bool holdsAnAccidentalAnswer(const QList<Plan>& plans)
{
    QByteArray stream;
    QList<QByteArray> sent;
    QSet<int> commands;
    for (const Plan& plan : plans) {
        for (const PtyPeer::Chunk& chunk : plan.chunks)
            stream += chunk.bytes;
        sent += plan.frames;
        commands << plan.command;
    }
    for (int at = 0; at + 9 <= stream.size(); ++at)
        if (looksLikeTheAnswer(stream, at, -1) && commands.contains(quint8(stream.at(at + 3))) &&
            !sent.contains(stream.mid(at, 9)))
            return true;
    return false;
}

} // namespace

class TestFuzz : public QObject
{
    Q_OBJECT

private slots:
    void exchangesSurviveAMisbehavingLine();
    void batchesNeverTakeAnotherAnswerUnnoticed();

private:
    bool connectDevice();

    PtyPeer m_peer;
    std::unique_ptr<SerialUSBDevice> m_device;
    SerialUSBCommandHandler m_handler;
};

bool TestFuzz::connectDevice()
{
    m_device = std::make_unique<SerialUSBDevice>(m_peer.portName(), QString());
    m_handler.setDevice(m_device.get());
    return m_handler.open();
}

void TestFuzz::exchangesSurviveAMisbehavingLine()
{
    const quint64 seed = qEnvironmentVariableIsSet("ZIRO_FUZZ_SEED")
                             ? qEnvironmentVariable("ZIRO_FUZZ_SEED").toULongLong()
                             : 1;
    const int exchanges = qEnvironmentVariableIsSet("ZIRO_FUZZ_EXCHANGES")
                              ? qEnvironmentVariableIntValue("ZIRO_FUZZ_EXCHANGES")
                              : 3000;
    Random random(seed);
    LogCapture log;
    QString error;
    QVERIFY2(m_peer.start(&error), qPrintable(error));
    QVERIFY(connectDevice());

    QSignalSpy values(&m_handler, &SerialUSBCommandHandler::requestedValue);
    QSignalSpy results(&m_handler, &SerialUSBCommandHandler::requestResult);
    QSignalSpy closed(&m_handler, &SerialUSBCommandHandler::deviceClosed);
    int answered = 0;
    int timeOuts = 0;
    int lateTaken = 0;
    int lost = 0;
    QElapsedTimer total;
    total.start();
    // A late reply may still be on its way: the next request differs in its command, so
    // that the handler can tell the reply is not its answer.
    int lateCommand = -1;

    for (int i = 0; i < exchanges; ++i) {
        // Half of the requests read an axis parameter, the others are direct commands of
        // any number.
        bool axis = random.chance(500) && lateCommand != 6;
        quint8 command = axis ? 6 : random.byte();
        if (!axis && command == lateCommand)
            ++command;
        const char type = static_cast<char>(random.byte());
        const char motorBank = static_cast<char>(random.below(3));
        const Plan plan = makePlan(random, command);
        const QString what = QStringLiteral("seed %1, exchange %2").arg(seed).arg(i);

        const int answeredBefore = m_peer.answeredCount();
        const int requestsBefore = m_peer.requestCount();
        const quint64 droppedBefore = m_handler.droppedBytes();
        const QList<PtyPeer::Chunk> chunks = plan.chunks;
        m_peer.setResponder([chunks](const QByteArray&) { return chunks; });
        std::thread unplug;
        if (plan.outcome == Outcome::Lost) {
            unplug = std::thread([this, requestsBefore] {
                m_peer.waitForRequests(requestsBefore + 1, 5000);
                m_peer.stop();
            });
        }
        values.clear();
        results.clear();
        closed.clear();
        log.clear();

        QElapsedTimer timer;
        timer.start();
        if (axis)
            m_handler.getAxisParameter(motorBank, type);
        else
            m_handler.doRequest(static_cast<char>(command), type, motorBank, plan.value);
        const qint64 took = timer.elapsed();
        if (unplug.joinable())
            unplug.join();

        // What was reported, if anything.
        const int reports = static_cast<int>(values.size() + results.size());
        QVERIFY2(reports <= 1, qPrintable(what));
        const bool taken = reports == 1;
        if (taken) {
            if (axis) {
                const QList<QVariant>& v = values.first();
                QCOMPARE(v.at(0).value<char>(), motorBank);
                QCOMPARE(v.at(1).value<char>(), type);
                QVERIFY2(v.at(2).toInt() == plan.value, qPrintable(what));
            } else {
                const QList<QVariant>& r = results.first();
                QCOMPARE(r.at(0).value<char>(), motorBank);
                QVERIFY2(quint8(r.at(1).value<char>()) == command, qPrintable(what));
                QVERIFY2(quint8(r.at(2).value<char>()) == plan.status, qPrintable(what));
                QVERIFY2(r.at(3).toInt() == plan.value, qPrintable(what));
            }
        }
        const int timeOutLines = log.count("SerialUSBCommandHandler: communicationTimeouted! ");
        const int lostLines = static_cast<int>(
            log.lines()
                .filter(QRegularExpression("^SerialUSBCommandHandler: connection lost \\("))
                .size());

        switch (plan.outcome) {
        case Outcome::Answer:
            QVERIFY2(taken, qPrintable(what + QStringLiteral(": reply not taken")));
            QVERIFY2(closed.isEmpty() && m_handler.isOpen(), qPrintable(what));
            ++answered;
            break;
        case Outcome::TimeOut:
            if (taken) {
                // The handler looked once more after a late wake-up and found the reply.
                QVERIFY2(closed.isEmpty(), qPrintable(what));
                ++lateTaken;
                break;
            }
            QVERIFY2(took >= 450,
                     qPrintable(what + QStringLiteral(": timed out after %1 ms").arg(took)));
            QVERIFY2(closed.size() == 1 && timeOutLines == 1 && lostLines == 0, qPrintable(what));
            QVERIFY(!m_handler.isOpen());
            ++timeOuts;
            break;
        case Outcome::Lost:
            QVERIFY2(!taken, qPrintable(what));
            QVERIFY2(closed.size() == 1 && lostLines == 1 && timeOutLines == 0,
                     qPrintable(what + QLatin1Char('\n') + log.lines().join(QLatin1Char('\n'))));
            QVERIFY(!m_handler.isOpen());
            ++lost;
            break;
        }

        // Before the next request: everything the peer meant to send is on the line, and
        // what the handler did not take in is waiting in the input (so that it is stale for
        // the next request, not something that might arrive after it).
        if (plan.outcome == Outcome::Lost) {
            QVERIFY2(m_peer.start(&error), qPrintable(error));
            QVERIFY2(connectDevice(), qPrintable(what));
            continue;
        }
        QVERIFY2(m_peer.waitForAnswered(answeredBefore + 1, 5000), qPrintable(what));
        lateCommand = plan.lateReply && !taken ? command : -1;
        if (!m_handler.isOpen()) {
            QVERIFY2(connectDevice(), qPrintable(what));
            continue;
        }
        qint64 left = -static_cast<qint64>(m_handler.droppedBytes() - droppedBefore);
        for (const PtyPeer::Chunk& chunk : plan.chunks)
            left += chunk.bytes.size();
        if (taken)
            left -= 9;
        QElapsedTimer wait;
        wait.start();
        while (m_device->bytesAvailable() < left && wait.elapsed() < 5000)
            m_device->waitForInput(10);
        QVERIFY2(m_device->bytesAvailable() >= left, qPrintable(what));
    }

    std::printf("%d exchanges (seed %llu) in %.1f s: %d answers taken, %llu bytes dropped, "
                "%d time-outs (%d late replies taken), %d links lost\n",
                exchanges, static_cast<unsigned long long>(seed), total.elapsed() / 1000.0,
                answered, static_cast<unsigned long long>(m_handler.droppedBytes()), timeOuts,
                lateTaken, lost);
    std::fflush(stdout);
}

void TestFuzz::batchesNeverTakeAnotherAnswerUnnoticed()
{
    const quint64 seed = qEnvironmentVariableIsSet("ZIRO_FUZZ_SEED")
                             ? qEnvironmentVariable("ZIRO_FUZZ_SEED").toULongLong()
                             : 1;
    const int batches = qEnvironmentVariableIsSet("ZIRO_FUZZ_BATCHES")
                            ? qEnvironmentVariableIntValue("ZIRO_FUZZ_BATCHES")
                            : 200;
    Random random(seed);
    LogCapture log;
    QString error;
    if (!m_peer.isRunning())
        QVERIFY2(m_peer.start(&error), qPrintable(error));
    QVERIFY(connectDevice());

    QSignalSpy values(&m_handler, &SerialUSBCommandHandler::requestedValue);
    QSignalSpy results(&m_handler, &SerialUSBCommandHandler::requestResult);
    int exchanges = 0;
    int wrong = 0;
    int clean = 0;
    int notClean = 0;
    int broken = 0;
    QElapsedTimer total;
    total.start();

    for (int b = 0; b < batches; ++b) {
        // The command line awaits a late answer before it closes the port; the window
        // closes at once and drops what waits when it opens again.
        m_handler.setAwaitLateAnswer(random.chance(500));
        struct Exchange
        {
            bool axis;
            char type;
            char motorBank;
            Plan plan;
        };
        QList<Exchange> batch;
        const int length = random.between(1, 8);
        QList<Plan> plans;
        do {
            batch.clear();
            plans.clear();
            for (int k = 0; k < length; ++k) {
                const bool axis = random.chance(500);
                const quint8 command = axis ? 6 : random.byte();
                const Exchange e{axis, static_cast<char>(random.byte()),
                                 static_cast<char>(random.below(3)),
                                 makeBatchPlan(random, command)};
                batch << e;
                plans << e.plan;
            }
        } while (holdsAnAccidentalAnswer(plans));

        auto next = std::make_shared<std::atomic<int>>(0);
        m_peer.setResponder([plans, next](const QByteArray&) {
            const int k = (*next)++;
            return k < plans.size() ? plans.at(k).chunks : QList<PtyPeer::Chunk>{};
        });
        SerialUSBCommandHandler::Batch watched(m_handler);
        bool failed = false;
        bool taken = false;
        bool lateAtTheEnd = false;
        QString what;
        for (int k = 0; k < batch.size() && m_handler.isOpen(); ++k) {
            const Exchange& e = batch.at(k);
            what = QStringLiteral("seed %1, batch %2, exchange %3").arg(seed).arg(b).arg(k);
            const int requestsBefore = m_peer.requestCount();
            std::thread unplug;
            if (e.plan.outcome == Outcome::Lost) {
                unplug = std::thread([this, requestsBefore] {
                    m_peer.waitForRequests(requestsBefore + 1, 5000);
                    m_peer.stop();
                });
            }
            values.clear();
            results.clear();
            QElapsedTimer timer;
            timer.start();
            if (e.axis)
                m_handler.getAxisParameter(e.motorBank, e.type);
            else
                m_handler.doRequest(static_cast<char>(e.plan.command), e.type, e.motorBank,
                                    e.plan.value);
            const qint64 took = timer.elapsed();
            if (unplug.joinable())
                unplug.join();
            ++exchanges;

            const int reports = static_cast<int>(values.size() + results.size());
            QVERIFY2(reports <= 1, qPrintable(what));
            if (reports == 1) {
                bool right = true;
                if (e.axis) {
                    right = values.first().at(2).toInt() == e.plan.value;
                } else {
                    const QList<QVariant>& r = results.first();
                    QVERIFY2(quint8(r.at(1).value<char>()) == e.plan.command, qPrintable(what));
                    right = quint8(r.at(2).value<char>()) == e.plan.status &&
                            r.at(3).toInt() == e.plan.value;
                }
                if (!right) {
                    taken = true;
                    ++wrong;
                }
            }
            if (!m_handler.isOpen()) {
                failed = true;
                const auto why = m_handler.lastFailure();
                QVERIFY2(why == SerialUSBCommandHandler::Failure::TimedOut ||
                             why == SerialUSBCommandHandler::Failure::LinkLost,
                         qPrintable(what));
                if (why == SerialUSBCommandHandler::Failure::TimedOut)
                    QVERIFY2(took >= 450, qPrintable(what + QStringLiteral(": timed out after "
                                                                           "%1 ms")
                                                                .arg(took)));
                lateAtTheEnd = e.plan.lateReply && e.plan.chunks.size() == 1;
            }
        }
        const bool isClean = watched.isClean();
        QVERIFY2(!taken || failed || !isClean,
                 qPrintable(what + QStringLiteral(": an answer was taken for another request, "
                                                  "and the batch was reported good")));
        if (failed)
            ++broken;
        else if (isClean)
            ++clean;
        else
            ++notClean;

        // The next batch: after a late answer the port opens again at once, while the
        // answer may still be on its way. Otherwise once the module has said everything it
        // meant to, on a quiet line.
        if (!m_peer.isRunning()) {
            QVERIFY2(m_peer.start(&error), qPrintable(error));
            QVERIFY2(connectDevice(), qPrintable(what));
            continue;
        }
        if (!lateAtTheEnd)
            QVERIFY2(m_peer.waitForAnswered(m_peer.requestCount(), 5000), qPrintable(what));
        if (!m_handler.isOpen())
            QVERIFY2(connectDevice(), qPrintable(what));
        else
            m_handler.settleLine();
    }

    std::printf("%d batches (seed %llu, %d exchanges) in %.1f s: %d clean, %d not clean, %d "
                "ended by a time-out or a lost link; %d answers taken for another request, "
                "none in a batch reported good\n",
                batches, static_cast<unsigned long long>(seed), exchanges, total.elapsed() / 1000.0,
                clean, notClean, broken, wrong);
    std::fflush(stdout);
}

QTEST_GUILESS_MAIN(TestFuzz)
#include "test_fuzz.moc"

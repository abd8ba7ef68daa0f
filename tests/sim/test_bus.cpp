// Several modules on one line: the simulated bus, the scan across addresses and rates that
// finds them (and two modules at one address), and the scan command.

#include "comm/LinkController.h"
#include "comm/ModuleScanner.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/VOKTRequest.h"
#include "comm/VOKTUSBReply.h"
#include "sim/PtyPeer.h"
#include "sim/ServedModule.h"
#include "sim/SimulatedModule.h"
#include "support/LogCapture.h"

#include <QProcess>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int MaxSpeed = 4;
// The module's turnaround the scans here allow, where the deadline itself is not what is
// looked at: room for a busy machine (sanitizers, parallel builds).
constexpr int Turnaround = 60;

// The tool's end of the line, opened by hand at a speed of the test's choosing, to see the
// bytes exactly as they come.
class RawLine
{
public:
    RawLine(const QString& port, speed_t speed)
    {
        m_fd = ::open(QFile::encodeName(port).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios tio{};
        if (m_fd >= 0 && ::tcgetattr(m_fd, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::cfsetispeed(&tio, speed);
            ::cfsetospeed(&tio, speed);
            ::tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    ~RawLine()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RawLine(const RawLine&) = delete;
    RawLine& operator=(const RawLine&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    bool send(const VOKTRequest& request)
    {
        const QByteArray frame = request.toWire();
        return ::write(m_fd, frame.constData(), size_t(frame.size())) == frame.size();
    }
    // What arrives until the line has been quiet for quietMs (at most limitMs in all).
    QByteArray readUntilQuiet(int quietMs, int limitMs = 2000)
    {
        QByteArray bytes;
        QElapsedTimer timer;
        timer.start();
        pollfd pfd{m_fd, POLLIN, 0};
        while (timer.elapsed() < limitMs && ::poll(&pfd, 1, quietMs) > 0) {
            char buffer[64];
            const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
            if (got <= 0)
                break;
            bytes.append(buffer, int(got));
        }
        return bytes;
    }

private:
    int m_fd = -1;
};

VOKTRequest getMaxSpeed(int address)
{
    return VOKTRequest(quint8(address), vokt::GetAxisParameter, MaxSpeed, 0, 0);
}

// "3 115200, 7 115200 conflict": what a scan found, in its order.
QString foundText(const QList<ModuleScanner::Found>& found)
{
    QStringList parts;
    for (const ModuleScanner::Found& f : found)
        parts << QStringLiteral("%1 %2%3")
                     .arg(f.address)
                     .arg(f.baudRate)
                     .arg(f.conflict ? QStringLiteral(" conflict") : QString());
    return parts.join(QStringLiteral(", "));
}

QList<ModuleScanner::Found> scan(const ModuleScanner::Plan& plan, ModuleScanner* scanner = nullptr)
{
    ModuleScanner own(plan);
    ModuleScanner& s = scanner ? *scanner : own;
    s.setDebug(false);
    while (s.step()) {
    }
    return s.found();
}

} // namespace

class TestBus : public QObject
{
    Q_OBJECT

private slots:
    void eachModuleAnswersItsOwnAddress();
    void twoModulesAtOneAddressBothAnswer();
    void aModuleHearsOnlyItsOwnRate();
    void scanFindsTheBus_data();
    void scanFindsTheBus();
    void scanTellsBrokenAndLateReplies();
    void scanOfAnEchoingLine();
    void scanOfAPortThatDoesNotOpen();
    void deadlinesFollowTheRate();
    void commandLine();
};

void TestBus::eachModuleAnswersItsOwnAddress()
{
    ServedModule served(QList<int>{3, 7, 12});
    served.setBaudRate(115200);
    QString error;
    QVERIFY2(served.start(&error), qPrintable(error));
    LogCapture log;
    SerialUSBCommandHandler handler;
    LinkController link(handler);
    QVERIFY(link.open({served.portName(), QString(), 115200, 7}));

    // A write reaches the module addressed and no other.
    QVERIFY(handler.exchange(vokt::SetAxisParameter, MaxSpeed, 0, 777).reply);
    qint32 before = 0;
    served.withModule(0, [&before](SimulatedModule& m) { before = m.axisParameter(MaxSpeed); });
    served.withModule(1, [](SimulatedModule& m) { QCOMPARE(m.axisParameter(MaxSpeed), 777); });
    served.withModule(0, [](SimulatedModule& m) { QVERIFY(m.axisParameter(MaxSpeed) != 777); });
    served.withModule(2, [](SimulatedModule& m) { QVERIFY(m.axisParameter(MaxSpeed) != 777); });

    // Each answers with its own values, under its own address; nobody answers at 5, and
    // the link (to 7) stays open.
    for (int address : {3, 7, 12, 5}) {
        const auto outcome = handler.exchange(getMaxSpeed(address));
        QCOMPARE(outcome.reply.has_value(), address != 5);
        if (outcome.reply) {
            QCOMPARE(int(outcome.reply->moduleAddress()), address);
            QCOMPARE(outcome.reply->value(), address == 7 ? 777 : before);
        }
    }
    QVERIFY(link.isOpen());
    QCOMPARE(handler.unansweredBytes(), quint64(0));
}

void TestBus::twoModulesAtOneAddressBothAnswer()
{
    ServedModule served(QList<int>{7, 3, 7});
    served.setBaudRate(115200);
    QVERIFY(served.start());
    RawLine line(served.portName(), B115200);
    QVERIFY(line.isOpen());
    for (int round = 0; round < 5; ++round) {
        QVERIFY(line.send(getMaxSpeed(7)));
        const QByteArray bytes = line.readUntilQuiet(50);
        QCOMPARE(bytes.size(), 2 * vokt::FrameSize);
        // Two whole replies, one after the other, each a good frame from address 7.
        for (int i = 0; i < 2; ++i) {
            const VOKTUSBReply reply(bytes.mid(i * vokt::FrameSize, vokt::FrameSize));
            QVERIFY(
                VOKTUSBReply::hasValidChecksum(bytes.mid(i * vokt::FrameSize, vokt::FrameSize)));
            QCOMPARE(int(reply.moduleAddress()), 7);
        }
    }
    // The other module is alone at its address.
    QVERIFY(line.send(getMaxSpeed(3)));
    QCOMPARE(line.readUntilQuiet(50).size(), vokt::FrameSize);
}

void TestBus::aModuleHearsOnlyItsOwnRate()
{
    ServedModule served(QList<int>{3});
    served.setBaudRate(57600);
    QVERIFY(served.start());
    {
        // At 9600 the request is noise to the module: no byte comes back.
        RawLine line(served.portName(), B9600);
        QVERIFY(line.send(getMaxSpeed(3)));
        QVERIFY(served.peer().waitForRequests(1, 2000));
        QCOMPARE(line.readUntilQuiet(100), QByteArray());
    }
    // A tool that keeps the port's settings finds the line at the modules' rate.
    RawLine line(served.portName(), B57600);
    QVERIFY(line.send(getMaxSpeed(3)));
    QCOMPARE(line.readUntilQuiet(50).size(), vokt::FrameSize);
}

void TestBus::scanFindsTheBus_data()
{
    QTest::addColumn<QList<int>>("addresses");
    QTest::addColumn<int>("busRate");
    QTest::addColumn<QList<int>>("rates");
    QTest::addColumn<QString>("found");
    QTest::newRow("three modules, found at their rate only")
        << QList<int>{3, 7, 12} << 115200 << QList<int>{115200, 9600}
        << "3 115200, 7 115200, 12 115200";
    QTest::newRow("a conflict counts once") << QList<int>{3, 7, 7, 12} << 57600 << QList<int>{57600}
                                            << "3 57600, 7 57600 conflict, 12 57600";
    QTest::newRow("at another rate: nobody")
        << QList<int>{3, 7, 12} << 115200 << QList<int>{9600} << "";
    QTest::newRow("three at one address")
        << QList<int>{5, 5, 5} << 115200 << QList<int>{115200} << "5 115200 conflict";
}

void TestBus::scanFindsTheBus()
{
    QFETCH(QList<int>, addresses);
    QFETCH(int, busRate);
    QFETCH(QList<int>, rates);
    QFETCH(QString, found);
    ServedModule served(addresses);
    served.setBaudRate(busRate);
    QVERIFY(served.start());
    LogCapture log;
    ModuleScanner scanner({served.portName(), rates, 1, 16, Turnaround});
    QCOMPARE(foundText(scan(scanner.plan(), &scanner)), found);
    QCOMPARE(scanner.probesDone(), scanner.probeCount());
    QCOMPARE(scanner.probeCount(), int(rates.size()) * 16);
    QVERIFY(scanner.portOpened());
    QVERIFY(scanner.failure().isEmpty());
    // Every address was asked once at each rate: no retries.
    QCOMPARE(served.peer().requestCount(), int(rates.size()) * 16);
}

void TestBus::scanTellsBrokenAndLateReplies()
{
    // At 4 a module answers with a broken frame; at 6 a reply is still arriving at the
    // deadline; at 8 the reply comes long after it.
    PtyPeer peer;
    peer.setResponder([](const QByteArray& request) -> QList<PtyPeer::Chunk> {
        const int address = quint8(request.at(0));
        const QByteArray reply = PtyPeer::replyFrame(2, quint8(address), vokt::StatusOk, 6, 1000);
        if (address == 4) {
            QByteArray broken = reply;
            broken[8] = char(broken[8] + 1);
            return {{0, broken}};
        }
        if (address == 6) {
            // The first bytes early, the rest 2 ms past the deadline.
            const int deadline = ModuleScanner::deadlineMs(115200, Turnaround);
            return {{2, reply.left(4)}, {deadline, reply.mid(4)}};
        }
        if (address == 8)
            return {{300, reply}};
        return {};
    });
    QVERIFY(peer.start());
    LogCapture log;
    QCOMPARE(foundText(scan({peer.portName(), {115200}, 3, 7, Turnaround})),
             "4 115200 conflict, 6 115200");
}

void TestBus::scanOfAnEchoingLine()
{
    // An adapter that hears its own transmission: every request comes back before any
    // answer. A module answers at 3; two answer at 5.
    PtyPeer peer;
    peer.setResponder([](const QByteArray& request) -> QList<PtyPeer::Chunk> {
        const int address = quint8(request.at(0));
        const QByteArray reply = PtyPeer::replyFrame(2, quint8(address), vokt::StatusOk, 6, 1000);
        if (address == 3)
            return {{0, request + reply}};
        if (address == 5)
            return {{0, request + reply + reply}};
        return {{0, request}};
    });
    QVERIFY(peer.start());
    LogCapture log;
    ModuleScanner scanner({peer.portName(), {115200}, 1, 7, Turnaround});
    QCOMPARE(foundText(scan(scanner.plan(), &scanner)), "3 115200, 5 115200 conflict");
    QVERIFY(scanner.lineEchoes());
}

void TestBus::scanOfAPortThatDoesNotOpen()
{
    LogCapture log;
    ModuleScanner scanner({QStringLiteral("/nonexistent/ttyZ0"), {115200, 9600}, 1, 255});
    QVERIFY(scan(scanner.plan(), &scanner).isEmpty());
    QVERIFY(!scanner.portOpened());
    QCOMPARE(scanner.problems().size(), 2);
    QVERIFY2(scanner.problems().at(1).startsWith(
                 QStringLiteral("could not open /nonexistent/ttyZ0 at 9600 baud")),
             qPrintable(scanner.problems().at(1)));
}

void TestBus::deadlinesFollowTheRate()
{
    // Two frames on the line and the module's turnaround: short at 115200, longer at 4800,
    // and always well under the half second of an ordinary exchange.
    QVERIFY(ModuleScanner::deadlineMs(115200) >= 2 && ModuleScanner::deadlineMs(115200) <= 20);
    QVERIFY(ModuleScanner::deadlineMs(9600) > ModuleScanner::deadlineMs(115200));
    QVERIFY(ModuleScanner::deadlineMs(4800) >= 38);
    QVERIFY(ModuleScanner::deadlineMs(4800) < SerialUSBCommandHandler::ReplyTimeoutMs / 4);
    QCOMPARE(ModuleScanner::allBaudRates(),
             (QList<int>{115200, 57600, 38400, 19200, 14400, 9600, 4800}));
}

void TestBus::commandLine()
{
    QProcess sim;
    sim.start(QStringLiteral(ZIRO_SIM_COMMAND),
              {QStringLiteral("--address"), QStringLiteral("3,7,7,12"), QStringLiteral("--baud"),
               QStringLiteral("57600")});
    QVERIFY(sim.waitForReadyRead(10000));
    const QString port = QString::fromLocal8Bit(sim.readLine()).trimmed();
    const auto cli = [&port](const QStringList& args) {
        QProcess process;
        process.start(QStringLiteral(ZIRO_CLI_COMMAND),
                      QStringList{QStringLiteral("--port"), port, QStringLiteral("--quiet"),
                                  QStringLiteral("scan"), QStringLiteral("--turnaround"),
                                  QString::number(Turnaround)} +
                          args);
        process.waitForFinished(60000);
        return qMakePair(process.exitCode(),
                         QString::fromLocal8Bit(process.readAllStandardOutput()));
    };
    QCOMPARE(cli({QStringLiteral("--baud"), QStringLiteral("57600,9600"), QStringLiteral("--to"),
                  QStringLiteral("15")}),
             qMakePair(0, QStringLiteral("3\t57600\n7\t57600\tconflict\n12\t57600\n")));
    QCOMPARE(cli({QStringLiteral("--baud"), QStringLiteral("9600"), QStringLiteral("--from"),
                  QStringLiteral("2"), QStringLiteral("--to"), QStringLiteral("13")}),
             qMakePair(1, QString()));
    for (const QStringList& bad :
         {QStringList{QStringLiteral("--from"), QStringLiteral("9"), QStringLiteral("--to"),
                      QStringLiteral("4")},
          QStringList{QStringLiteral("--from"), QStringLiteral("0")},
          QStringList{QStringLiteral("--baud"), QStringLiteral("9600,x")},
          QStringList{QStringLiteral("--turnaround"), QStringLiteral("-1")}})
        QCOMPARE(cli(bad).first, 2);
    sim.terminate();
    QVERIFY(sim.waitForFinished(10000));

    // The simulator takes only addresses it can serve.
    for (const QString& addresses : {QStringLiteral("3,,7"), QStringLiteral("7,256")}) {
        QProcess bad;
        bad.start(QStringLiteral(ZIRO_SIM_COMMAND), {QStringLiteral("--address"), addresses});
        QVERIFY(bad.waitForFinished(10000));
        QCOMPARE(bad.exitCode(), 2);
    }
}

QTEST_GUILESS_MAIN(TestBus)
#include "test_bus.moc"

#include "app/BLDC.h"
#include "app/MainWindow.h"
#include "comm/LinkController.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/TraceCommand.h"
#include "config/ParameterCatalogue.h"
#include "config/Poller.h"
#include "sim/PtyPeer.h"
#include "support/FileSizeLimit.h"
#include "support/LogCapture.h"
#include "support/PanelProbe.h"
#include "support/TemporaryConfig.h"
#include "trace/Chart.h"
#include "trace/DrawerArea.h"
#include "trace/LiveRecorder.h"
#include "trace/WDrawer.h"
#include "trace/WTraceController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <memory>

namespace {

using TraceList = QList<TraceCommand*>;

void click(QWidget* panel, const char* button)
{
    QTest::mouseClick(child<QPushButton>(panel, button), Qt::LeftButton);
}

bool showsPolling(QWidget* controller)
{
    return !child<QPushButton>(controller, "btnStart")->isEnabled() &&
           child<QPushButton>(controller, "btnStop")->isEnabled();
}

bool showsStopped(QWidget* controller)
{
    return child<QPushButton>(controller, "btnStart")->isEnabled() &&
           !child<QPushButton>(controller, "btnStop")->isEnabled();
}

// Each polled value answers its own number, made negative.
QList<PtyPeer::Chunk> answerNegated(const QByteArray& request)
{
    const bool polled = quint8(request.at(1)) == 6;
    return PtyPeer::answer(
        PtyPeer::replyFrame(2, 1, 100, quint8(request.at(1)), polled ? -quint8(request.at(2)) : 0));
}

// A controller polling through a handler on an open link to a pseudo-terminal peer that
// answers at once; it counts the polling cycles, notes when each began and which values
// each asked for.
struct Polling
{
    explicit Polling(int delayMs)
    {
        peer.setResponder(answerNegated);
        started = peer.start();
        started = started && link.open({peer.portName(), QString(), 0, 1, 0});
        controller->setLink(link);
        controller->setDelay(delayMs);
        clock.start();
        QObject::connect(controller.get(), &WTraceController::cycleStarted, [this] {
            asked << QList<int>();
            startedMs << clock.elapsed();
        });
        QObject::connect(poller(), &Poller::sampled,
                         [this](const PollSample& sample) { asked.last() << sample.type; });
    }
    int cycles() const { return static_cast<int>(asked.size()); }
    Poller* poller() const { return controller->poller(); }

    // The controller goes first, then the link, the handler and the peer.
    PtyPeer peer;
    SerialUSBCommandHandler handler;
    LinkController link{handler};
    std::unique_ptr<WTraceController> controller = std::make_unique<WTraceController>();
    bool started = false;
    QElapsedTimer clock;
    // Per cycle, the values asked for, in order.
    QList<QList<int>> asked;
    QList<qint64> startedMs;
};

} // namespace

class TestTrace : public QObject
{
    Q_OBJECT

private slots:
    void startAndStop();
    void noDuplicates_data();
    void noDuplicates();
    void delayAppliesFromNextPause();
    void cycleServedAnExchangeAtATime();
    void startStopInQuickSuccession();
    void pollingFollowsTheLink();
    void samplesKeepTheirTimeAndOutcome();
    void recordingOfPollingCycles_data();
    void recordingOfPollingCycles();
    void recordingNeverLeavesAFragment_data();
    void recordingNeverLeavesAFragment();
};

void TestTrace::startAndStop()
{
    Polling p(100000);
    QVERIFY(p.started);
    WTraceController* controller = p.controller.get();
    QSignalSpy starts(controller, &WTraceController::start);
    QSignalSpy stops(controller, &WTraceController::stop);
    QVERIFY(showsStopped(controller));
    // The pause the poller takes is the one the spin box shows.
    QCOMPARE(child<QSpinBox>(controller, "sbDelay")->value(), 100000);
    QCOMPARE(p.poller()->delay(), 100000);

    controller->addTraceCommand(new TraceCommand(6, 3, 0));
    controller->addTraceCommand(new TraceCommand(6, 156, 0));
    QSignalSpy finished(controller, &WTraceController::cycleFinished);
    click(controller, "btnStart");
    QVERIFY(showsPolling(controller));
    QCOMPARE(starts.size(), 1);
    // The first cycle comes at once and asks for the controller's records in turn, one per
    // exchange; the next cycle only after the long pause.
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(p.cycles(), 1);
    QCOMPARE(p.asked.at(0), QList<int>({3, 156}));
    QCOMPARE(p.poller()->store(1).size(), 1);
    QCOMPARE(p.poller()->store(1).last()->value, -156);

    click(controller, "btnStop");
    QVERIFY(showsStopped(controller));
    QCOMPARE(stops.size(), 1);
    QVERIFY(!p.poller()->isRunning());
    QCoreApplication::processEvents();
    QCOMPARE(p.cycles(), 1);
}

void TestTrace::noDuplicates_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("motorBank");
    QTest::addColumn<bool>("added");
    QTest::newRow("equal") << 6 << 156 << 0 << false;
    QTest::newRow("other command") << 5 << 156 << 0 << true;
    QTest::newRow("other type") << 6 << 153 << 0 << true;
    QTest::newRow("other motor/bank") << 6 << 156 << 1 << true;
}

void TestTrace::noDuplicates()
{
    QFETCH(int, command);
    QFETCH(int, type);
    QFETCH(int, motorBank);
    QFETCH(bool, added);
    WTraceController controller;
    auto* first = new TraceCommand(6, 3, 0);
    auto* second = new TraceCommand(6, 156, 0);
    controller.addTraceCommand(first);
    controller.addTraceCommand(second);
    auto* offered = new TraceCommand(qint8(command), quint8(type), quint8(motorBank));
    controller.addTraceCommand(offered);
    if (added)
        QCOMPARE(controller.traceCommands(), TraceList({first, second, offered}));
    else
        QCOMPARE(controller.traceCommands(), TraceList({first, second}));
}

void TestTrace::delayAppliesFromNextPause()
{
    // An empty list has its cycles all the same.
    Polling p(1500);
    click(p.controller.get(), "btnStart");
    QTRY_COMPARE(p.cycles(), 1);
    QVERIFY(p.asked.at(0).isEmpty());
    child<QSpinBox>(p.controller.get(), "sbDelay")->setValue(10);
    QCOMPARE(p.poller()->delay(), 10);
    QTRY_VERIFY_WITH_TIMEOUT(p.cycles() >= 3, 10000);
    // The pause in progress keeps its length; the next one is the new delay.
    const qint64 firstPause = p.startedMs.at(1) - p.startedMs.at(0);
    const qint64 secondPause = p.startedMs.at(2) - p.startedMs.at(1);
    QVERIFY2(firstPause >= 1400, qPrintable(QString::number(firstPause)));
    QVERIFY2(secondPause < 1000, qPrintable(QString::number(secondPause)));
}

// A cycle asks for one record per turn of the event loop, so whatever comes in during an
// exchange (the user's input in the window) is served before the next one. A hold taken in
// the middle of a cycle keeps its rest back until released; Stop leaves the rest out.
void TestTrace::cycleServedAnExchangeAtATime()
{
    for (const bool stop : {false, true}) {
        Polling p(100000);
        WTraceController* controller = p.controller.get();
        for (int type : {3, 13, 1, 0})
            controller->addTraceCommand(new TraceCommand(6, quint8(type), 0));
        QStringList served;
        QSignalSpy finished(controller, &WTraceController::cycleFinished);
        QObject::connect(p.poller(), &Poller::sampled, [&](const PollSample& sample) {
            served << QString::number(sample.type);
            if (served.size() == 1)
                QTimer::singleShot(0, [&] { served << "input"; });
            if (served.size() == 3) {
                if (stop)
                    click(controller, "btnStop");
                else
                    controller->holdPolling();
            }
        });
        click(controller, "btnStart");
        QTRY_COMPARE(served.size(), 3);
        QCOMPARE(served, QStringList({"3", "input", "13"}));
        if (stop) {
            QTRY_COMPARE(finished.size(), 1);
        } else {
            QTest::qWait(50);
            QCOMPARE(served.size(), 3);
            QCOMPARE(finished.size(), 0);
            controller->releasePolling();
            QTRY_COMPARE(finished.size(), 1);
            QCOMPARE(served, QStringList({"3", "input", "13", "1", "0"}));
            click(controller, "btnStop");
        }
        QTRY_VERIFY(!p.poller()->inCycle());
        QCoreApplication::processEvents();
        QCOMPARE(p.cycles(), 1);
        QCOMPARE(finished.size(), 1);
    }
}

void TestTrace::startStopInQuickSuccession()
{
    // A Stop right after Start is kept: no cycle is served.
    {
        Polling p(100000);
        click(p.controller.get(), "btnStart");
        click(p.controller.get(), "btnStop");
        QTest::qWait(20);
        QCOMPARE(p.cycles(), 0);
    }
    // Stop and Start again, in a pause or in a cycle: polling goes on each time, one cycle
    // at a time.
    Polling p(5);
    p.controller->addTraceCommand(new TraceCommand(6, 3, 0));
    p.controller->addTraceCommand(new TraceCommand(6, 13, 0));
    for (int round = 0; round < 20; ++round) {
        click(p.controller.get(), "btnStart");
        if (round % 2)
            QTRY_VERIFY(p.cycles() > 0);
        click(p.controller.get(), "btnStop");
        click(p.controller.get(), "btnStart");
        const int before = p.cycles();
        QTRY_VERIFY2(p.cycles() >= before + 3, qPrintable(QString::number(round)));
        QVERIFY(showsPolling(p.controller.get()));
        QVERIFY(p.poller()->isRunning());
        click(p.controller.get(), "btnStop");
    }
    QTRY_VERIFY(!p.poller()->inCycle());
    for (const QList<int>& asked : std::as_const(p.asked).mid(0, p.cycles() - 1))
        QVERIFY2(asked.size() <= 2, qPrintable(QString::number(asked.size())));
}

void TestTrace::pollingFollowsTheLink()
{
    // Without a link, Start says so once and does not start.
    {
        WTraceController controller;
        QSignalSpy starts(&controller, &WTraceController::start);
        LogCapture log;
        click(&controller, "btnStart");
        QCOMPARE(log.lines(), QStringList("could not send data: is device opened? "));
        QVERIFY(showsStopped(&controller));
        QCOMPARE(starts.size(), 0);
        QVERIFY(!controller.isPolling());
    }

    // Through the central panel: a module that falls silent, and Disconnect, both end
    // the polling; each time Start is offered again.
    PtyPeer peer;
    QVERIFY(peer.start());
    peer.setResponder(standingModule(7));
    BLDC bldc;
    auto* controller = bldc.findChild<WTraceController*>();
    controller->setDelay(0);
    QSignalSpy stops(controller, &WTraceController::stop);
    for (const bool silence : {true, false}) {
        peer.setSilent(false);
        bldc.openHandler(peer.portName(), QStringLiteral("Virtual"));
        click(controller, "btnStart");
        const int seen = peer.requestCount();
        QTRY_VERIFY(peer.requestCount() >= seen + 2 * bldc.traceCommands().size());
        stops.clear();
        if (silence) {
            LogCapture log;
            peer.setSilent(true);
            QTRY_VERIFY(showsStopped(controller));
            QVERIFY(
                log.contains(QStringLiteral("SerialUSBCommandHandler: communicationTimeouted! ")));
        } else {
            bldc.closeHandler();
            QVERIFY(showsStopped(controller));
        }
        QCOMPARE(stops.size(), 1);
        QTRY_VERIFY(!controller->poller()->inCycle());
        QVERIFY(!controller->poller()->isRunning());
    }
}

// Every answer is a sample of the one poller, with the time its reply arrived and its
// outcome. A refused answer is marked in the store and reaches neither a chart nor the
// recording; the charts keep each value's own time.
void TestTrace::samplesKeepTheirTimeAndOutcome()
{
    constexpr int Late = 40;
    PtyPeer peer;
    QVERIFY(peer.start());
    peer.setResponder([](const QByteArray& request) {
        const quint8 type = quint8(request.at(2));
        if (quint8(request.at(1)) == 6 && type == 13)
            return PtyPeer::answer(PtyPeer::replyFrame(2, 1, 3, 6, 4242));
        QList<PtyPeer::Chunk> reply = answerNegated(request);
        if (quint8(request.at(1)) == 6 && type == 1)
            reply.first().delayMs = Late;
        return reply;
    });
    MainWindow window;
    BLDC* bldc = window.centralPanel();
    bldc->openHandler(peer.portName(), QStringLiteral("Virtual"));
    QVERIFY(bldc->handler()->isOpen());
    auto* controller = bldc->findChild<WTraceController*>();
    const Poller* poller = controller->poller();
    QVERIFY(poller);
    QTemporaryDir dir;
    const QString file = dir.filePath("live.csv");
    QVERIFY(bldc->liveRecorder()->start(file, bldc->traceCommands()));

    // Each sample's time against the moment its request went out.
    QList<qint64> waited;
    qint64 asked = Poller::now();
    connect(poller, &Poller::sampled, this, [&](const PollSample& sample) {
        if (sample.type == 1)
            waited << sample.time - asked;
        asked = Poller::now();
    });
    connect(poller, &Poller::cycleStarted, this, [&] { asked = Poller::now(); });
    // Three whole cycles.
    connect(poller, &Poller::cycleFinished, this, [&] {
        if (poller->cycles() == 3)
            controller->setPolling(false);
    });
    controller->setDelay(0);
    controller->setPolling(true);
    QTRY_VERIFY(!controller->isPolling());
    bldc->liveRecorder()->stop();

    const SampleRing* refused = poller->storeOf(6, 13, 0);
    const SampleRing* late = poller->storeOf(6, 1, 0);
    const SampleRing* velocity = poller->storeOf(6, 3, 0);
    QVERIFY(refused && late && velocity);
    const int cycles = static_cast<int>(poller->cycles());
    QCOMPARE(refused->size(), cycles);
    QCOMPARE(refused->last()->outcome, PollSample::Outcome::Refused);
    QCOMPARE(refused->last()->status, 3);
    QCOMPARE(late->last()->outcome, PollSample::Outcome::Ok);
    QCOMPARE(late->last()->value, -1);
    for (qint64 wait : std::as_const(waited))
        QVERIFY2(wait >= Late, qPrintable(QString::number(wait)));

    for (WDrawer* drawer : bldc->findChildren<WDrawer*>()) {
        for (const Chart* chart : drawer->area()->charts()) {
            const SampleRing* store = poller->storeOf(6, quint8(chart->type()), 0);
            QVERIFY(store);
            if (store == refused) {
                QCOMPARE(chart->sampleCount(), 0);
                continue;
            }
            // The chart's times are the samples' own, on the area's clock.
            QCOMPARE(chart->sampleCount(), cycles);
            for (int i = 1; i < cycles; ++i)
                QCOMPARE(chart->time(i) - chart->time(0), store->at(i).time - store->at(0).time);
        }
    }
    // The refused value's column stays empty in every row.
    QFile csv(file);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(csv.readAll()).trimmed().split('\n');
    QCOMPARE(lines.size(), 1 + cycles);
    const int column =
        static_cast<int>(lines.first().split(',').indexOf(ParameterCatalogue::nameOf(13)));
    QVERIFY(column > 0);
    for (const QString& line : lines.mid(1)) {
        QCOMPARE(line.split(',').at(column), QString());
        QCOMPARE(line.split(',').at(column - 1), QString::number(-3));
    }
}

void TestTrace::recordingOfPollingCycles_data()
{
    QTest::addColumn<int>("answers"); // polls the module answers; -1: every one
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("lastRowValues");
    QTest::addColumn<QString>("ending");

    QTest::newRow("stopped after five cycles") << -1 << 5 << 7 << "recording stopped: ";
    // The fourth cycle has two answers, then the module falls silent.
    QTest::newRow("link lost in a cycle")
        << 3 * 7 + 2 << 4 << 2 << "recording ended, the link was lost: ";
}

void TestTrace::recordingOfPollingCycles()
{
    QFETCH(int, answers);
    QFETCH(int, rows);
    QFETCH(int, lastRowValues);
    QFETCH(QString, ending);

    // Each polled value answers its own number, made negative.
    PtyPeer peer;
    QVERIFY(peer.start());
    auto left = std::make_shared<std::atomic<int>>(-1);
    peer.setResponder([left](const QByteArray& request) {
        const bool polled = quint8(request.at(1)) == 6;
        if (polled && *left >= 0 && (*left)-- == 0)
            return QList<PtyPeer::Chunk>{};
        return PtyPeer::answer(PtyPeer::replyFrame(2, 1, 100, quint8(request.at(1)),
                                                   polled ? -quint8(request.at(2)) : 0));
    });
    MainWindow window;
    BLDC* bldc = window.centralPanel();
    bldc->openHandler(peer.portName(), QStringLiteral("Virtual"));
    QVERIFY(bldc->handler()->isOpen());
    QAction* entry = nullptr;
    for (QAction* action : window.menuBar()->actions().at(0)->menu()->actions())
        if (action->text().startsWith(QLatin1String("Record live values")))
            entry = action;
    QVERIFY(entry);
    auto* status = window.findChild<QLabel*>("lblRecording");
    QVERIFY(status && status->isHidden());

    QTemporaryDir dir;
    const QString file = dir.filePath("live.csv");
    LiveRecorder* recorder = bldc->liveRecorder();
    QString shownAtLastRow;
    connect(recorder, &LiveRecorder::rowsWritten, recorder, [&](int written) {
        if (written != rows)
            return;
        shownAtLastRow = status->text();
        // The user stops the recording here, unless the link goes first.
        if (answers < 0)
            recorder->stop();
    });
    QVERIFY(recorder->start(file, bldc->traceCommands()));
    QCOMPARE(entry->text(), QStringLiteral("S&top recording"));
    QVERIFY(!status->isHidden());
    LogCapture log;
    *left = answers;
    auto* controller = bldc->findChild<WTraceController*>();
    controller->setDelay(0);
    controller->setPolling(true);
    QTRY_VERIFY(!recorder->isRecording());
    controller->setPolling(false);

    // The header, then one complete row per cycle: the time, and each value it got.
    QFile csv(file);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QStringList lines = QString::fromUtf8(csv.readAll()).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 1 + rows + 1);
    QCOMPARE(lines.last(), QString());
    QStringList header{QStringLiteral("time_ms")};
    for (const TraceCommand* record : bldc->traceCommands())
        header << ParameterCatalogue::nameOf(record->type());
    QCOMPARE(lines.first().split(QLatin1Char(',')), header);
    qint64 lastTime = 0;
    for (int row = 1; row <= rows; ++row) {
        const QStringList fields = lines.at(row).split(QLatin1Char(','));
        QCOMPARE(fields.size(), header.size());
        QVERIFY(fields.at(0).toLongLong() >= lastTime);
        lastTime = fields.at(0).toLongLong();
        const int answered = row == rows ? lastRowValues : 7;
        for (int column = 1; column < fields.size(); ++column) {
            const int type = bldc->traceCommands().at(column - 1)->type();
            QCOMPARE(fields.at(column), column <= answered ? QString::number(-type) : QString());
        }
    }
    QCOMPARE(shownAtLastRow, QStringLiteral("Recording to live.csv: %1 rows").arg(rows));
    QVERIFY(log.contains(
        QStringLiteral("%1 \"%2\"  rows in  \"%3\" ").arg(ending).arg(rows).arg(file)));
    QCOMPARE(entry->text(), QStringLiteral("Record live values to &CSV…"));
    QVERIFY(status->isHidden());
}

void TestTrace::recordingNeverLeavesAFragment_data()
{
    QTest::addColumn<int>("answers"); // polls the module answers; -1: every one
    QTest::addColumn<int>("room");    // the most bytes a file may hold; 0: no limit
    QTest::addColumn<QString>("logged");

    QTest::newRow("full disk") << -1 << 600 << "could not write the recording: ";
    // The first cycle is never complete: an older file of the name stays as it was.
    QTest::newRow("silent module") << 0 << 0 << "no complete cycle recorded; file not written: ";
}

void TestTrace::recordingNeverLeavesAFragment()
{
    QFETCH(int, answers);
    QFETCH(int, room);
    QFETCH(QString, logged);

    PtyPeer peer;
    QVERIFY(peer.start());
    auto left = std::make_shared<std::atomic<int>>(-1);
    peer.setResponder([left](const QByteArray& request) {
        const bool polled = quint8(request.at(1)) == 6;
        if (polled && *left >= 0 && (*left)-- == 0) {
            *left = 0;
            return QList<PtyPeer::Chunk>{};
        }
        return PtyPeer::answer(PtyPeer::replyFrame(2, 1, 100, quint8(request.at(1)), 1234567));
    });
    MainWindow window;
    BLDC* bldc = window.centralPanel();
    bldc->openHandler(peer.portName(), QStringLiteral("Virtual"));
    QVERIFY(bldc->handler()->isOpen());
    QTemporaryDir dir;
    const QString file = dir.filePath("live.csv");
    const QByteArray older("time_ms,older\n0,1\n");
    QFile csv(file);
    QVERIFY(csv.open(QIODevice::WriteOnly));
    QCOMPARE(csv.write(older), older.size());
    csv.close();

    LogCapture log;
    LiveRecorder* recorder = bldc->liveRecorder();
    QSignalSpy failed(recorder, &LiveRecorder::failed);
    {
        std::unique_ptr<FileSizeLimit> disk(room > 0 ? new FileSizeLimit(room) : nullptr);
        QVERIFY(recorder->start(file, bldc->traceCommands()));
        *left = answers;
        auto* controller = bldc->findChild<WTraceController*>();
        controller->setDelay(0);
        controller->setPolling(true);
        QTRY_VERIFY(!recorder->isRecording());
        controller->setPolling(false);
    }
    QVERIFY2(!log.lines().filter(logged).isEmpty(), qPrintable(log.lines().join('\n')));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QByteArray content = csv.readAll();
    if (room == 0) {
        QCOMPARE(content, older);
        QCOMPARE(failed.size(), 0);
        return;
    }
    // The rows that fitted, every one whole; the window says why the recording ended.
    QVERIFY(content.size() <= room);
    QVERIFY(content.endsWith('\n'));
    const QList<QByteArray> lines = content.trimmed().split('\n');
    QVERIFY(lines.size() >= 3);
    for (const QByteArray& line : lines.mid(1))
        QCOMPARE(line.count(','), 7);
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.at(0).at(0).toString(), file);
    QVERIFY2(window.statusBar()->currentMessage().startsWith(
                 QStringLiteral("Recording failed: %1: ").arg(file)),
             qPrintable(window.statusBar()->currentMessage()));
}

int main(int argc, char** argv)
{
    // The window remembers its settings; these runs must not touch the user's.
    TemporaryConfig config;
    QApplication app(argc, argv);
    TestTrace test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_trace.moc"

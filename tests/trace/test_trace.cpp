#include "app/BLDC.h"
#include "app/MainWindow.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/TraceCommand.h"
#include "config/ParameterCatalogue.h"
#include "sim/PtyPeer.h"
#include "support/FileSizeLimit.h"
#include "support/LogCapture.h"
#include "support/PanelProbe.h"
#include "support/TemporaryConfig.h"
#include "trace/LiveRecorder.h"
#include "trace/ValueCheckerThread.h"
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
#include <functional>
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

// A controller on an open link that counts its polling cycles, notes when each began and
// which records each asked for.
struct Polling
{
    explicit Polling(int delayMs)
    {
        controller->setLinkOpen(true);
        controller->setDelay(delayMs);
        clock.start();
        QObject::connect(controller.get(), &WTraceController::cycleStarted, [this] {
            asked << TraceList();
            startedMs << clock.elapsed();
        });
        QObject::connect(controller.get(),
                         qOverload<TraceList*>(&WTraceController::requestTraceValues),
                         [this](TraceList* list) { asked.last() << *list; });
    }
    int cycles() const { return static_cast<int>(asked.size()); }
    ValueCheckerThread* thread() const { return controller->pollingThread(); }

    std::unique_ptr<WTraceController> controller = std::make_unique<WTraceController>();
    QElapsedTimer clock;
    // Per cycle, the records asked for, in order.
    QList<TraceList> asked;
    QList<qint64> startedMs;
};

// Calls `before` ahead of every queued call that reaches the object it filters.
class StopBeforeTick : public QObject
{
public:
    explicit StopBeforeTick(std::function<void()> before) : m_before(std::move(before)) {}
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::MetaCall)
            m_before();
        return false;
    }

private:
    std::function<void()> m_before;
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
    void mergedTicks();
    void cycleServedAnExchangeAtATime();
    void startStopInQuickSuccession();
    void destructionDuringLongPause();
    void pollingFollowsTheLink();
    void recordingOfPollingCycles_data();
    void recordingOfPollingCycles();
    void recordingNeverLeavesAFragment_data();
    void recordingNeverLeavesAFragment();
};

void TestTrace::startAndStop()
{
    Polling p(100000);
    WTraceController* controller = p.controller.get();
    QSignalSpy starts(controller, &WTraceController::start);
    QSignalSpy stops(controller, &WTraceController::stop);
    QVERIFY(showsStopped(controller));
    // The pause the thread takes is the one the spin box shows.
    QCOMPARE(child<QSpinBox>(controller, "sbDelay")->value(), 100000);
    QCOMPARE(p.thread()->delay(), 100000);
    QCOMPARE(WTraceController().pollingThread()->delay(), 20);

    controller->addTraceCommand(new TraceCommand(6, 3, 0));
    controller->addTraceCommand(new TraceCommand(6, 156, 0));
    QSignalSpy steps(controller, qOverload<TraceList*>(&WTraceController::requestTraceValues));
    QSignalSpy finished(controller, &WTraceController::cycleFinished);
    click(controller, "btnStart");
    QVERIFY(showsPolling(controller));
    QCOMPARE(starts.size(), 1);
    // The first cycle comes at once and asks for the controller's records in turn, one per
    // exchange; the next cycle only after the long pause.
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(p.cycles(), 1);
    QCOMPARE(p.asked.at(0), controller->traceCommands());
    QCOMPARE(steps.size(), 2);

    click(controller, "btnStop");
    QVERIFY(showsStopped(controller));
    QCOMPARE(stops.size(), 1);
    // Stop wakes the thread from its pause: it ends at once.
    QTRY_VERIFY(p.thread()->isFinished());
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
    // An empty list ticks all the same.
    Polling p(1500);
    click(p.controller.get(), "btnStart");
    QTRY_COMPARE(p.cycles(), 1);
    QVERIFY(p.asked.at(0).isEmpty());
    child<QSpinBox>(p.controller.get(), "sbDelay")->setValue(10);
    QCOMPARE(p.thread()->delay(), 10);
    QTRY_VERIFY_WITH_TIMEOUT(p.cycles() >= 3, 10000);
    // The pause in progress keeps its length; the next one is the new delay.
    const qint64 firstPause = p.startedMs.at(1) - p.startedMs.at(0);
    const qint64 secondPause = p.startedMs.at(2) - p.startedMs.at(1);
    QVERIFY2(firstPause >= 1400, qPrintable(QString::number(firstPause)));
    QVERIFY2(secondPause < 1000, qPrintable(QString::number(secondPause)));
}

void TestTrace::mergedTicks()
{
    // A cycle that takes far longer than the delay, like a slow link.
    Polling p(0);
    std::atomic<int> emitted{0};
    QObject::connect(
        p.thread(), &ValueCheckerThread::checkRequested, p.thread(), [&] { ++emitted; },
        Qt::DirectConnection);
    QObject::connect(p.controller.get(), &WTraceController::cycleStarted,
                     [] { QThread::msleep(15); });
    // Stop is pressed just as a tick is about to be served, after ten cycles.
    int servedAtStop = -1;
    StopBeforeTick stopper([&] {
        if (servedAtStop < 0 && p.cycles() >= 10 && emitted > p.cycles()) {
            servedAtStop = p.cycles();
            click(p.controller.get(), "btnStop");
        }
    });
    p.controller->installEventFilter(&stopper);

    click(p.controller.get(), "btnStart");
    QTRY_VERIFY(servedAtStop >= 0);
    QTRY_VERIFY(p.thread()->isFinished());
    QCoreApplication::processEvents();
    // No backlog: besides the ticks served, one was on its way, and it polled nothing.
    QCOMPARE(p.cycles(), servedAtStop);
    QVERIFY2(
        emitted == servedAtStop + 1,
        qPrintable(QStringLiteral("%1 ticks, %2 cycles").arg(emitted.load()).arg(servedAtStop)));
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
        QObject::connect(controller, qOverload<TraceList*>(&WTraceController::requestTraceValues),
                         [&](TraceList* list) {
                             QCOMPARE(list->size(), 1);
                             served << QString::number(list->first()->type());
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
        QTRY_VERIFY(p.thread()->isFinished());
        QCoreApplication::processEvents();
        QCOMPARE(p.cycles(), 1);
        QCOMPARE(finished.size(), 1);
    }
}

void TestTrace::startStopInQuickSuccession()
{
    // A Stop right after Start is kept: the thread ends without a cycle being served.
    {
        Polling p(100000);
        click(p.controller.get(), "btnStart");
        click(p.controller.get(), "btnStop");
        QTRY_VERIFY(p.thread()->isFinished());
        QCoreApplication::processEvents();
        QCOMPARE(p.cycles(), 0);
    }
    // Start again while the thread is still leaving its loop, or has just left it:
    // polling goes on each time.
    Polling p(5);
    for (int round = 0; round < 20; ++round) {
        click(p.controller.get(), "btnStart");
        if (round % 2)
            QTRY_VERIFY(p.cycles() > 0);
        click(p.controller.get(), "btnStop");
        click(p.controller.get(), "btnStart");
        const int before = p.cycles();
        QTRY_VERIFY2(p.cycles() >= before + 3, qPrintable(QString::number(round)));
        QVERIFY(showsPolling(p.controller.get()));
        QVERIFY(p.thread()->isRunning());
        click(p.controller.get(), "btnStop");
    }
}

void TestTrace::destructionDuringLongPause()
{
    Polling p(100000);
    click(p.controller.get(), "btnStart");
    QTRY_COMPARE(p.cycles(), 1);
    QElapsedTimer timer;
    timer.start();
    p.controller.reset();
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
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
        QVERIFY(!controller.pollingThread()->isRunning());
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
        QTRY_VERIFY(controller->pollingThread()->isFinished());
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

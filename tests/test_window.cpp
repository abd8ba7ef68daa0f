#include "BLDC.h"
#include "DebugLine.h"
#include "FileSizeLimit.h"
#include "LinkStatus.h"
#include "LogSink.h"
#include "LogView.h"
#include "MainWindow.h"
#include "MessageHandler.h"
#include "PanelProbe.h"
#include "ParameterCatalogue.h"
#include "ParameterToolTips.h"
#include "PtyPeer.h"
#include "RememberedSettings.h"
#include "SerialUSBCommandHandler.h"
#include "ServedModule.h"
#include "StdoutCapture.h"
#include "TemporaryConfig.h"
#include "WConnection.h"
#include "WDirectMode.h"
#include "WSerialConnection.h"
#include "WTraceController.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QGroupBox>
#include <QListView>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <thread>

namespace {

void sendDirect(BLDC* bldc, int command, int type)
{
    auto* direct = bldc->findChild<WDirectMode*>();
    child<QSpinBox>(direct, "sbRequestCommand")->setValue(command);
    child<QSpinBox>(direct, "sbRequestType")->setValue(type);
    QTest::mouseClick(child<QPushButton>(direct, "btnSend"), Qt::LeftButton);
}

bool offersReconnect(MainWindow& window)
{
    return child<QPushButton>(window.linkStatus(), "btnReconnect")->isVisibleTo(&window);
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void statusBarFollowsTheLink();
    void failedOpenAndReconnect();
    void pollingRateWhilePolling();
    void logInOrderFromEveryThread();
    void logKeepsTheLastLinesAndHidesFrames();
    void rememberedChoicesSendNothing();
    void rememberedUsbPortIfListed();
    void smallThings();

private:
    std::unique_ptr<TemporaryConfig> m_config;
};

void TestWindow::init()
{
    // Every test starts as on a first start, away from the user's settings.
    m_config = std::make_unique<TemporaryConfig>();
    qInstallMessageHandler(messageHandler);
    LogSink::instance().take();
}

void TestWindow::statusBarFollowsTheLink()
{
    PtyPeer peer;
    QVERIFY(peer.start());
    peer.setResponder(PtyPeer::answeringWith(1000));
    MainWindow window;
    LinkStatus* status = window.linkStatus();
    QCOMPARE(status->text(), QStringLiteral("Not connected"));
    QVERIFY(!offersReconnect(window));

    auto* serial = window.centralPanel()->serialConnection();
    child<QComboBox>(serial, "cmbBaudrates")->setCurrentText(QStringLiteral("19200"));
    child<QSpinBox>(serial, "sbAddress")->setValue(3);
    connectTo(serial, peer.portName());
    QCOMPARE(status->text(),
             QStringLiteral("Connected: %1, 19200 baud, address 3").arg(peer.portName()));
    QTest::mouseClick(child<QPushButton>(serial, "btnDisconnect"), Qt::LeftButton);
    QCOMPARE(status->text(), QStringLiteral("Not connected"));

    // A USB port keeps its own line settings.
    auto* usb = window.centralPanel()->usbConnection();
    connectTo(usb, peer.portName() + QStringLiteral("   [Virtual]"));
    QCOMPARE(status->text(),
             QStringLiteral("Connected: %1, own line settings, address 1").arg(peer.portName()));

    // The module falls silent: the link is lost, and the status says why.
    peer.setSilent(true);
    sendDirect(window.centralPanel(), 6, 4);
    QCOMPARE(status->state(), LinkStatus::State::Lost);
    QVERIFY2(status->text().startsWith(QStringLiteral("Link lost: ")), qPrintable(status->text()));
    QVERIFY(status->text().size() > QStringLiteral("Link lost: ").size());
    QVERIFY(offersReconnect(window));
    QVERIFY(buttonsShowDisconnected(usb));

    // Nothing reconnects by itself; one click on Reconnect opens the same port again.
    peer.setSilent(false);
    QTest::qWait(100);
    QCOMPARE(status->state(), LinkStatus::State::Lost);
    peer.clearRequests();
    QTest::mouseClick(child<QPushButton>(status, "btnReconnect"), Qt::LeftButton);
    QCOMPARE(status->text(),
             QStringLiteral("Connected: %1, own line settings, address 1").arg(peer.portName()));
    QVERIFY(!offersReconnect(window));
    QVERIFY(buttonsShowConnected(usb));
    QVERIFY(window.centralPanel()->handler()->isOpen());
    QVERIFY(peer.requestCount() > 0); // the panels read their values anew
    sendDirect(window.centralPanel(), 6, 4);
    QCOMPARE(status->state(), LinkStatus::State::Connected);

    // The port goes away (a cable pulled): the status bar and the log say why, alike.
    peer.stop();
    sendDirect(window.centralPanel(), 6, 4);
    QCOMPARE(status->state(), LinkStatus::State::Lost);
    const QString reason = status->text().mid(QStringLiteral("Link lost: ").size());
    QVERIFY(!reason.isEmpty());
    window.logView()->takeLines();
    QVERIFY(window.logView()->shownLines().contains(
        QStringLiteral("Debug: SerialUSBCommandHandler: connection lost (%1) ").arg(reason)));
    QVERIFY(offersReconnect(window));
}

void TestWindow::failedOpenAndReconnect()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("module"));
    MainWindow window;
    LinkStatus* status = window.linkStatus();
    auto* serial = window.centralPanel()->serialConnection();
    connectTo(serial, path);
    QCOMPARE(status->state(), LinkStatus::State::OpenFailed);
    const QString prefix = QStringLiteral("Could not open %1: ").arg(path);
    QVERIFY2(status->text().startsWith(prefix), qPrintable(status->text()));
    const QString reason = status->text().mid(prefix.size());
    QVERIFY(!reason.isEmpty());
    window.logView()->takeLines();
    QVERIFY(window.logView()->lines().contains(
        QStringLiteral("could not open: %1 (%2)").arg(path, reason)));
    QVERIFY(offersReconnect(window));
    QVERIFY(buttonsShowDisconnected(serial));

    // The module appears at that path: Reconnect opens it with the same settings.
    PtyPeer peer;
    QVERIFY(peer.start());
    peer.setResponder(PtyPeer::answeringWith(1000));
    QVERIFY(QFile::link(peer.portName(), path));
    QTest::mouseClick(child<QPushButton>(status, "btnReconnect"), Qt::LeftButton);
    QCOMPARE(status->text(), QStringLiteral("Connected: %1, 9600 baud, address 1").arg(path));
    QVERIFY(buttonsShowConnected(serial));
}

void TestWindow::pollingRateWhilePolling()
{
    MainWindow window;
    BLDC* bldc = window.centralPanel();
    connectTo(bldc->usbConnection(),
              bldc->simulatedModule()->portName() + QStringLiteral("   [Simulated]"));
    QVERIFY(bldc->handler()->isOpen());
    QVERIFY(window.linkStatus()->pollingText().isEmpty());
    bldc->traceController()->setPolling(true);
    // Measured over each second.
    QTRY_VERIFY_WITH_TIMEOUT(window.linkStatus()->pollingText().contains(QLatin1String("cycles/s")),
                             5000);
    const QString text = window.linkStatus()->pollingText();
    QRegularExpression rate(QStringLiteral("^Polling: (\\d+\\.\\d) cycles/s$"));
    const QRegularExpressionMatch match = rate.match(text);
    QVERIFY2(match.hasMatch(), qPrintable(text));
    QVERIFY(match.captured(1).toDouble() > 0);
    bldc->traceController()->setPolling(false);
    QVERIFY(window.linkStatus()->pollingText().isEmpty());
}

void TestWindow::logInOrderFromEveryThread()
{
    PtyPeer peer;
    QVERIFY(peer.start());
    peer.setResponder(PtyPeer::answeringWith(1000));
    SerialUSBDevice device(peer.portName(), QString());
    SerialUSBCommandHandler handler;
    handler.setDevice(&device);
    QVERIFY(handler.open());

    // From here on every line goes both ways.
    LogSink::instance().take();
    StdoutCapture out;
    LogView view;
    view.show();
    // A second thread writes while the GUI thread talks to the module.
    std::thread writer([] {
        for (int i = 0; i < 2000; ++i)
            DebugLine() << "from the second thread" << i;
    });
    for (int i = 0; i < 20; ++i)
        handler.getAxisParameter(0, 4);
    writer.join();
    // Without asking: the batch arrives by itself.
    QTRY_VERIFY(view.lines().size() >= 2000 + 20 * 4);
    QTest::qWait(LogView::BatchIntervalMs * 2);

    // The same lines, in the same order, as on standard output.
    QStringList printed = QString::fromLocal8Bit(out.text()).split(QLatin1Char('\n'));
    printed.removeAll(QString());
    QCOMPARE(view.lines(), printed);
    int next = 0;
    for (const QString& line : view.lines()) {
        if (line.startsWith(QLatin1String("Debug: from the second thread"))) {
            QCOMPARE(line, QStringLiteral("Debug: from the second thread %1 ").arg(next));
            ++next;
        }
    }
    QCOMPARE(next, 2000);
    // The request and reply lines of the exchanges are frames: hidden unless asked for.
    QVERIFY(view.lines().filter(QStringLiteral("VOKTRequest[")).size() == 40);
    QVERIFY(view.shownLines().filter(QStringLiteral("VOKT")).isEmpty());
    view.setShowFrames(true);
    QCOMPARE(view.shownLines(), view.lines());
}

void TestWindow::logKeepsTheLastLinesAndHidesFrames()
{
    LogSink sink;
    LogView view(sink);
    view.show();
    const int total = LogView::MaxLines + 2500;
    for (int i = 0; i < total; ++i)
        sink.keep(QStringLiteral("line %1").arg(i), i % 2 == 1);
    QTRY_COMPARE(view.lines().size(), LogView::MaxLines);
    QCOMPARE(view.lines().first(), QStringLiteral("line %1").arg(total - LogView::MaxLines));
    QCOMPARE(view.lines().last(), QStringLiteral("line %1").arg(total - 1));
    // Odd lines are frames.
    QCOMPARE(view.shownLines().size(), LogView::MaxLines / 2);
    QCOMPARE(view.shownLines().last(), QStringLiteral("line %1").arg(total - 2));
    QTest::mouseClick(child<QCheckBox>(&view, "cbShowFrames"), Qt::LeftButton);
    QCOMPARE(view.shownLines().size(), LogView::MaxLines);

    // A long line is shown to its end, not cut short.
    auto* list = child<QListView>(&view, "lstLog");
    const QString longLine(300, QLatin1Char('x'));
    sink.keep(longLine);
    view.takeLines();
    const QModelIndex last = list->model()->index(list->model()->rowCount() - 1, 0);
    QTRY_VERIFY(list->visualRect(last).width() >= list->fontMetrics().horizontalAdvance(longLine));

    // Lines that come while the view is hidden are there when it is shown again.
    view.hide();
    sink.keep(QStringLiteral("while hidden"));
    view.takeLines();
    view.show();
    QCOMPARE(view.shownLines().last(), QStringLiteral("while hidden"));

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("log.txt"));
    QVERIFY(view.saveTo(file));
    QFile saved(file);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromLocal8Bit(saved.readAll()), view.shownLines().join('\n') + '\n');
    QString error;
    QVERIFY(!view.saveTo(dir.filePath(QStringLiteral("no/such/dir/log.txt")), &error));
    QVERIFY(!error.isEmpty());
    // On a full disk the older file stays as it was.
    saved.close();
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray older = saved.readAll();
    saved.close();
    {
        FileSizeLimit disk(10);
        QVERIFY(!view.saveTo(file, &error));
    }
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), older);

    QTest::mouseClick(child<QPushButton>(&view, "btnClear"), Qt::LeftButton);
    QVERIFY(view.lines().isEmpty());
    QVERIFY(view.shownLines().isEmpty());
}

void TestWindow::rememberedChoicesSendNothing()
{
    PtyPeer peer;
    QVERIFY(peer.start());
    peer.setResponder(PtyPeer::answeringWith(1000));
    QSize left;
    {
        std::unique_ptr<MainWindow> first(MainWindow::createAndShow());
        auto* serial = first->centralPanel()->serialConnection();
        child<QComboBox>(serial, "cmbBaudrates")->setCurrentText(QStringLiteral("57600"));
        child<QSpinBox>(serial, "sbAddress")->setValue(9);
        connectTo(serial, peer.portName());
        QVERIFY(first->centralPanel()->handler()->isOpen());
        first->centralPanel()->traceController()->setDelay(75);
        first->logDock()->show();
        first->resize(first->size() + QSize(40, 30));
        left = first->size();
        first->close();
    }
    peer.clearRequests();

    // The next start shows the choices, opens nothing and sends nothing.
    std::unique_ptr<MainWindow> next(MainWindow::createAndShow());
    auto* serial = next->centralPanel()->serialConnection();
    QCOMPARE(child<QComboBox>(serial, "cmbDevices")->currentText(), peer.portName());
    QCOMPARE(child<QComboBox>(serial, "cmbBaudrates")->currentText(), QStringLiteral("57600"));
    QCOMPARE(child<QSpinBox>(serial, "sbAddress")->value(), 9);
    QCOMPARE(child<QSpinBox>(next->centralPanel()->traceController(), "sbDelay")->value(), 75);
    QVERIFY(next->logDock()->isVisible());
    QCOMPARE(next->size(), left);
    QCOMPARE(next->linkStatus()->text(), QStringLiteral("Not connected"));
    QVERIFY(!next->centralPanel()->handler()->device());
    QTest::qWait(300);
    QCOMPARE(peer.requestCount(), 0);
    QCOMPARE(next->centralPanel()->simulatedModule()->peer().requestCount(), 0);

    // Connect uses them.
    QTest::mouseClick(child<QPushButton>(serial, "btnConnect"), Qt::LeftButton);
    QCOMPARE(next->linkStatus()->text(),
             QStringLiteral("Connected: %1, 57600 baud, address 9").arg(peer.portName()));
}

void TestWindow::rememberedUsbPortIfListed()
{
    ServedModule module;
    QVERIFY(module.start());
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("settings.conf"));
    RememberedSettings(file).rememberUsbPort(module.portName());

    WConnection usb;
    WSerialConnection serial;
    WTraceController trace;
    usb.setSimulatedPort(module.portName());
    usb.refresh();
    auto* devices = child<QComboBox>(&usb, "cmbDevices");
    devices->insertItem(0, QStringLiteral("ttyACM7   [Other]"));
    devices->setCurrentIndex(0);
    RememberedSettings(file).attach(&usb, &serial, &trace);
    QCOMPARE(devices->currentText(), module.portName() + QStringLiteral("   [Simulated]"));

    // A port no longer listed leaves the list as it is.
    RememberedSettings(file).rememberUsbPort(QStringLiteral("ttyACM9"));
    devices->setCurrentIndex(0);
    RememberedSettings(file).attach(&usb, &serial, &trace);
    QCOMPARE(devices->currentIndex(), 0);
}

void TestWindow::smallThings()
{
    MainWindow window;
    QVERIFY(!window.windowIcon().isNull());
    BLDC* bldc = window.centralPanel();
    for (QWidget* panel : {static_cast<QWidget*>(bldc->usbConnection()),
                           static_cast<QWidget*>(bldc->serialConnection())})
        QCOMPARE(child<QPushButton>(panel, "btnUpdate")->toolTip(),
                 QStringLiteral("Look for ports again"));

    // Every parameter field names its number; a class used twice gets it in both places.
    QCOMPARE(ParameterToolTips::apply(bldc), ParameterCatalogue::panelFields().size() + 3);
    for (const ParameterCatalogue::PanelField& entry : ParameterCatalogue::panelFields()) {
        const QString tip = QStringLiteral("Axis parameter %1").arg(entry.number);
        int found = 0;
        for (QWidget* field : bldc->findChildren<QWidget*>(QLatin1String(entry.field))) {
            if (field->toolTip() == tip)
                ++found;
        }
        QVERIFY2(found > 0, entry.field);
    }

    // The direct panel marks a command carried out.
    auto* direct = bldc->findChild<WDirectMode*>();
    auto* status = child<QSpinBox>(direct, "sbReplyType");
    direct->requestResult(0, 6, 100, 1000);
    QCOMPARE(status->text(), QStringLiteral("100 (ok)"));
    direct->requestResult(0, 6, 4, 0);
    QCOMPARE(status->text(), QStringLiteral("4"));
}

int main(int argc, char** argv)
{
    // No test may read or write the user's settings, not even before the first init().
    TemporaryConfig config;
    QApplication app(argc, argv);
    TestWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_window.moc"

#include "app/BLDC.h"
#include "app/LinkStatus.h"
#include "app/LogView.h"
#include "app/MainWindow.h"
#include "app/MessageHandler.h"
#include "app/RememberedSettings.h"
#include "app/ScreenFit.h"
#include "app/TurningGuard.h"
#include "comm/DebugLine.h"
#include "comm/LogSink.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/VOKTRequest.h"
#include "config/Parameter.h"
#include "config/ParameterCatalogue.h"
#include "config/Poller.h"
#include "panels/connection/WConnection.h"
#include "panels/connection/WDirectMode.h"
#include "panels/connection/WSerialConnection.h"
#include "panels/motion/WVelocityControl.h"
#include "panels/parameters/ParameterPanel.h"
#include "panels/parameters/WPIDControl.h"
#include "sim/PtyPeer.h"
#include "sim/ServedModule.h"
#include "sim/SimulatedModule.h"
#include "support/FileSizeLimit.h"
#include "support/LogCapture.h"
#include "support/NextModal.h"
#include "support/PanelProbe.h"
#include "support/StdoutCapture.h"
#include "support/TemporaryConfig.h"
#include "trace/DrawerArea.h"
#include "trace/WDrawer.h"
#include "trace/WTraceController.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDockWidget>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/stat.h>
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

// The module's requests as "set 2 0" (writes) or "get 3" (reads, command 6).
QStringList describe(const QList<QByteArray>& frames)
{
    QStringList requests;
    for (const QByteArray& frame : frames) {
        const int command = quint8(frame.at(1));
        const int type = quint8(frame.at(2));
        requests << (command == 5 ? QStringLiteral("set %1 %2")
                                        .arg(type)
                                        .arg(vokt::takeBigEndian(frame.constData() + 4))
                                  : QStringLiteral("command %1 type %2").arg(command).arg(type));
    }
    return requests;
}

QTabWidget* mainTabs(BLDC* bldc)
{
    for (QTabWidget* tabs : bldc->findChildren<QTabWidget*>())
        if (tabs->count() == 7)
            return tabs;
    qFatal("no main tabs");
}

// What of the window's visible widgets shows less than it should: a label or a button
// narrower than its text, a number field too narrow for its widest value, a list narrower
// than its widest entry.
QStringList cutWidgets(QWidget* window)
{
    QStringList cut;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisible())
            continue;
        const QString name = widget->objectName() + QLatin1Char(' ');
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            if (!label->text().isEmpty() && label->width() < label->sizeHint().width())
                cut << name + label->text();
        } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
            const int text = button->fontMetrics().horizontalAdvance(button->text());
            if (button->width() < text + 8)
                cut << name + button->text();
        } else if (auto* choice = qobject_cast<QAbstractButton*>(widget)) {
            // Radio buttons and check boxes: the mark and the text.
            if (!choice->text().isEmpty() && choice->width() < choice->sizeHint().width())
                cut << name + choice->text();
        } else if (auto* box = qobject_cast<QSpinBox*>(widget)) {
            // The field's text area holds the longest of its values.
            const QLineEdit* edit = box->findChild<QLineEdit*>();
            int widest = 0;
            for (int value : {box->minimum(), box->maximum()})
                widest =
                    std::max(widest, edit->fontMetrics().horizontalAdvance(
                                         box->prefix() + QString::number(value) + box->suffix()));
            if (edit->contentsRect().width() - 4 < widest)
                cut << name + QString::number(widest);
        } else if (auto* list = qobject_cast<QComboBox*>(widget)) {
            int widest = 0;
            for (int i = 0; i < list->count(); ++i)
                widest = std::max(widest, list->fontMetrics().horizontalAdvance(list->itemText(i)));
            if (list->width() < widest + 30)
                cut << name + QString::number(widest);
        }
    }
    return cut;
}

void pressEscape(QWidget* widget)
{
    QTest::keyClick(widget, Qt::Key_Escape);
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void statusBarFollowsTheLink();
    void failedOpenAndReconnect();
    void lineNotCleanIsShown();
    void pollingRateWhilePolling();
    void logInOrderFromEveryThread();
    void logKeepsTheLastLinesAndHidesFrames();
    void rememberedChoicesSendNothing();
    void rememberedUsbPortIfListed();
    void smallThings();
    void stopMotorFromAnywhere();
    void fitsALaptopScreen();
    void splitterRemembered();
    void spacePausesTheCharts();
    void stopInDialogsAndOperations_data();
    void stopInDialogsAndOperations();
    void askBeforeLeavingATurningMotor();
    void signalsStopATurningMotor();
    void stopAfterALostLink();

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
    peer.setResponder(standingModule(1000));
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
    QVERIFY(status->warningText().isEmpty());
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
    peer.setResponder(standingModule(1000));
    QVERIFY(QFile::link(peer.portName(), path));
    QTest::mouseClick(child<QPushButton>(status, "btnReconnect"), Qt::LeftButton);
    QCOMPARE(status->text(), QStringLiteral("Connected: %1, 9600 baud, address 1").arg(path));
    QVERIFY(buttonsShowConnected(serial));
}

void TestWindow::lineNotCleanIsShown()
{
    MainWindow window;
    BLDC* bldc = window.centralPanel();
    LinkStatus* status = window.linkStatus();
    // The simulated module answers every request twice, the copy 5 ms later: a copy may be
    // taken for the answer to the next request, which reads another parameter.
    ServedModule* served = bldc->simulatedModule();
    served->peer().setResponder([served](const QByteArray& request) {
        QByteArray reply;
        served->withModule([&](SimulatedModule& module) { reply = module.handle(request); });
        return QList<PtyPeer::Chunk>{{0, reply}, {5, reply}};
    });
    auto* usb = window.centralPanel()->usbConnection();
    connectTo(usb, served->portName() + QStringLiteral("   [Simulated]"));
    QCOMPARE(status->state(), LinkStatus::State::Connected);
    QCOMPARE(status->warningText(),
             QStringLiteral("Reading the module's values: the line is not clean"));
    window.logView()->takeLines();
    QVERIFY(window.logView()->shownLines().contains(
        QStringLiteral("Debug: Reading the module's values: the line is not clean ")));

    // A file operation says so as well; closing the link takes the warning away.
    bldc->storeActualValues();
    QCOMPARE(status->warningText(),
             QStringLiteral("Storing actual values on the module: the line is not clean"));
    QTest::mouseClick(child<QPushButton>(usb, "btnDisconnect"), Qt::LeftButton);
    QVERIFY(status->warningText().isEmpty());
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
    peer.setResponder(standingModule(1000));
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
    peer.setResponder(standingModule(1000));
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
        first->resize(first->width(), first->height() - 30);
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

    // Every parameter field names its number, and every field of the catalogue is shown
    // somewhere.
    QSet<int> shown;
    for (ParameterPanel* panel : bldc->findChildren<ParameterPanel*>()) {
        for (QWidget* field : panel->findChildren<QWidget*>()) {
            if (const Parameter* parameter = panel->parameterOf(field)) {
                QCOMPARE(field->toolTip(),
                         QStringLiteral("Axis parameter %1").arg(parameter->number()));
                shown << parameter->number();
            }
        }
    }
    for (const ParameterCatalogue::Field& entry : ParameterCatalogue::fields())
        QVERIFY2(shown.contains(entry.number), qPrintable(QString::number(entry.number)));

    // The direct panel marks a command carried out.
    auto* direct = bldc->findChild<WDirectMode*>();
    auto* status = child<QSpinBox>(direct, "sbReplyType");
    direct->requestResult(0, 6, 100, 1000);
    QCOMPARE(status->text(), QStringLiteral("100 (ok)"));
    direct->requestResult(0, 6, 4, 0);
    QCOMPARE(status->text(), QStringLiteral("4"));
}

// "Stop motor" sits in a tool bar above the tabs, is enabled while a link is open, and
// writes target velocity 0 on a click or on Esc wherever the focus is in the window, ahead
// of the rest of a polling cycle in progress; Esc in a modal dialog also closes it.
void TestWindow::stopMotorFromAnywhere()
{
    MainWindow window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    BLDC* bldc = window.centralPanel();
    QAction* stop = window.stopMotorAction();
    auto* bar = child<QToolBar>(&window, "toolBarMotor");
    auto* button = child<QToolButton>(&window, "btnStopMotor");
    QVERIFY(bar->isVisible());
    QVERIFY(!bar->toggleViewAction()->isVisible());
    QVERIFY(!bar->isMovable());
    QCOMPARE(button->defaultAction(), stop);
    QCOMPARE(stop->text(), QStringLiteral("Stop motor"));
    QCOMPARE(stop->shortcut(), QKeySequence(Qt::Key_Escape));
    QVERIFY(bar->geometry().bottom() < bldc->geometry().top());
    QVERIFY(!stop->isEnabled());

    // A PID field of the "Torque mode" tab has the focus.
    WPIDControl* pid = nullptr;
    for (auto* candidate : bldc->findChildren<WPIDControl*>())
        if (child<QGroupBox>(candidate, "gbPidControl")->title() ==
            QLatin1String("Current PID control"))
            pid = candidate;
    QVERIFY(pid);
    auto* field = child<QSpinBox>(pid, "sbPSet1");
    reveal(field);
    field->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(field->hasFocus());

    // Without a link Esc does nothing.
    ServedModule& module = *bldc->simulatedModule();
    LogCapture log;
    pressEscape(field);
    QVERIFY(!log.contains(QStringLiteral("Stop motor ")));

    connectTo(bldc->usbConnection(), module.portName() + QStringLiteral("   [Simulated]"));
    QVERIFY(stop->isEnabled());
    field->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(field->hasFocus());
    bldc->handler()->setAxisParameter(0, 2, 2000);
    WTraceController* trace = bldc->traceController();
    trace->setDelay(0);
    trace->setPolling(true);
    const int before = module.peer().requestCount();
    QTRY_VERIFY(module.peer().requestCount() > before + 30);

    // The key comes in while a polling exchange is on the line; the write follows it at
    // once, before the cycle's next request.
    bool pressed = false;
    const QMetaObject::Connection during =
        connect(bldc->handler(), &SerialUSBCommandHandler::requestedTraceValue, this, [&] {
            if (pressed)
                return;
            pressed = true;
            module.peer().clearRequests();
            QCoreApplication::postEvent(
                field, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
            QCoreApplication::postEvent(
                field, new QKeyEvent(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier));
        });
    QTRY_VERIFY(pressed && module.peer().requestCount() > 0);
    disconnect(during);
    QTRY_VERIFY(module.peer().requestCount() > 1);
    QCOMPARE(describe(module.peer().requests()).value(0), QStringLiteral("set 2 0"));
    QVERIFY(log.contains(QStringLiteral("Stop motor ")));
    QVERIFY(field->hasFocus());
    QVERIFY(trace->isPolling());
    trace->setPolling(false);
    QTRY_VERIFY(!trace->poller()->inCycle());
    int target = -1;
    module.withModule([&](SimulatedModule& m) { target = m.axisParameter(2); });
    QCOMPARE(target, 0);

    // The tool bar's button writes the same, and so does Esc wherever the focus is.
    QCoreApplication::processEvents();
    module.peer().clearRequests();
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(describe(module.peer().requests()), QStringList{"set 2 0"});
    QWidget* const focused[] = {
        child<QWidget>(bldc, "cbCommutationMode"),
        child<QComboBox>(bldc->serialConnection(), "cmbDevices")->lineEdit(),
        child<QWidget>(bldc, "sbRequestValue"),
        child<QWidget>(bldc, "btnStart"),
    };
    for (QWidget* widget : focused) {
        reveal(widget);
        widget->setFocus(Qt::MouseFocusReason);
        QTRY_VERIFY(widget->hasFocus());
        module.peer().clearRequests();
        pressEscape(widget);
        QVERIFY2(describe(module.peer().requests()) == QStringList{"set 2 0"},
                 qPrintable(widget->objectName()));
    }

    // A modal dialog closes on Esc, and the motor is stopped, once; the window's button is
    // not shown live while the dialog blocks it.
    QDialog dialog(&window);
    dialog.setModal(true);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QVERIFY(!stop->isEnabled());
    module.peer().clearRequests();
    pressEscape(&dialog);
    QVERIFY(dialog.isHidden());
    QCOMPARE(describe(module.peer().requests()), QStringList{"set 2 0"});
    QVERIFY(stop->isEnabled());

    // Disconnect (the motor may still be coming to rest): disabled again.
    QTRY_VERIFY(QApplication::activeWindow() == &window);
    onNextModal<QMessageBox>(&window, [](QMessageBox* box) { box->defaultButton()->click(); });
    QTest::mouseClick(child<QPushButton>(bldc->usbConnection(), "btnDisconnect"), Qt::LeftButton);
    QVERIFY(!stop->isEnabled());
}

// With a file chooser open, or during a store, Esc writes the stop before anything else
// (the chooser still closes, the store is still cancelled); the store's progress dialog
// carries its own Stop motor, whose stop is the next exchange, and the store goes on.
void TestWindow::stopInDialogsAndOperations_data()
{
    QTest::addColumn<QString>("where");
    QTest::newRow("Esc in a file chooser") << "chooser";
    QTest::newRow("a pipe typed into a file chooser") << "pipe";
    QTest::newRow("Esc during a store") << "store";
    QTest::newRow("Stop motor during a store") << "button";
}

void TestWindow::stopInDialogsAndOperations()
{
    QFETCH(QString, where);
    MainWindow window;
    window.show();
    BLDC* bldc = window.centralPanel();
    ServedModule& module = *bldc->simulatedModule();
    connectTo(bldc->usbConnection(), module.portName() + QStringLiteral("   [Simulated]"));
    bldc->handler()->setAxisParameter(0, 2, 1000);
    LogCapture log;
    bool stopShownLive = true;
    if (where == QLatin1String("chooser")) {
        onNextModal<QFileDialog>(&window, [&](QFileDialog* chooser) {
            stopShownLive = window.stopMotorAction()->isEnabled();
            module.peer().clearRequests();
            // Where the user types: the key goes on to the dialog from there.
            QWidget* focus = QApplication::focusWidget();
            pressEscape(focus && chooser->isAncestorOf(focus) ? focus : chooser);
        });
        bldc->importSettings();
        QCOMPARE(describe(module.peer().requests()), QStringList{"set 2 0"});
        QVERIFY(log.contains(QStringLiteral("importFileName is empty! ")));
    } else if (where == QLatin1String("pipe")) {
        // Refused at once, not opened: open() would wait for a writer, the window with it.
        QTemporaryDir folder;
        const QString pipe = folder.filePath(QStringLiteral("settings.ini"));
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        onNextModal<QFileDialog>(&window, [&](QFileDialog* chooser) {
            stopShownLive = window.stopMotorAction()->isEnabled();
            module.peer().clearRequests();
            // Typed whole into the chooser's name field.
            child<QLineEdit>(chooser, "fileNameEdit")->setText(pipe);
            QMetaObject::invokeMethod(chooser, "accept");
        });
        bldc->importSettings();
        QCOMPARE(module.peer().requestCount(), 0);
        QCOMPARE(window.statusBar()->currentMessage(),
                 pipe + QStringLiteral(" is not a regular file (a pipe, a device or a socket): "
                                       "refused"));
        bldc->stopMotor();
    } else {
        onNextModal<QProgressDialog>(&window, [&](QProgressDialog* progress) {
            stopShownLive = window.stopMotorAction()->isEnabled();
            module.peer().clearRequests();
            if (where == QLatin1String("store")) {
                pressEscape(progress);
            } else
                QTest::mouseClick(child<QPushButton>(progress, "btnStopMotor"), Qt::LeftButton);
        });
        bldc->storeActualValues();
        const QStringList sent = describe(module.peer().requests());
        QCOMPARE(sent.value(0), QStringLiteral("set 2 0"));
        if (where == QLatin1String("store")) {
            QCOMPARE(sent.size(), 1);
        } else {
            // The rest of the store, to its last parameter.
            QVERIFY(sent.size() > 100);
            QCOMPARE(sent.filter(QStringLiteral("command 7 ")).size(), sent.size() - 1);
            QCOMPARE(sent.last(), QStringLiteral("command 7 type 255"));
        }
    }
    QVERIFY(!stopShownLive);
    QVERIFY(window.stopMotorAction()->isEnabled());
    int target = -1;
    module.withModule([&](SimulatedModule& m) { target = m.axisParameter(2); });
    QCOMPARE(target, 0);
}

// Disconnect, the other panel's Connect and closing the window on a turning motor ask
// first: Cancel keeps everything as it was, the default answer stops the motor and goes on.
void TestWindow::askBeforeLeavingATurningMotor()
{
    PtyPeer other;
    QVERIFY(other.start());
    other.setResponder(PtyPeer::answeringWith(0));
    MainWindow window;
    window.show();
    BLDC* bldc = window.centralPanel();
    ServedModule& module = *bldc->simulatedModule();
    auto* usb = bldc->usbConnection();
    auto* serial = bldc->serialConnection();
    const QString entry = module.portName() + QStringLiteral("   [Simulated]");
    auto* velocity = bldc->findChild<WVelocityControl*>();
    child<QSpinBox>(velocity, "sbTargetVelocity")->setValue(1000);
    const auto target = [&module] {
        int value = -1;
        module.withModule([&](SimulatedModule& m) { value = m.axisParameter(2); });
        return value;
    };
    const auto answer = [&window](QMessageBox::ButtonRole role, QString* asked) {
        onNextModal<QMessageBox>(&window, [role, asked](QMessageBox* box) {
            *asked = box->text() + QLatin1Char('|') + box->defaultButton()->text();
            for (QAbstractButton* button : box->buttons())
                if (box->buttonRole(button) == role)
                    return button->click();
            QTest::keyClick(box, Qt::Key_Return);
        });
    };
    const QString question = QStringLiteral("The motor is turning. Stop it first?|Stop motor");
    QCOMPARE(TurningGuard::question() + QStringLiteral("|Stop motor"), question);

    connectTo(usb, entry);
    child<QPushButton>(velocity, "btnRight")->click();
    QCOMPARE(target(), 1000);
    QString asked;
    answer(QMessageBox::RejectRole, &asked);
    QTest::mouseClick(child<QPushButton>(usb, "btnDisconnect"), Qt::LeftButton);
    QCOMPARE(asked, question);
    QVERIFY(bldc->handler()->isOpen());
    QVERIFY(buttonsShowConnected(usb));
    asked.clear();
    answer(QMessageBox::RejectRole, &asked);
    connectTo(serial, other.portName());
    QCOMPARE(asked, question);
    QVERIFY(buttonsShowDisconnected(serial));
    QCOMPARE(bldc->handler()->portName(), module.portName());
    QCOMPARE(target(), 1000);

    // The default answer (Enter).
    asked.clear();
    answer(QMessageBox::InvalidRole, &asked);
    QTest::mouseClick(child<QPushButton>(usb, "btnDisconnect"), Qt::LeftButton);
    QCOMPARE(asked, question);
    QCOMPARE(target(), 0);
    QVERIFY(!bldc->handler()->isOpen());

    connectTo(usb, entry);
    child<QPushButton>(velocity, "btnRight")->click();
    asked.clear();
    answer(QMessageBox::InvalidRole, &asked);
    QVERIFY(window.close());
    QCOMPARE(asked, question);
    QCOMPARE(target(), 0);
}

// SIGTERM, twice as a closing terminal may send it, closes the application's window as the
// user would, except that a turning motor is stopped without a question.
void TestWindow::signalsStopATurningMotor()
{
    std::unique_ptr<MainWindow> window(MainWindow::createAndShow());
    BLDC* bldc = window->centralPanel();
    ServedModule& module = *bldc->simulatedModule();
    connectTo(bldc->usbConnection(), module.portName() + QStringLiteral("   [Simulated]"));
    auto* velocity = bldc->findChild<WVelocityControl*>();
    child<QSpinBox>(velocity, "sbTargetVelocity")->setValue(1000);
    child<QPushButton>(velocity, "btnRight")->click();
    const auto target = [&module] {
        int value = -1;
        module.withModule([&](SimulatedModule& m) { value = m.axisParameter(2); });
        return value;
    };
    QCOMPARE(target(), 1000);
    ::raise(SIGTERM);
    ::raise(SIGTERM);
    QTRY_VERIFY(!window->isVisible());
    QCOMPARE(target(), 0);
    window.reset();
    // The rest of the run ends on a signal as a test does.
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, SIG_DFL);
}

// After a time-out closed the link, Stop motor stays enabled and writes the stop on the port
// opened again for it alone; the link shown as down stays down.
void TestWindow::stopAfterALostLink()
{
    PtyPeer peer;
    QVERIFY(peer.start());
    peer.setResponder(standingModule(0));
    MainWindow window;
    BLDC* bldc = window.centralPanel();
    connectTo(bldc->serialConnection(), peer.portName());
    QVERIFY(bldc->handler()->isOpen());
    peer.setSilent(true);
    bldc->handler()->getAxisParameter(0, 3);
    QVERIFY(!bldc->handler()->isOpen());
    QVERIFY(window.stopMotorAction()->isEnabled());
    // The lamps say they know no word now.
    QVERIFY(child<QGroupBox>(bldc, "gbStatusFlags")->property("unknown").toBool());
    const QString lost = window.linkStatus()->text();
    peer.setSilent(false);
    peer.clearRequests();
    window.stopMotorAction()->trigger();
    QCOMPARE(describe(peer.requests()), QStringList{"set 2 0"});
    QVERIFY(!bldc->handler()->isOpen());
    QVERIFY(buttonsShowDisconnected(bldc->serialConnection()));
    QCOMPARE(window.linkStatus()->text(), lost);
    QVERIFY(offersReconnect(window));
    QVERIFY(window.stopMotorAction()->isEnabled());
}

// At 1280 x 680 (a 1280 x 720 screen less its task bar) everything shows, whole: the
// seven tabs without scroll arrows, every page without scrolling, every label, field and
// list at its full width, the status flags, the three charts and the status bar.
void TestWindow::fitsALaptopScreen()
{
    MainWindow window;
    BLDC* bldc = window.centralPanel();
    const QSize laptop(1280, 680);
    QVERIFY(window.minimumSizeHint().width() <= laptop.width());
    QVERIFY(window.minimumSizeHint().height() <= laptop.height());
    window.resize(laptop);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.size(), laptop);

    QTabWidget* tabs = mainTabs(bldc);
    QTabBar* bar = tabs->tabBar();
    QVERIFY(bar->tabRect(tabs->count() - 1).right() < bar->width());
    for (const QToolButton* arrow : bar->findChildren<QToolButton*>())
        QVERIFY(!arrow->isVisible());
    // The port list shows the simulated module's entry whole.
    auto* devices = child<QComboBox>(bldc->usbConnection(), "cmbDevices");
    QVERIFY(devices->currentText().endsWith(QLatin1String("[Simulated]")));
    QVERIFY(devices->width() > devices->fontMetrics().horizontalAdvance(devices->currentText()));

    const QRect inside = window.rect();
    for (int page = 0; page < tabs->count(); ++page) {
        tabs->setCurrentIndex(page);
        QApplication::processEvents();
        auto* area = qobject_cast<QScrollArea*>(tabs->currentWidget());
        QVERIFY(area);
        QTRY_VERIFY2(!area->horizontalScrollBar()->isVisible(), qPrintable(tabs->tabText(page)));
        QTRY_VERIFY2(!area->verticalScrollBar()->isVisible(), qPrintable(tabs->tabText(page)));
        const QStringList cut = cutWidgets(&window);
        QVERIFY2(cut.isEmpty(), qPrintable(tabs->tabText(page) + ": " + cut.join(", ")));
    }
    const auto shows = [&window, inside](QWidget* widget) {
        const QRect where(widget->mapTo(&window, QPoint(0, 0)), widget->size());
        return widget->isVisible() && inside.contains(where);
    };
    QVERIFY(shows(child<QWidget>(bldc, "gbStatusFlags")));
    QVERIFY(shows(window.statusBar()));
    for (WDrawer* drawer : bldc->drawers()) {
        QVERIFY(shows(drawer));
        QVERIFY(drawer->area()->height() >= 100);
    }

    // On a larger screen the charts take the height the tabs do not need.
    window.resize(1366, 728);
    QApplication::processEvents();
    const int tabsHeight = tabs->height();
    const int chartHeight = bldc->drawers().first()->height();
    window.resize(1366, 1000);
    QApplication::processEvents();
    QCOMPARE(tabs->height(), tabsHeight);
    QVERIFY(bldc->drawers().first()->height() >= chartHeight + 80);

    // The log opens inside the window's height: the window keeps its size, the status bar
    // stays in view.
    window.resize(laptop);
    QApplication::processEvents();
    window.logDock()->show();
    QTRY_VERIFY(window.logDock()->isVisible());
    QApplication::processEvents();
    QCOMPARE(window.size(), laptop);
    QVERIFY(window.minimumSizeHint().height() <= laptop.height());
    QVERIFY(shows(window.statusBar()));
    QVERIFY(shows(window.logDock()));
    window.logDock()->hide();
    QApplication::processEvents();
    QCOMPARE(window.size(), laptop);

    // A size remembered from a larger screen fits this one.
    window.resize(4000, 3000);
    ScreenFit::keepOnScreen(&window);
    const QRect free =
        ScreenFit::freeArea(window.screen()->availableGeometry(), window.screen()->geometry());
    QVERIFY(window.height() <= std::max(free.height(), window.minimumSizeHint().height()));
    QVERIFY(window.width() <= std::max(free.width(), window.minimumSizeHint().width()));
}

void TestWindow::splitterRemembered()
{
    QList<int> left;
    {
        std::unique_ptr<MainWindow> first(MainWindow::createAndShow());
        QSplitter* splitter = first->centralPanel()->chartSplitter();
        QVERIFY(splitter->sizes().at(0) > 150);
        splitter->setSizes({150, splitter->sizes().at(0) + splitter->sizes().at(1) - 150});
        left = splitter->sizes();
        first->close();
    }
    std::unique_ptr<MainWindow> next(MainWindow::createAndShow());
    QCOMPARE(next->centralPanel()->chartSplitter()->sizes(), left);
}

// Space pauses and resumes every chart where no field takes the key; each panel's own
// Pause and the window's toggle stay in step.
void TestWindow::spacePausesTheCharts()
{
    MainWindow window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    const QList<WDrawer*> drawers = window.centralPanel()->drawers();
    QAction* pause = window.pauseChartsAction();
    const auto paused = [&drawers] {
        int count = 0;
        for (const WDrawer* drawer : drawers)
            count += drawer->isPaused();
        return count;
    };

    // A click on a chart takes the focus from any field.
    DrawerArea* area = drawers.at(1)->area();
    QTest::mouseClick(area, Qt::LeftButton, {}, QPoint(150, 40));
    QTRY_VERIFY(area->hasFocus());
    QTest::keyClick(area, Qt::Key_Space);
    QCOMPARE(paused(), 3);
    QVERIFY(pause->isChecked());
    drawers.at(2)->pauseAction()->trigger();
    QCOMPARE(paused(), 2);
    QVERIFY(!pause->isChecked());
    QTest::keyClick(area, Qt::Key_Space);
    QCOMPARE(paused(), 3);
    QTest::keyClick(area, Qt::Key_Space);
    QCOMPARE(paused(), 0);
    QVERIFY(!pause->isChecked());

    // A field keeps Space for itself.
    auto* port = child<QComboBox>(window.centralPanel()->serialConnection(), "cmbDevices");
    reveal(port);
    port->lineEdit()->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(port->lineEdit()->hasFocus());
    port->setEditText(QStringLiteral("ttyS"));
    QTest::keyClick(port->lineEdit(), Qt::Key_Space);
    QCOMPARE(port->currentText(), QStringLiteral("ttyS "));
    QCOMPARE(paused(), 0);

    // The tool bar's button.
    QTest::mouseClick(child<QToolButton>(&window, "btnPauseCharts"), Qt::LeftButton);
    QCOMPARE(paused(), 3);
    QCOMPARE(pause->text(), QStringLiteral("Resume charts"));
    QVERIFY(!pause->toolTip().isEmpty());
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

#include "app/BLDC.h"
#include "app/LogModel.h"
#include "app/MainWindow.h"
#include "app/MessageHandler.h"
#include "comm/DebugLine.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/SerialUSBDevice.h"
#include "comm/TraceCommand.h"
#include "config/ParameterCatalogue.h"
#include "panels/connection/WConnection.h"
#include "panels/connection/WDirectMode.h"
#include "panels/connection/WSerialConnection.h"
#include "sim/PtyPeer.h"
#include "sim/ServedModule.h"
#include "sim/SimulatedModule.h"
#include "support/LogCapture.h"
#include "support/PanelProbe.h"
#include "support/SimulatedPanel.h"
#include "support/StdoutCapture.h"
#include "support/TemporaryConfig.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <memory>

namespace {

void sendDirect(BLDC& bldc, int command, int type, int motorBank, int value)
{
    auto* direct = bldc.findChild<WDirectMode*>();
    child<QSpinBox>(direct, "sbRequestCommand")->setValue(command);
    child<QSpinBox>(direct, "sbRequestType")->setValue(type);
    child<QSpinBox>(direct, "sbRequestMotorBank")->setValue(motorBank);
    child<QSpinBox>(direct, "sbRequestValue")->setValue(value);
    QTest::mouseClick(child<QPushButton>(direct, "btnSend"), Qt::LeftButton);
}

// Child mode of this executable: writes a few messages through the tool's message handler,
// then a fatal one, after which nothing more may appear.
int emitMessages()
{
    qInstallMessageHandler(messageHandler);
    qDebug("first line");
    qInfo("an info message is not written");
    qWarning("second line");
    qCritical("third line");
    DebugLine() << "composed" << QStringLiteral("quoted");
    qFatal("last line");
    std::puts("after the fatal message");
    return 0;
}

} // namespace

class TestApp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void startUp();
    void menus();
    void aboutText();
    void exitClosesWindow();
    void listDiagnostics();
    void refreshIcon();
    void tabs();
    void messageHandlerOutput();
    void emptyNameAndEarlyDisconnect();
    void connectToSimulatedModule();
    void serialConnectionCarriesAddress();
    void replacedDeviceIsReleased();
    void failedConnectOffersConnect();
    void otherPanelTakesTheLink();
    void typedPathOnSerialPanel();
    void timeoutResetsThePanel();
    void logModelShowsWhatItKeeps();
};

void TestApp::initTestCase()
{
    // As the application does before it builds its window (in place of Qt Test's own).
    qInstallMessageHandler(messageHandler);
}

void TestApp::startUp()
{
    StdoutCapture out;
    std::unique_ptr<MainWindow> window(MainWindow::createAndShow());
    const QByteArray text = out.text();
    QCOMPARE(window->windowTitle(), QStringLiteral("ZIRO-BLDC"));
    // As large as the screen's free area allows (leaving room for a task bar), or as the
    // layout needs at least.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize first = MainWindow::firstStartSize(screen->availableGeometry(), screen->geometry());
    QCOMPARE(window->size(), first.expandedTo(window->minimumSizeHint()));
    QCOMPARE(MainWindow::firstStartSize(QRect(0, 0, 1280, 720), QRect(0, 0, 1280, 720)),
             QSize(1280, 680));
    QCOMPARE(MainWindow::firstStartSize(QRect(0, 0, 1366, 730), QRect(0, 0, 1366, 768)),
             QSize(1366, 730));
    QCOMPARE(MainWindow::firstStartSize(QRect(0, 0, 2560, 1400), QRect(0, 0, 2560, 1440)),
             QSize(1600, 1000));
    QVERIFY(window->isVisible());
    QVERIFY(qobject_cast<BLDC*>(window->centralWidget()));
    // The curves of the charts, then what the position, current, PWM and status flags
    // panels watch, each value once.
    QByteArray expected = "TraceCommand->size(): 7\n";
    for (int type : {3, 13, 1, 0, 153, 150, 156})
        expected +=
            "Debug: TraceCommand:  \"6\" ,  \"" + QByteArray::number(type) + "\" ,  \"0\" \n";
    QVERIFY2(text.contains(expected), text.constData());
    // The command line's watch polls the same list.
    QList<vokt::ParameterNumber> polled;
    for (const TraceCommand* record : qobject_cast<BLDC*>(window->centralWidget())->traceCommands())
        polled << record->type();
    QCOMPARE(polled, ParameterCatalogue::liveValues());
}

void TestApp::menus()
{
    MainWindow window;
    const QList<QAction*> bar = window.menuBar()->actions();
    QCOMPARE(bar.size(), 4);
    QCOMPARE(bar.at(0)->text(), QStringLiteral("&File"));
    QCOMPARE(bar.at(1)->text(), QStringLiteral("&View"));
    QCOMPARE(bar.at(2)->text(), QStringLiteral("&Tools"));
    QCOMPARE(bar.at(3)->text(), QStringLiteral("&Help"));

    auto entries = [](QMenu* menu) {
        QStringList texts;
        for (QAction* action : menu->actions()) {
            texts << (action->isSeparator() ? QStringLiteral("---") : action->text());
            if (!action->shortcut().isEmpty() || action->isCheckable())
                texts << QStringLiteral("(decorated)");
            // Every entry carries an icon: the theme's, or the tool's own.
            if (!action->isSeparator() && action->icon().isNull())
                texts << QStringLiteral("(no icon)");
        }
        return texts;
    };
    QCOMPARE(entries(bar.at(0)->menu()),
             QStringList({"&Export settings to *.ini", "&Import settings from *.ini",
                          "Co&mpare with settings file…", "Save commissioning recor&d…", "---",
                          "Export settings to &VOKT", "---", "&Store actual values",
                          "&Restore actual values", "---", "Record live values to &CSV…", "---",
                          "E&xit", "(decorated)"}));
    QCOMPARE(bar.at(0)->menu()->actions().last()->shortcut(),
             QKeySequence(QStringLiteral("Ctrl+Q")));
    // View: the log dock, shown or hidden; the charts paused or not (Space).
    QCOMPARE(entries(bar.at(1)->menu()),
             QStringList({"&Log", "(decorated)", "---", "&Pause charts\tSpace", "(decorated)"}));
    QCOMPARE(entries(bar.at(2)->menu()),
             QStringList({"&Step response…", "&Frequency response…", "&Tune velocity loop…",
                          "&Commission modules on the line…"}));
    QCOMPARE(entries(bar.at(3)->menu()), QStringList({"&About"}));
}

void TestApp::aboutText()
{
    QCOMPARE(MainWindow::versionInfoText(),
             QStringLiteral("ZIRO-BLDC\nVersion:  \t1.2\nBuild-ID: \t120"));

    // The box shows the three lines as they are, and the package's version below them.
    MainWindow window;
    QString title;
    QString text;
    QString below;
    QTimer look;
    connect(&look, &QTimer::timeout, &window, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        look.stop();
        title = box->windowTitle();
        text = box->text();
        below = box->informativeText();
        box->accept();
    });
    look.start(10);
    window.showVersionInfo();
    QCOMPARE(title, QStringLiteral("About this Version..."));
    QCOMPARE(text, MainWindow::versionInfoText());
    QVERIFY2(below.startsWith(QStringLiteral("ziro-bldc " ZIRO_PROJECT_VERSION)),
             qPrintable(below));
}

void TestApp::exitClosesWindow()
{
    std::unique_ptr<MainWindow> window(MainWindow::createAndShow());
    QVERIFY(window->isVisible());
    QAction* exitAction = nullptr;
    for (QAction* action : window->menuBar()->actions().at(0)->menu()->actions())
        if (action->text() == QLatin1String("E&xit"))
            exitAction = action;
    QVERIFY(exitAction);
    exitAction->trigger();
    QVERIFY(!window->isVisible());
}

void TestApp::listDiagnostics()
{
    qInstallMessageHandler(messageHandler);
    TraceCommand velocity(6, 3, 0), pwm(6, 153, 0), flags(6, 156, 0);
    StdoutCapture out;
    BLDC::writeTraceListDiagnostics({&velocity, &pwm, &flags});
    QCOMPARE(QString::fromLatin1(out.text()),
             QStringLiteral("TraceCommand->size(): 3\n"
                            "Debug: TraceCommand:  \"6\" ,  \"3\" ,  \"0\" \n"
                            "Debug: TraceCommand:  \"6\" ,  \"153\" ,  \"0\" \n"
                            "Debug: TraceCommand:  \"6\" ,  \"156\" ,  \"0\" \n"));
}

void TestApp::refreshIcon()
{
    const QImage icon(QStringLiteral(":/Refresh-icon.png"));
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.size(), QSize(24, 24));
    QVERIFY(icon.hasAlphaChannel());
    WConnection usb;
    WSerialConnection serial;
    QVERIFY(!child<QPushButton>(&usb, "btnUpdate")->icon().isNull());
    QVERIFY(child<QPushButton>(&usb, "btnUpdate")->text().isEmpty());
    QVERIFY(!child<QPushButton>(&serial, "btnUpdate")->icon().isNull());
}

void TestApp::tabs()
{
    BLDC bldc;
    const QList<QTabWidget*> tabWidgets = bldc.findChildren<QTabWidget*>();
    QTabWidget* mainTabs = nullptr;
    QTabWidget* connectionTabs = nullptr;
    for (QTabWidget* tabs : tabWidgets)
        (tabs->count() == 7 ? mainTabs : connectionTabs) = tabs;
    QVERIFY(mainTabs && connectionTabs);

    QStringList titles;
    for (int i = 0; i < mainTabs->count(); ++i)
        titles << mainTabs->tabText(i);
    QCOMPARE(titles, QStringList({"Connection", "Settings", "Torque mode", "Velocity mode",
                                  "Positioning mode", "PWM mode", "VOKT"}));
    // At least 500 pixels, and wide enough for all seven tabs.
    QVERIFY(mainTabs->minimumWidth() >= 500);
    QVERIFY(mainTabs->minimumWidth() >= mainTabs->tabBar()->sizeHint().width());
    QCOMPARE(mainTabs->maximumWidth(), 900);
    QCOMPARE(mainTabs->maximumHeight(), 300);
    QCOMPARE(connectionTabs->maximumHeight(), 200);
    QVERIFY(mainTabs->widget(0)->isAncestorOf(connectionTabs));
    QCOMPARE(connectionTabs->tabText(0), QStringLiteral("USB"));
    QCOMPARE(connectionTabs->tabText(1), QStringLiteral("Serial"));
    QVERIFY(connectionTabs->widget(0)->findChild<WConnection*>());
    QVERIFY(connectionTabs->widget(1)->findChild<WSerialConnection*>());
    QVERIFY(mainTabs->widget(6)->findChild<WDirectMode*>());
}

void TestApp::messageHandlerOutput()
{
    QProcess process;
    process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--emit-messages")});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    QCOMPARE(QString::fromLocal8Bit(process.readAllStandardOutput()),
             QStringLiteral("Debug: first line\n"
                            "Warning: second line\n"
                            "Critical: third line\n"
                            "Debug: composed \"quoted\" \n"
                            "Fatal: last line\n"));
}

void TestApp::emptyNameAndEarlyDisconnect()
{
    BLDC bldc;
    auto* usb = bldc.findChild<WConnection*>();
    auto* serial = bldc.findChild<WSerialConnection*>();
    LogCapture log;

    // Disconnect before any Connect: nothing is attached, nothing changes.
    bldc.closeHandler();
    bldc.closeSerialHandler();
    QVERIFY(!bldc.handler()->device());
    QVERIFY(buttonsShowDisconnected(usb));
    QVERIFY(buttonsShowDisconnected(serial));

    // An empty port name is ignored without a word, on either path.
    bldc.openHandler(QString(), QStringLiteral("Virtual"));
    bldc.openSerialHandler(QString(), 9600, 1);
    QVERIFY(!bldc.handler()->device());
    QVERIFY2(log.lines().isEmpty(), qPrintable(log.lines().join('\n')));

    // The same through the panels with nothing chosen: no link, so Connect stays offered.
    for (QWidget* panel : {static_cast<QWidget*>(usb), static_cast<QWidget*>(serial)}) {
        child<QComboBox>(panel, "cmbDevices")->clear();
        QTest::mouseClick(child<QPushButton>(panel, "btnConnect"), Qt::LeftButton);
        QVERIFY(buttonsShowDisconnected(panel));
    }
    QVERIFY(!bldc.handler()->device());
}

void TestApp::connectToSimulatedModule()
{
    SimulatedPanel simulated;
    BLDC& bldc = simulated.bldc;
    QVERIFY(bldc.simulatedModule() && bldc.simulatedModule()->isRunning());
    auto* usb = bldc.findChild<WConnection*>();
    auto* devices = child<QComboBox>(usb, "cmbDevices");
    const QString entry = bldc.simulatedModule()->portName() + QStringLiteral("   [Simulated]");
    QCOMPARE(devices->itemText(devices->count() - 1), entry);

    connectTo(usb, entry);
    QVERIFY(buttonsShowConnected(usb));
    SerialUSBCommandHandler* handler = bldc.handler();
    QVERIFY(handler->isOpen());
    QCOMPARE(handler->portName(), bldc.simulatedModule()->portName());
    QCOMPARE(handler->description(), QStringLiteral("Simulated"));
    QCOMPARE(handler->moduleAddress(), 1);
    QVERIFY(!handler->device()->isBaudRateSet());

    // The raw command panel on the "VOKT" tab talks to the module through the handler.
    sendDirect(bldc, 6, 4, 0, 0);
    auto* direct = bldc.findChild<WDirectMode*>();
    QCOMPARE(child<QSpinBox>(direct, "sbReplyCommand")->value(), 6);
    QCOMPARE(child<QSpinBox>(direct, "sbReplyType")->value(), int(vokt::StatusOk));
    QCOMPARE(child<QSpinBox>(direct, "sbReplyMotorBank")->value(), 0);
    QCOMPARE(child<QSpinBox>(direct, "sbReplyValue")->value(),
             SimulatedModule::parameterInfo(ParameterCatalogue::MaxRampVelocity).defaultValue);

    QTest::mouseClick(child<QPushButton>(usb, "btnDisconnect"), Qt::LeftButton);
    QVERIFY(buttonsShowDisconnected(usb));
    QVERIFY(!handler->isOpen());
}

void TestApp::serialConnectionCarriesAddress()
{
    PtyPeer peer;
    QVERIFY(peer.start());
    peer.setResponder(standingModule(1000));
    BLDC bldc;
    auto* serial = bldc.findChild<WSerialConnection*>();
    auto* usb = bldc.findChild<WConnection*>();

    {
        LogCapture log;
        connectTo(serial, peer.portName());
        QVERIFY2(log.contains(QStringLiteral("baudrate:  9600    address:  1 ")),
                 qPrintable(log.lines().join('\n')));
    }
    QVERIFY(bldc.handler()->isOpen());
    QCOMPARE(bldc.handler()->device()->baudRate(), 9600);
    QVERIFY(bldc.handler()->device()->isBaudRateSet());

    // Another address and rate: the frames carry the address chosen on the panel.
    QTest::mouseClick(child<QPushButton>(serial, "btnDisconnect"), Qt::LeftButton);
    QVERIFY(!bldc.handler()->isOpen());
    child<QSpinBox>(serial, "sbAddress")->setValue(7);
    child<QComboBox>(serial, "cmbBaudrates")->setCurrentText(QStringLiteral("115200"));
    {
        LogCapture log;
        connectTo(serial, peer.portName());
        QVERIFY(log.contains(QStringLiteral("baudrate:  115200    address:  7 ")));
    }
    QCOMPARE(bldc.handler()->device()->baudRate(), 115200);
    peer.clearRequests();
    sendDirect(bldc, 6, 4, 0, 0);
    QVERIFY(peer.waitForRequests(1, 2000));
    QCOMPARE(peer.requests().at(0).toHex(' '), QByteArray("07 06 04 00 00 00 00 00 11"));
    QCOMPARE(child<QSpinBox>(bldc.findChild<WDirectMode*>(), "sbReplyValue")->value(), 1000);

    // A USB connection afterwards speaks to address 1 again.
    connectTo(usb, peer.portName() + QStringLiteral("   [Simulated]"));
    peer.clearRequests();
    sendDirect(bldc, 6, 4, 0, 0);
    QVERIFY(peer.waitForRequests(1, 2000));
    QCOMPARE(quint8(peer.requests().at(0).at(0)), quint8(1));
}

void TestApp::replacedDeviceIsReleased()
{
    PtyPeer peer;
    QVERIFY(peer.start());
    peer.setResponder(standingModule(1000));
    BLDC bldc;
    bldc.openHandler(peer.portName(), QStringLiteral("Virtual"));
    QPointer<SerialUSBDevice> first = bldc.handler()->device();
    QVERIFY(first && first->isPortOpen());

    // Connecting again to the same port: the old device lets go of it first, so the new
    // one gets the port, and nothing is left holding it.
    bldc.openSerialHandler(peer.portName(), 9600, 1);
    QVERIFY(first.isNull());
    QVERIFY(bldc.handler()->isOpen());
    sendDirect(bldc, 6, 4, 0, 0);
    QVERIFY(peer.waitForRequests(1, 2000));
}

void TestApp::failedConnectOffersConnect()
{
    BLDC bldc;
    auto* usb = bldc.findChild<WConnection*>();
    auto* serial = bldc.findChild<WSerialConnection*>();
    {
        // The port's name as chosen and the reason, straight to standard output before the
        // refresh reports its failures.
        StdoutCapture out;
        connectTo(usb, QStringLiteral("ziro-no-such-port   [Virtual]"));
        const QString first = QString::fromLocal8Bit(out.text()).section(QLatin1Char('\n'), 0, 0);
        QVERIFY2(first.startsWith(QStringLiteral("could not open: ziro-no-such-port (")) &&
                     first.endsWith(QLatin1Char(')')) && first.size() > 37,
                 qPrintable(first));
    }
    QVERIFY(buttonsShowDisconnected(usb));
    connectTo(serial, QStringLiteral("/dev/ziro-no-such-port"));
    QVERIFY(buttonsShowDisconnected(serial));
    QVERIFY(!bldc.handler()->isOpen());
}

void TestApp::otherPanelTakesTheLink()
{
    PtyPeer usbPeer;
    PtyPeer serialPeer;
    QVERIFY(usbPeer.start());
    QVERIFY(serialPeer.start());
    usbPeer.setResponder(standingModule(1000));
    serialPeer.setResponder(standingModule(1000));
    BLDC bldc;
    auto* usb = bldc.findChild<WConnection*>();
    auto* serial = bldc.findChild<WSerialConnection*>();
    connectTo(usb, usbPeer.portName() + QStringLiteral("   [Virtual]"));
    QVERIFY(buttonsShowConnected(usb));

    // The serial link replaces the USB link, and the USB panel shows it at once.
    connectTo(serial, serialPeer.portName());
    QVERIFY(buttonsShowDisconnected(usb));
    QVERIFY(buttonsShowConnected(serial));
    usbPeer.clearRequests();

    // A Disconnect from the USB panel, whose link is gone, leaves the serial link alone.
    bldc.closeHandler();
    QVERIFY(bldc.handler()->isOpen());
    QVERIFY(buttonsShowConnected(serial));
    sendDirect(bldc, 6, 4, 0, 0);
    QVERIFY(serialPeer.waitForRequests(1, 2000));
    QCOMPARE(usbPeer.requestCount(), 0);
    QCOMPARE(child<QSpinBox>(bldc.findChild<WDirectMode*>(), "sbReplyValue")->value(), 1000);
}

void TestApp::typedPathOnSerialPanel()
{
    // A port no list shows: a symbolic link to a pseudo-terminal, as ziro-bldc-sim --link
    // or /dev/serial/by-id/... give.
    PtyPeer peer;
    QVERIFY(peer.start());
    peer.setResponder(standingModule(1000));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("ziro"));
    QVERIFY(QFile::link(peer.portName(), link));

    BLDC bldc;
    auto* serial = bldc.findChild<WSerialConnection*>();
    auto* devices = child<QComboBox>(serial, "cmbDevices");
    QVERIFY(devices->isEditable());
    QStringList listed;
    for (int i = 0; i < devices->count(); ++i)
        listed << devices->itemText(i);
    devices->lineEdit()->clear();
    QTest::keyClicks(devices->lineEdit(), link);
    QTest::keyClick(devices->lineEdit(), Qt::Key_Return);
    child<QSpinBox>(serial, "sbAddress")->setValue(5);
    QTest::mouseClick(child<QPushButton>(serial, "btnConnect"), Qt::LeftButton);
    QVERIFY(buttonsShowConnected(serial));
    QCOMPARE(bldc.handler()->portName(), link);
    sendDirect(bldc, 6, 4, 0, 0);
    QVERIFY(peer.waitForRequests(1, 2000));
    QCOMPARE(peer.requests().at(0).toHex(' '), QByteArray("05 06 04 00 00 00 00 00 0f"));
    QCOMPARE(child<QSpinBox>(bldc.findChild<WDirectMode*>(), "sbReplyValue")->value(), 1000);

    // The discovered entries stay as they were.
    QStringList after;
    for (int i = 0; i < devices->count(); ++i)
        after << devices->itemText(i);
    QCOMPARE(after, listed);
}

void TestApp::timeoutResetsThePanel()
{
    PtyPeer peer;
    QVERIFY(peer.start());
    peer.setResponder(standingModule(1000));
    BLDC bldc;
    auto* serial = bldc.findChild<WSerialConnection*>();
    auto* usb = bldc.findChild<WConnection*>();
    // Each connect has the panels read their values, so the module answers until both
    // panels are connected, and then falls silent.
    connectTo(serial, peer.portName());
    QVERIFY(buttonsShowConnected(serial));
    QVERIFY(bldc.handler()->isOpen());
    peer.setSilent(true);

    LogCapture log;
    QElapsedTimer timer;
    timer.start();
    sendDirect(bldc, 6, 4, 0, 0);
    QVERIFY(log.contains(QStringLiteral("SerialUSBCommandHandler: communicationTimeouted! ")));
    QVERIFY(timer.elapsed() < 10000);
    QVERIFY(!bldc.handler()->isOpen());
    QVERIFY(buttonsShowDisconnected(serial));
    QVERIFY(buttonsShowDisconnected(usb));
}

void TestApp::logModelShowsWhatItKeeps()
{
    LogModel model;
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    const auto line = [](const QString& text, bool frame = false) {
        return LogSink::Line{text, frame};
    };
    QCOMPARE(model.add({line("a"), line("frame", true), line("b")}, true),
             LogModel::Change::Appended);
    QCOMPARE(model.shownLines(), QStringList({"a", "b"}));
    QCOMPARE(model.rowCount(), 2);

    // Hidden: kept, the rows untouched, until they are shown again.
    QCOMPARE(model.add({line("c"), line("frame 2", true)}, false), LogModel::Change::None);
    QVERIFY(model.isStale());
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.shownLines(), QStringList({"a", "b", "c"}));
    QCOMPARE(model.add({line("d")}, true), LogModel::Change::Rebuilt);
    QVERIFY(!model.isStale());
    QCOMPARE(model.rowCount(), 4);
    QCOMPARE(inserted.count(), 1);

    model.setShowFrames(true);
    QCOMPARE(model.shownLines(), QStringList({"a", "frame", "b", "c", "frame 2", "d"}));

    // At most MaxLines, kept and shown: the oldest go.
    QList<LogSink::Line> flood;
    for (int i = 0; i < LogModel::MaxLines; ++i)
        flood << line(QString::number(i), i % 2 == 0);
    model.add(flood, true);
    QCOMPARE(model.lines().size(), LogModel::MaxLines);
    QCOMPARE(model.rowCount(), LogModel::MaxLines);
    QCOMPARE(model.lines().first(), QStringLiteral("0"));
    model.setShowFrames(false);
    QCOMPARE(model.rowCount(), LogModel::MaxLines / 2);
    model.clear();
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(model.lines().isEmpty());
}

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--emit-messages") == 0)
        return emitMessages();
    // The window remembers its settings; these runs must not touch the user's.
    TemporaryConfig config;
    QApplication app(argc, argv);
    TestApp test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_app.moc"

#include "app/MessageHandler.h"
#include "comm/PortAccess.h"
#include "comm/PortDiscovery.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/SerialUSBDevice.h"
#include "panels/connection/WConnection.h"
#include "panels/connection/WDirectMode.h"
#include "panels/connection/WSerialConnection.h"
#include "sim/PtyPeer.h"
#include "support/LogCapture.h"
#include "support/PanelProbe.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

#include <climits>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void click(QWidget* panel, const char* button)
{
    QTest::mouseClick(child<QPushButton>(panel, button), Qt::LeftButton);
}

// Child mode of this executable: probes the named ports as the user it runs as and
// prints the log and the ports found.
int probePorts(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(messageHandler);
    QStringList names;
    for (int i = 2; i < argc; ++i)
        names << QString::fromLocal8Bit(argv[i]);
    const QStringList found = PortDiscovery::openablePorts(names);
    std::printf("found: %s\n", qPrintable(found.join(QLatin1Char(','))));
    return 0;
}

} // namespace

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void usbEntryText_data();
    void usbEntryText();
    void usbConnectSplitsEntry_data();
    void usbConnectSplitsEntry();
    void usbListEndsWithSimulatedModule();
    void usbButtonsAndDisconnect();
    void serialForm();
    void serialConnectEmitsChoices();
    void serialProbeListsOpenablePorts();
    void serialProbeReportsPermission_data();
    void serialProbeReportsPermission();
    void busyPortNamesItsHolder();
    void directModeForm();
    void directModeValuesShowInFull();
    void enterPressesTheButton();
    void directModeSendsBytes();
    void directModeShowsReplyBytes();
    void directModeWithoutModuleKeepsReply();
};

void TestConnection::usbEntryText_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("entry");
    QTest::newRow("second word") << "FT232R USB UART"
                                 << "ttyUSB0   [USB]";
    QTest::newRow("two words") << "ZIRO Virtual"
                               << "ttyUSB0   [Virtual]";
    QTest::newRow("one word") << "Virtual"
                              << "ttyUSB0   []";
    QTest::newRow("doubled blank") << "ZIRO  Virtual"
                                   << "ttyUSB0   []";
    QTest::newRow("empty") << ""
                           << "ttyUSB0   []";
}

void TestConnection::usbEntryText()
{
    QFETCH(QString, description);
    QFETCH(QString, entry);
    QCOMPARE(PortDiscovery::usbEntry(QStringLiteral("ttyUSB0"), description), entry);
}

void TestConnection::usbConnectSplitsEntry_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("description");
    QTest::newRow("USB port") << "ttyACM0   [Virtual]"
                              << "ttyACM0"
                              << "Virtual";
    QTest::newRow("simulated") << "/dev/pts/7   [Simulated]"
                               << "/dev/pts/7"
                               << "Simulated";
    QTest::newRow("empty word") << "ttyUSB1   []"
                                << "ttyUSB1"
                                << "";
    QTest::newRow("no separator") << "ttyUSB2"
                                  << "ttyUSB2"
                                  << "";
    QTest::newRow("empty list") << ""
                                << ""
                                << "";
}

void TestConnection::usbConnectSplitsEntry()
{
    QFETCH(QString, entry);
    QFETCH(QString, name);
    QFETCH(QString, description);
    WConnection panel;
    auto* devices = child<QComboBox>(&panel, "cmbDevices");
    devices->clear();
    if (!entry.isEmpty())
        devices->addItems({QStringLiteral("other   [Port]"), entry});
    devices->setCurrentIndex(devices->count() - 1);
    QSignalSpy opened(&panel, &WConnection::openDevice);
    click(&panel, "btnConnect");
    QCOMPARE(opened.size(), 1);
    QCOMPARE(opened.at(0).at(0).toString(), name);
    QCOMPARE(opened.at(0).at(1).toString(), description);
    // Connect switches the buttons whether or not a port comes of it.
    QVERIFY(buttonsShowConnected(&panel));
}

void TestConnection::usbListEndsWithSimulatedModule()
{
    WConnection panel;
    QCOMPARE(child<QGroupBox>(&panel, "gbUSBConnection")->title(),
             QStringLiteral("USB Connection"));
    QCOMPARE(panel.windowTitle(), QStringLiteral("Form"));
    // As designed, or wider where the port list's entries need it.
    QCOMPARE(panel.minimumWidth(), 198);
    QCOMPARE(panel.maximumHeight(), 110);
    auto* devices = child<QComboBox>(&panel, "cmbDevices");
    const QStringList machinePorts = PortDiscovery::usbPortEntries();

    panel.setSimulatedPort(QStringLiteral("/dev/pts/9"));
    panel.refresh();
    panel.refresh();
    QStringList entries;
    for (int i = 0; i < devices->count(); ++i)
        entries << devices->itemText(i);
    QCOMPARE(entries, machinePorts + QStringList{QStringLiteral("/dev/pts/9   [Simulated]")});

    // Without a simulated module the list is the machine's USB ports alone; the refresh
    // button does the same as the refresh the central panel calls.
    panel.setSimulatedPort(QString());
    click(&panel, "btnUpdate");
    QCOMPARE(devices->count(), machinePorts.size());

    QCOMPARE(WConnection(QStringLiteral("Module A")).findChild<QGroupBox*>()->title(),
             QStringLiteral("Module A"));
}

void TestConnection::usbButtonsAndDisconnect()
{
    WConnection panel;
    QVERIFY(buttonsShowDisconnected(&panel));
    QSignalSpy closed(&panel, &WConnection::closeDevice);
    click(&panel, "btnConnect");
    QVERIFY(buttonsShowConnected(&panel));
    click(&panel, "btnDisconnect");
    QVERIFY(buttonsShowDisconnected(&panel));
    QCOMPARE(closed.size(), 1);

    // A link the handler closed shows as disconnected, without a close request.
    click(&panel, "btnConnect");
    panel.deviceClosed();
    QVERIFY(buttonsShowDisconnected(&panel));
    QCOMPARE(closed.size(), 1);
}

void TestConnection::serialForm()
{
    WSerialConnection panel;
    QCOMPARE(child<QGroupBox>(&panel, "gbSerialConnection")->title(),
             QStringLiteral("Serial Connection"));
    QCOMPARE(panel.windowTitle(), QStringLiteral("Form"));
    QCOMPARE(panel.minimumWidth(), 199);
    QCOMPARE(panel.maximumHeight(), 173);
    QCOMPARE(child<QLabel>(&panel, "lblPort")->text(), QStringLiteral("Port:"));
    QCOMPARE(child<QLabel>(&panel, "lblPort")->minimumWidth(), 50);
    QCOMPARE(child<QLabel>(&panel, "lblBaudrate")->text(), QStringLiteral("Baudrate:"));
    QCOMPARE(child<QLabel>(&panel, "lblAddress")->text(), QStringLiteral("Address:"));
    auto* rates = child<QComboBox>(&panel, "cmbBaudrates");
    QStringList entries;
    for (int i = 0; i < rates->count(); ++i)
        entries << rates->itemText(i);
    QCOMPARE(entries, QStringList({"4800", "9600", "14400", "19200", "38400", "57600", "115200"}));
    QCOMPARE(rates->currentIndex(), 1);
    auto* address = child<QSpinBox>(&panel, "sbAddress");
    QCOMPARE(address->value(), 1);
    address->setValue(300);
    QCOMPARE(address->value(), 255);
    address->setValue(-1);
    QCOMPARE(address->value(), 0);
    QVERIFY(buttonsShowDisconnected(&panel));
    QVERIFY(child<QPushButton>(&panel, "btnUpdate")->text().isEmpty());
}

void TestConnection::serialConnectEmitsChoices()
{
    WSerialConnection panel;
    auto* devices = child<QComboBox>(&panel, "cmbDevices");
    devices->clear();
    devices->addItems({QStringLiteral("ttyS0"), QStringLiteral("ttyS3")});
    QSignalSpy opened(&panel, &WSerialConnection::openDevice);
    QSignalSpy closed(&panel, &WSerialConnection::closeDevice);

    click(&panel, "btnConnect");
    QCOMPARE(opened.size(), 1);
    QCOMPARE(opened.at(0), QVariantList({QStringLiteral("ttyS0"), 9600, 1}));
    QVERIFY(buttonsShowConnected(&panel));

    click(&panel, "btnDisconnect");
    QCOMPARE(closed.size(), 1);
    QVERIFY(buttonsShowDisconnected(&panel));

    devices->setCurrentIndex(1);
    child<QComboBox>(&panel, "cmbBaudrates")->setCurrentIndex(6);
    child<QSpinBox>(&panel, "sbAddress")->setValue(200);
    click(&panel, "btnConnect");
    QCOMPARE(opened.at(1), QVariantList({QStringLiteral("ttyS3"), 115200, 200}));

    panel.deviceClosed();
    QVERIFY(buttonsShowDisconnected(&panel));
    QCOMPARE(closed.size(), 1);
}

void TestConnection::serialProbeListsOpenablePorts()
{
    PtyPeer first;
    PtyPeer second;
    QVERIFY(first.start());
    QVERIFY(second.start());
    LogCapture log;
    const QStringList found = PortDiscovery::openablePorts(
        {first.portName(), QStringLiteral("/dev/ziro-no-such-port"), second.portName()});
    QCOMPARE(found, QStringList({first.portName(), second.portName()}));
    // A port that is simply not there is left out without a word.
    QVERIFY2(log.lines().isEmpty(), qPrintable(log.lines().join('\n')));

    // The probe lets go of every port at once: the tool can open it right after.
    SerialUSBDevice device(first.portName(), QString());
    QVERIFY(device.open(QIODevice::ReadWrite));
    QVERIFY(device.isPortOpen());
}

void TestConnection::serialProbeReportsPermission_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("advice"); // %1: the group that owns the port, %2: its owner
    QTest::newRow("nobody but its owner")
        << 0 << "Permission denied — only its owner %2 may open this port";
    // Only root can hand the port to a group the probing user is not in.
    if (::geteuid() == 0)
        QTest::newRow("its group") << 0660
                                   << "Permission denied — add your user to the group that "
                                      "owns the port (`sudo usermod -aG %1 $USER`, then log "
                                      "in again)";
}

void TestConnection::serialProbeReportsPermission()
{
    QFETCH(int, mode);
    QFETCH(QString, advice);
    PtyPeer peer;
    QVERIFY(peer.start());
    const QByteArray path = peer.portName().toLocal8Bit();
    // The probe runs as an ordinary user ("nobody" when these tests run as root).
    QCOMPARE(::chmod(path.constData(), static_cast<mode_t>(mode)), 0);
    const auto ownership = PortAccess::ownershipOf(peer.portName());
    QVERIFY(ownership);
    QProcess process;
    process.setChildProcessModifier([] {
        if (::geteuid() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(3);
        }
    });
    process.start(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("--probe"), peer.portName()});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
    const QString expected = QStringLiteral("Debug: could not open: %1 (").arg(peer.portName());
    QVERIFY2(out.contains(expected), qPrintable(out));
    QVERIFY2(out.contains(advice.arg(ownership->group, ownership->owner)), qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("\nfound: \n")) || out.startsWith("found: \n"),
             qPrintable(out));
}

void TestConnection::busyPortNamesItsHolder()
{
    PtyPeer peer;
    QVERIFY(peer.start());
    SerialUSBDevice first(peer.portName(), QString());
    QVERIFY(first.open(QIODevice::ReadWrite));
    // A second opening is refused, naming the program that holds the port: this one.
    SerialUSBDevice second(peer.portName(), QString());
    QVERIFY(!second.open(QIODevice::ReadWrite));
    QFile comm(QStringLiteral("/proc/self/comm"));
    const QString self = comm.open(QIODevice::ReadOnly)
                             ? QString::fromLocal8Bit(comm.readAll()).trimmed()
                             : QString();
    const QString holder =
        self.isEmpty()
            ? QStringLiteral("process %1").arg(QCoreApplication::applicationPid())
            : QStringLiteral("%1 (process %2)").arg(self).arg(QCoreApplication::applicationPid());
    QVERIFY2(second.errorString().endsWith(QStringLiteral(" — in use by ") + holder),
             qPrintable(second.errorString()));

    // The wording, where the system cannot say who holds it, and for a user who joined the
    // group after the session began.
    QCOMPARE(PortAccess::busyAdvice(QStringLiteral("Device or resource busy"), {}),
             QStringLiteral("Device or resource busy — in use by another program"));
    const PortAccess::Ownership joined{QStringLiteral("root"), QStringLiteral("dialout"), true,
                                       true, false};
    QCOMPARE(PortAccess::permissionAdvice(QStringLiteral("Permission denied"), joined),
             QStringLiteral("Permission denied — your user is in the group dialout that owns "
                            "the port, but this session began before: log in again"));
}

void TestConnection::directModeForm()
{
    WDirectMode panel;
    QCOMPARE(panel.windowTitle(), QStringLiteral("Form"));
    QVERIFY(panel.maximumWidth() >= 385);
    // As high as designed, or as high as the request's rows (the address among them) need.
    QVERIFY(panel.maximumHeight() >= 223);
    QCOMPARE(child<QGroupBox>(&panel, "gbDirectMode")->title(),
             QStringLiteral("Direct VOKT control"));
    QCOMPARE(child<QGroupBox>(&panel, "gbRequest")->title(), QStringLiteral("Request"));
    QCOMPARE(child<QGroupBox>(&panel, "gbReply")->title(), QStringLiteral("Reply"));
    QCOMPARE(child<QPushButton>(&panel, "btnSend")->text(), QStringLiteral("Send"));
    QCOMPARE(child<QPushButton>(&panel, "btnSend")->maximumWidth(), 60);
    const struct
    {
        const char* field;
        const char* label;
    } fields[] = {
        {"Command", "Command"}, {"Type", "Type"}, {"MotorBank", "Motor/Bank"}, {"Value", "Value"}};
    for (const char* side : {"Request", "Reply"}) {
        for (const auto& f : fields) {
            const QByteArray spin = QByteArray("sb") + side + f.field;
            const QByteArray label = QByteArray("lbl") + side + f.field;
            auto* box = child<QSpinBox>(&panel, spin.constData());
            QCOMPARE(child<QLabel>(&panel, label.constData())->text(),
                     QString::fromLatin1(f.label));
            QCOMPARE(box->value(), 0);
            // The reply side only shows.
            QCOMPARE(box->isEnabled(), std::strcmp(side, "Request") == 0);
            const bool isValue = std::strcmp(f.field, "Value") == 0;
            QCOMPARE(box->minimum(), isValue ? -INT_MAX : 0);
            QCOMPARE(box->maximum(), isValue ? INT_MAX : 255);
        }
    }
}

void TestConnection::directModeValuesShowInFull()
{
    // Placed as on its tab: a page with more room than the form takes.
    QWidget page;
    auto* panel = new WDirectMode;
    (new QHBoxLayout(&page))->addWidget(panel);
    page.resize(900, 300);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    for (const char* name : {"sbRequestValue", "sbReplyValue"}) {
        auto* box = child<QSpinBox>(panel, name);
        for (const QString& text : {QStringLiteral("-2147483647"), QStringLiteral("2147483647")}) {
            const int textWidth = box->fontMetrics().horizontalAdvance(text);
            QVERIFY2(box->sizeHint().width() > textWidth && box->width() >= box->sizeHint().width(),
                     qPrintable(QStringLiteral("%1: %2 wide, hint %3, text %4")
                                    .arg(QLatin1String(name))
                                    .arg(box->width())
                                    .arg(box->sizeHint().width())
                                    .arg(textWidth)));
        }
    }
}

void TestConnection::enterPressesTheButton()
{
    // A value typed and Enter: one request with that value.
    WDirectMode direct;
    QSignalSpy requested(&direct, &WDirectMode::doRequest);
    auto* value = child<QSpinBox>(&direct, "sbRequestValue");
    value->selectAll();
    QTest::keyClicks(value, QStringLiteral("-2000000000"));
    QTest::keyClick(value, Qt::Key_Return);
    QCOMPARE(requested.size(), 1);
    QCOMPARE(requested.at(0).at(3).toInt(), -2000000000);
    QTest::keyClick(child<QSpinBox>(&direct, "sbRequestType"), Qt::Key_Enter);
    QTest::keyClick(child<QPushButton>(&direct, "btnSend"), Qt::Key_Return);
    QCOMPARE(requested.size(), 3);

    // Enter on Connect and Disconnect of both connection panels.
    WConnection usb;
    WSerialConnection serial;
    for (QWidget* panel : {static_cast<QWidget*>(&usb), static_cast<QWidget*>(&serial)}) {
        QTest::keyClick(child<QPushButton>(panel, "btnConnect"), Qt::Key_Return);
        QVERIFY(buttonsShowConnected(panel));
        QTest::keyClick(child<QPushButton>(panel, "btnDisconnect"), Qt::Key_Return);
        QVERIFY(buttonsShowDisconnected(panel));
    }
}

void TestConnection::directModeSendsBytes()
{
    WDirectMode panel;
    QSignalSpy requested(&panel, &WDirectMode::doRequest);
    child<QSpinBox>(&panel, "sbRequestCommand")->setValue(200);
    child<QSpinBox>(&panel, "sbRequestType")->setValue(4);
    child<QSpinBox>(&panel, "sbRequestMotorBank")->setValue(255);
    child<QSpinBox>(&panel, "sbRequestValue")->setValue(INT_MIN);
    click(&panel, "btnSend");
    QCOMPARE(requested.size(), 1);
    QCOMPARE(requested.at(0).at(0).value<char>(), char(200));
    QCOMPARE(requested.at(0).at(1).value<char>(), char(4));
    QCOMPARE(requested.at(0).at(2).value<char>(), char(255));
    // -2147483648 cannot be entered; the lowest value is -2147483647.
    QCOMPARE(requested.at(0).at(3).toInt(), -INT_MAX);
}

void TestConnection::directModeShowsReplyBytes()
{
    // A module that answers with status, command and motor/bank bytes of 200 and more.
    PtyPeer peer;
    QVERIFY(peer.start());
    peer.setResponder([](const QByteArray& request) {
        return PtyPeer::answer(PtyPeer::replyFrame(2, 1, 201, quint8(request.at(1)), -5));
    });
    SerialUSBDevice device(peer.portName(), QString());
    SerialUSBCommandHandler handler;
    handler.setDevice(&device);
    QVERIFY(handler.open());
    WDirectMode panel;
    QObject::connect(&panel, &WDirectMode::doRequest, &handler,
                     &SerialUSBCommandHandler::doRequest);
    QObject::connect(&handler, &SerialUSBCommandHandler::requestResult, &panel,
                     &WDirectMode::requestResult);

    child<QSpinBox>(&panel, "sbRequestCommand")->setValue(200);
    child<QSpinBox>(&panel, "sbRequestType")->setValue(130);
    child<QSpinBox>(&panel, "sbRequestMotorBank")->setValue(202);
    child<QSpinBox>(&panel, "sbRequestValue")->setValue(1000);
    LogCapture log;
    click(&panel, "btnSend");
    QVERIFY(peer.waitForRequests(1, 2000));
    QCOMPARE(peer.requests().at(0).toHex(' '), QByteArray("01 c8 82 ca 00 00 03 e8 00"));
    QCOMPARE(child<QSpinBox>(&panel, "sbReplyCommand")->value(), 200);
    QCOMPARE(child<QSpinBox>(&panel, "sbReplyType")->value(), 201);
    QCOMPARE(child<QSpinBox>(&panel, "sbReplyMotorBank")->value(), 202);
    QCOMPARE(child<QSpinBox>(&panel, "sbReplyValue")->value(), -5);
}

void TestConnection::directModeWithoutModuleKeepsReply()
{
    SerialUSBCommandHandler handler;
    WDirectMode panel;
    QObject::connect(&panel, &WDirectMode::doRequest, &handler,
                     &SerialUSBCommandHandler::doRequest);
    QObject::connect(&handler, &SerialUSBCommandHandler::requestResult, &panel,
                     &WDirectMode::requestResult);
    panel.requestResult(3, 6, 100, 42);
    LogCapture log;
    child<QSpinBox>(&panel, "sbRequestCommand")->setValue(6);
    click(&panel, "btnSend");
    QVERIFY(log.contains(QStringLiteral("could not send data: is device opened? ")));
    QCOMPARE(child<QSpinBox>(&panel, "sbReplyMotorBank")->value(), 3);
    QCOMPARE(child<QSpinBox>(&panel, "sbReplyCommand")->value(), 6);
    QCOMPARE(child<QSpinBox>(&panel, "sbReplyType")->value(), 100);
    QCOMPARE(child<QSpinBox>(&panel, "sbReplyValue")->value(), 42);
}

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--probe") == 0)
        return probePorts(argc, argv);
    QApplication app(argc, argv);
    TestConnection test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_connection.moc"

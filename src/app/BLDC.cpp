#include "BLDC.h"

#include "CommandScript.h"
#include "DebugLine.h"
#include "MessageHandler.h"
#include "ParameterStore.h"
#include "SerialUSBCommandHandler.h"
#include "SerialUSBDevice.h"
#include "ServedModule.h"
#include "SettingsFile.h"
#include "TraceCommand.h"
#include "WConnection.h"
#include "WDirectMode.h"
#include "WSerialConnection.h"

#include <QBoxLayout>
#include <QDateTime>
#include <QFileDialog>
#include <QSpacerItem>
#include <QTabWidget>

#include <cstdio>

namespace {

QSpacerItem* newSpacer()
{
    return new QSpacerItem(20, 20, QSizePolicy::Expanding, QSizePolicy::Fixed);
}

} // namespace

BLDC::BLDC(QWidget* parent) : QWidget(parent)
{
    // Every diagnostic from here on goes through the tool's own output.
    qInstallMessageHandler(messageHandler);

    m_handler = new SerialUSBCommandHandler;

    // A simulated module on a pseudo-terminal, so the tool can be tried without hardware.
    m_simulatedModule = std::make_unique<ServedModule>();
    QString simulatorError;
    if (!m_simulatedModule->start(&simulatorError))
        DebugLine().plain(QStringLiteral("could not start the simulated module: ") +
                          simulatorError);

    auto* mainLayout = new QVBoxLayout;
    auto* topLayout = new QHBoxLayout;
    auto* chartLayout = new QVBoxLayout;

    auto* usbConnection = new WConnection;
    if (m_simulatedModule->isRunning())
        usbConnection->setSimulatedPort(m_simulatedModule->portName());
    usbConnection->refresh();
    auto* serialConnection = new WSerialConnection;
    serialConnection->refresh();

    auto* mainTabs = new QTabWidget;
    mainTabs->setMinimumWidth(500);
    mainTabs->setMaximumWidth(900);
    mainTabs->setMaximumHeight(300);
    auto* connectionTabs = new QTabWidget;
    connectionTabs->setMaximumHeight(200);

    // "Connection": the USB and serial panels on their own tabs, centred.
    auto* connectionPage = new QWidget;
    auto* connectionLayout = new QHBoxLayout(connectionPage);
    connectionLayout->addItem(newSpacer());
    connectionLayout->addWidget(connectionTabs);
    connectionLayout->addItem(newSpacer());
    auto* usbPage = new QWidget;
    auto* usbLayout = new QVBoxLayout(usbPage);
    usbLayout->addWidget(usbConnection);
    connectionTabs->addTab(usbPage, tr("USB"));
    auto* serialPage = new QWidget;
    auto* serialLayout = new QVBoxLayout(serialPage);
    serialLayout->addWidget(serialConnection);
    connectionTabs->addTab(serialPage, tr("Serial"));
    mainTabs->addTab(connectionPage, tr("Connection"));

    // "Settings": motor settings, encoder settings, then a column with the commutation
    // mode above the trace controller, which sits centred between two spacers.
    auto* settingsPage = new QWidget;
    auto* settingsLayout = new QHBoxLayout(settingsPage);
    auto* settingsColumn = new QVBoxLayout;
    auto* traceRow = new QHBoxLayout;
    traceRow->addItem(newSpacer());
    traceRow->addItem(newSpacer());
    settingsColumn->addLayout(traceRow);
    settingsLayout->addLayout(settingsColumn);
    mainTabs->addTab(settingsPage, tr("Settings"));

    // "Torque mode": current control, current PID.
    auto* torquePage = new QWidget;
    new QHBoxLayout(torquePage);
    mainTabs->addTab(torquePage, tr("Torque mode"));

    // "Velocity mode": velocity-mode ramp, velocity control, velocity PID.
    auto* velocityPage = new QWidget;
    new QHBoxLayout(velocityPage);
    mainTabs->addTab(velocityPage, tr("Velocity mode"));

    // "Positioning mode": positioning-mode ramp, position control, position PID.
    auto* positioningPage = new QWidget;
    new QHBoxLayout(positioningPage);
    mainTabs->addTab(positioningPage, tr("Positioning mode"));

    // "PWM mode": PWM control.
    auto* pwmPage = new QWidget;
    new QHBoxLayout(pwmPage);
    mainTabs->addTab(pwmPage, tr("PWM mode"));

    // "VOKT": the raw command panel.
    m_directMode = new WDirectMode;
    auto* voktPage = new QWidget;
    auto* voktLayout = new QHBoxLayout(voktPage);
    voktLayout->addWidget(m_directMode);
    mainTabs->addTab(voktPage, tr("VOKT"));

    // Beside the tabs: the status flags panel, then a spacer.
    topLayout->addWidget(mainTabs);
    topLayout->addItem(newSpacer());
    mainLayout->addLayout(topLayout);

    // Link requests of the connection panels.
    connect(usbConnection, &WConnection::openDevice, this, &BLDC::openHandler);
    connect(usbConnection, &WConnection::closeDevice, this, &BLDC::closeHandler);
    connect(serialConnection, &WSerialConnection::openDevice, this, &BLDC::openSerialHandler);
    connect(serialConnection, &WSerialConnection::closeDevice, this, &BLDC::closeSerialHandler);
    // A link closed by the handler (time-out, lost port) shows in both panels' buttons.
    connect(m_handler, &SerialUSBCommandHandler::deviceClosed, usbConnection,
            &WConnection::deviceClosed);
    connect(m_handler, &SerialUSBCommandHandler::deviceClosed, serialConnection,
            &WSerialConnection::deviceClosed);

    // Panels and handler.
    connect(m_directMode, &WDirectMode::doRequest, m_handler, &SerialUSBCommandHandler::doRequest);
    connect(m_handler, &SerialUSBCommandHandler::requestResult, m_directMode,
            &WDirectMode::requestResult);

    mainLayout->addLayout(chartLayout);
    setLayout(mainLayout);

    writeTraceListDiagnostics(m_traceCommands);
}

BLDC::~BLDC()
{
    SerialUSBDevice* device = m_handler->device();
    delete m_handler;
    delete device;
    qDeleteAll(m_traceCommands);
}

void BLDC::writeTraceListDiagnostics(const QList<TraceCommand*>& traceCommands)
{
    // Written beside the message handler, on the same stream.
    std::fprintf(stdout, "TraceCommand->size(): %lld\n",
                 static_cast<long long>(traceCommands.size()));
    std::fflush(stdout);
    for (const TraceCommand* record : traceCommands)
        DebugLine() << "TraceCommand: " << QString::number(record->command()) << ", "
                    << QString::number(record->type()) << ", "
                    << QString::number(record->motorBank());
}

void BLDC::openHandler(const QString& name, const QString& description)
{
    if (name.isEmpty())
        return;
    // A USB virtual COM port keeps its own line settings; the module answers to address 1.
    attachAndOpen(new SerialUSBDevice(name, description), 1);
}

void BLDC::closeHandler()
{
    m_handler->close();
}

void BLDC::openSerialHandler(const QString& name, int baudrate, int address)
{
    if (name.isEmpty())
        return;
    DebugLine() << "baudrate: " << baudrate << "   address: " << address;
    auto* device = new SerialUSBDevice(name, QString());
    device->setBaudRate(baudrate);
    attachAndOpen(device, address);
}

void BLDC::closeSerialHandler()
{
    m_handler->close();
}

void BLDC::attachAndOpen(SerialUSBDevice* device, int moduleAddress)
{
    // The old device goes first, so a reconnect to the same port finds it free.
    SerialUSBDevice* previous = m_handler->device();
    m_handler->setDevice(device);
    delete previous;
    m_handler->setModuleAddress(moduleAddress);
    m_handler->open();
    updateAll();
}

void BLDC::updateAll()
{
    // Refreshed in this order: velocity-mode ramp, positioning-mode ramp, velocity control,
    // position control, motor settings, encoder settings, commutation mode, current
    // control, velocity PID, current PID, position PID, PWM control. The status flags,
    // the trace controller, the raw command panel and the charts are not refreshed.
}

// The file operations of the menu: each asks for the file, then leaves the work to the
// operation of the core library that takes the file name and the handler.

namespace {

// "./20240131_14.05.09_Settings.ini": the date and time of the export, then the name.
QString defaultFileName(const char* name)
{
    return QDateTime::currentDateTime().toString(QStringLiteral("./yyyyMMdd_hh.mm.ss_")) +
           QLatin1String(name);
}

} // namespace

void BLDC::exportSettingsToVOKT()
{
    DebugLine() << "exporting settings...";
    const QString fileName = QFileDialog::getSaveFileName(this, tr("Export settings to VOKT"),
                                                          defaultFileName("VOKT_Settings.vkt"),
                                                          tr("VOKT Files (*.vkt)"));
    if (fileName.isEmpty())
        return;
    CommandScript::exportTo(fileName, *m_handler);
}

void BLDC::exportSettings()
{
    DebugLine() << "export settings";
    const QString fileName = QFileDialog::getSaveFileName(
        this, tr("Export settings"), defaultFileName("Settings.ini"), tr("Settings files (*.ini)"));
    if (fileName.isEmpty())
        return;
    SettingsFile::exportTo(fileName, *m_handler);
}

void BLDC::importSettings()
{
    DebugLine() << "import settings";
    const QString fileName = QFileDialog::getOpenFileName(
        this, tr("Import settings"), QStringLiteral("./"), tr("Setting files (*.ini)"));
    if (fileName.isEmpty()) {
        DebugLine() << "importFileName is empty!";
        return;
    }
    SettingsFile::importFrom(fileName, *m_handler);
}

void BLDC::storeActualValues()
{
    ParameterStore::storeAll(*m_handler);
}

void BLDC::restoreActualValues()
{
    ParameterStore::restoreAll(*m_handler);
}

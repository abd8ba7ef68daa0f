#include "BLDC.h"

#include "DebugLine.h"
#include "MessageHandler.h"
#include "SerialUSBCommandHandler.h"
#include "SerialUSBDevice.h"
#include "ServedModule.h"
#include "TraceCommand.h"
#include "WConnection.h"
#include "WCurrentControl.h"
#include "WDirectMode.h"
#include "WPWMControl.h"
#include "WPositionControl.h"
#include "WSerialConnection.h"
#include "WStatusFlagsV.h"
#include "WTraceController.h"
#include "WVelocityControl.h"

#include <QBoxLayout>
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
    m_traceController = new WTraceController;
    auto* traceRow = new QHBoxLayout;
    traceRow->addItem(newSpacer());
    traceRow->addWidget(m_traceController);
    traceRow->addItem(newSpacer());
    settingsColumn->addLayout(traceRow);
    settingsLayout->addLayout(settingsColumn);
    mainTabs->addTab(settingsPage, tr("Settings"));

    // "Torque mode": current control, current PID.
    auto* torquePage = new QWidget;
    m_currentControl = new WCurrentControl;
    m_currentControl->setMotorBank(0);
    auto* torqueLayout = new QHBoxLayout(torquePage);
    torqueLayout->addWidget(m_currentControl);
    mainTabs->addTab(torquePage, tr("Torque mode"));

    // "Velocity mode": velocity-mode ramp, velocity control, velocity PID.
    auto* velocityPage = new QWidget;
    m_velocityControl = new WVelocityControl;
    m_velocityControl->setMotorBank(0);
    m_velocityControl->setTypes(3, 2);
    auto* velocityLayout = new QHBoxLayout(velocityPage);
    velocityLayout->addWidget(m_velocityControl);
    mainTabs->addTab(velocityPage, tr("Velocity mode"));

    // "Positioning mode": positioning-mode ramp, position control, position PID.
    auto* positioningPage = new QWidget;
    m_positionControl = new WPositionControl;
    m_positionControl->setMotorBank(0);
    m_positionControl->setTypes(1, 0, static_cast<char>(161), static_cast<char>(163));
    auto* positioningLayout = new QHBoxLayout(positioningPage);
    positioningLayout->addWidget(m_positionControl);
    mainTabs->addTab(positioningPage, tr("Positioning mode"));

    // "PWM mode": PWM control.
    auto* pwmPage = new QWidget;
    m_pwmControl = new WPWMControl;
    m_pwmControl->setMotorBank(0);
    auto* pwmLayout = new QHBoxLayout(pwmPage);
    pwmLayout->addWidget(m_pwmControl);
    mainTabs->addTab(pwmPage, tr("PWM mode"));

    // "VOKT": the raw command panel.
    m_directMode = new WDirectMode;
    auto* voktPage = new QWidget;
    auto* voktLayout = new QHBoxLayout(voktPage);
    voktLayout->addWidget(m_directMode);
    mainTabs->addTab(voktPage, tr("VOKT"));

    m_statusFlags = new WStatusFlagsV;
    m_statusFlags->setMotorBank(0);
    m_statusFlags->setType(static_cast<char>(156));

    // Beside the tabs: the status flags panel, then a spacer.
    topLayout->addWidget(mainTabs);
    topLayout->addWidget(m_statusFlags);
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
    // ...and ends the live polling.
    connect(m_handler, &SerialUSBCommandHandler::deviceClosed, m_traceController,
            &WTraceController::linkClosed);

    // Panels and handler. Every answer reaches every panel, every polled value every live
    // panel; each keeps what carries its own motor/bank and number.
    connect(m_velocityControl, &WVelocityControl::requestValue, m_handler,
            &SerialUSBCommandHandler::getAxisParameter);
    connect(m_velocityControl, &WVelocityControl::changeValue, m_handler,
            &SerialUSBCommandHandler::setAxisParameter);
    connect(m_handler, &SerialUSBCommandHandler::requestedValue, m_velocityControl,
            &WVelocityControl::requestedValue);
    // The velocity panel follows the motor while polling runs, as its siblings do (the
    // "Velocity" chart has its number polled).
    connect(m_handler, &SerialUSBCommandHandler::requestedTraceValue, m_velocityControl,
            &WVelocityControl::requestedTraceValue);

    connect(m_positionControl, &WPositionControl::requestValue, m_handler,
            &SerialUSBCommandHandler::getAxisParameter);
    connect(m_positionControl, &WPositionControl::changeValue, m_handler,
            &SerialUSBCommandHandler::setAxisParameter);
    connect(m_positionControl, &WPositionControl::doMove, m_handler,
            &SerialUSBCommandHandler::doMove);
    connect(m_handler, &SerialUSBCommandHandler::requestedValue, m_positionControl,
            &WPositionControl::requestedValue);
    connect(m_handler, &SerialUSBCommandHandler::requestedTraceValue, m_positionControl,
            &WPositionControl::requestedTraceValue);

    connect(m_currentControl, &WCurrentControl::requestValue, m_handler,
            &SerialUSBCommandHandler::getAxisParameter);
    connect(m_currentControl, &WCurrentControl::changeValue, m_handler,
            &SerialUSBCommandHandler::setAxisParameter);
    connect(m_handler, &SerialUSBCommandHandler::requestedValue, m_currentControl,
            &WCurrentControl::requestedValue);
    connect(m_handler, &SerialUSBCommandHandler::requestedTraceValue, m_currentControl,
            &WCurrentControl::requestedTraceValue);

    connect(m_pwmControl, &WPWMControl::requestValue, m_handler,
            &SerialUSBCommandHandler::getAxisParameter);
    connect(m_pwmControl, &WPWMControl::changeValue, m_handler,
            &SerialUSBCommandHandler::setAxisParameter);
    connect(m_handler, &SerialUSBCommandHandler::requestedValue, m_pwmControl,
            &WPWMControl::requestedValue);
    connect(m_handler, &SerialUSBCommandHandler::requestedTraceValue, m_pwmControl,
            &WPWMControl::requestedTraceValue);

    connect(m_directMode, &WDirectMode::doRequest, m_handler, &SerialUSBCommandHandler::doRequest);
    connect(m_handler, &SerialUSBCommandHandler::requestResult, m_directMode,
            &WDirectMode::requestResult);
    connect(m_traceController,
            qOverload<QList<TraceCommand*>*>(&WTraceController::requestTraceValues), m_handler,
            &SerialUSBCommandHandler::requestTraceValues);

    // The status flags: read only, no writes.
    connect(m_statusFlags, &WStatusFlagsV::requestValue, m_handler,
            &SerialUSBCommandHandler::getAxisParameter);
    connect(m_handler, &SerialUSBCommandHandler::requestedValue, m_statusFlags,
            &WStatusFlagsV::requestedValue);
    connect(m_handler, &SerialUSBCommandHandler::requestedTraceValue, m_statusFlags,
            &WStatusFlagsV::requestedTraceValue);

    // The live values polled for the panels, after those of the charts: command 6 (get
    // axis parameter) on motor/bank 0 for each; the controller drops a repeat.
    for (const QList<char>& types :
         {m_positionControl->traceTypes(), m_currentControl->traceTypes(),
          m_pwmControl->traceTypes(), m_statusFlags->traceTypes()})
        for (char type : types)
            m_traceController->addTraceCommand(new TraceCommand(6, static_cast<quint8>(type), 0));

    mainLayout->addLayout(chartLayout);
    setLayout(mainLayout);

    writeTraceListDiagnostics(m_traceController->traceCommands());
}

BLDC::~BLDC()
{
    SerialUSBDevice* device = m_handler->device();
    delete m_handler;
    delete device;
}

const QList<TraceCommand*>& BLDC::traceCommands() const
{
    return m_traceController->traceCommands();
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
    m_traceController->setLinkOpen(false);
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
    m_traceController->setLinkOpen(false);
}

void BLDC::attachAndOpen(SerialUSBDevice* device, int moduleAddress)
{
    // The old device goes first, so a reconnect to the same port finds it free.
    SerialUSBDevice* previous = m_handler->device();
    m_handler->setDevice(device);
    delete previous;
    m_handler->setModuleAddress(moduleAddress);
    m_handler->open();
    m_traceController->setLinkOpen(m_handler->isOpen());
    updateAll();
}

void BLDC::updateAll()
{
    // Refreshed in this order: velocity-mode ramp, positioning-mode ramp, velocity control,
    // position control, motor settings, encoder settings, commutation mode, current
    // control, velocity PID, current PID, position PID, PWM control. The status flags,
    // the trace controller, the raw command panel and the charts are not refreshed.
    m_velocityControl->updateValues();
    m_positionControl->updateValues();
    m_currentControl->updateValues();
    m_pwmControl->updateValues();
}

// The file operations of the menu. Each one is filled in by the change that brings the
// settings file or the command script; until then the menu entries do nothing.

void BLDC::exportSettingsToVOKT() {}

void BLDC::exportSettings() {}

void BLDC::importSettings() {}

void BLDC::storeActualValues() {}

void BLDC::restoreActualValues() {}

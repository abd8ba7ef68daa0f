#include "BLDC.h"

#include "CommandScript.h"
#include "DebugLine.h"
#include "LiveRecorder.h"
#include "LogSink.h"
#include "MessageHandler.h"
#include "OperationProgress.h"
#include "PageScrollArea.h"
#include "ParameterCatalogue.h"
#include "ParameterStore.h"
#include "ParameterToolTips.h"
#include "SerialUSBCommandHandler.h"
#include "SerialUSBDevice.h"
#include "ServedModule.h"
#include "SettingsFile.h"
#include "TraceCommand.h"
#include "WCommutationMode.h"
#include "WConnection.h"
#include "WCurrentControl.h"
#include "WDirectMode.h"
#include "WDrawer.h"
#include "WEncoderSettings.h"
#include "WMotorSettings.h"
#include "WPIDControl.h"
#include "WPWMControl.h"
#include "WPositionControl.h"
#include "WSerialConnection.h"
#include "WStatusFlagsV.h"
#include "WTraceController.h"
#include "WVelocityControl.h"
#include "WVelocityRampControl.h"

#include <QBoxLayout>
#include <QDateTime>
#include <QFileDialog>
#include <QSpacerItem>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>

namespace {

QSpacerItem* newSpacer()
{
    return new QSpacerItem(20, 20, QSizePolicy::Expanding, QSizePolicy::Fixed);
}

// A PID panel as the central panel shows it: its title, the bound of its I-clipping
// fields, and its nine parameter numbers (set 1, set 2: P, I, D, I-clipping; threshold).
WPIDControl* newPidControl(const QString& title, int iClippingMaximum, const int (&types)[9])
{
    auto* pid = new WPIDControl(title);
    pid->setIClippingMaximum(iClippingMaximum);
    pid->setMotorBank(0);
    pid->setSet1Types(char(types[0]), char(types[1]), char(types[2]), char(types[3]));
    pid->setSet2Types(char(types[4]), char(types[5]), char(types[6]), char(types[7]));
    pid->setThresholdType(char(types[8]));
    return pid;
}

// Both ramp panels edit the same three parameters.
WVelocityRampControl* newVelocityRamp()
{
    auto* ramp = new WVelocityRampControl(QStringLiteral("Velocity ramp control"));
    ramp->setMotorBank(0);
    ramp->setMaxVelocityLabel(QStringLiteral("Max. velocity [rpm]"));
    ramp->setAccelerationLabel(QStringLiteral("Accel.[rpm/s]"));
    ramp->setTypes(4, 11, char(146));
    return ramp;
}

// One curve of a chart panel: a live value of motor/bank 0.
struct Curve
{
    int type;
    QString name;
    Qt::GlobalColor color;
};

// A chart panel as the central panel shows it: 10000 samples of each of its two curves.
WDrawer* newDrawer(const QString& name, const Curve& first, const Curve& second)
{
    auto* drawer = new WDrawer(nullptr);
    drawer->setBufferSize(10000);
    drawer->setName(name);
    for (const Curve& curve : {first, second})
        drawer->addChart(0, char(curve.type), curve.name, curve.color);
    return drawer;
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

    auto* usbConnection = m_usbConnection = new WConnection;
    if (m_simulatedModule->isRunning())
        usbConnection->setSimulatedPort(m_simulatedModule->portName());
    usbConnection->refresh();
    auto* serialConnection = m_serialConnection = new WSerialConnection;
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
    mainTabs->addTab(new PageScrollArea(connectionPage), tr("Connection"));

    // "Settings": motor settings, encoder settings, then a column with the commutation
    // mode above the trace controller, which sits centred between two spacers.
    m_motorSettings = new WMotorSettings;
    m_commutationMode = new WCommutationMode;
    m_commutationMode->setMotorBank(0);
    m_commutationMode->setType(char(159));
    m_commutationMode->addMode(QStringLiteral("Block (hall sensors)"), 0);
    m_commutationMode->addMode(QStringLiteral("Block (phaseQ)"), 1);
    m_commutationMode->addMode(QStringLiteral("Sine  (encoder)"), 3);
    m_encoderSettings = new WEncoderSettings;
    auto* settingsPage = new QWidget;
    auto* settingsLayout = new QHBoxLayout(settingsPage);
    settingsLayout->addWidget(m_motorSettings);
    settingsLayout->addWidget(m_encoderSettings);
    auto* settingsColumn = new QVBoxLayout;
    settingsColumn->addWidget(m_commutationMode);
    m_traceController = new WTraceController;
    auto* traceRow = new QHBoxLayout;
    traceRow->addItem(newSpacer());
    traceRow->addWidget(m_traceController);
    traceRow->addItem(newSpacer());
    settingsColumn->addLayout(traceRow);
    settingsLayout->addLayout(settingsColumn);
    mainTabs->addTab(new PageScrollArea(settingsPage), tr("Settings"));

    // "Torque mode": current control, current PID.
    m_currentPid = newPidControl(QStringLiteral("Current PID control"), 5000000,
                                 {168, 169, 170, 171, 172, 173, 174, 175, 176});
    auto* torquePage = new QWidget;
    m_currentControl = new WCurrentControl;
    m_currentControl->setMotorBank(0);
    auto* torqueLayout = new QHBoxLayout(torquePage);
    torqueLayout->addWidget(m_currentControl);
    torqueLayout->addWidget(m_currentPid);
    mainTabs->addTab(new PageScrollArea(torquePage), tr("Torque mode"));

    // "Velocity mode": velocity-mode ramp, velocity control, velocity PID.
    m_velocityRamp = newVelocityRamp();
    m_velocityPid = newPidControl(QStringLiteral("Velocity PID control"), 5000000,
                                  {140, 141, 142, 143, 234, 235, 236, 237, 8});
    auto* velocityPage = new QWidget;
    m_velocityControl = new WVelocityControl;
    m_velocityControl->setMotorBank(0);
    m_velocityControl->setTypes(3, 2);
    auto* velocityLayout = new QHBoxLayout(velocityPage);
    velocityLayout->addWidget(m_velocityRamp);
    velocityLayout->addWidget(m_velocityControl);
    velocityLayout->addWidget(m_velocityPid);
    mainTabs->addTab(new PageScrollArea(velocityPage), tr("Velocity mode"));

    // "Positioning mode": positioning-mode ramp, position control, position PID.
    m_positioningRamp = newVelocityRamp();
    m_positionPid = newPidControl(QStringLiteral("Position PID control"), 500000,
                                  {130, 131, 132, 135, 230, 231, 232, 233, 12});
    auto* positioningPage = new QWidget;
    m_positionControl = new WPositionControl;
    m_positionControl->setMotorBank(0);
    m_positionControl->setTypes(1, 0, static_cast<char>(161), static_cast<char>(163));
    auto* positioningLayout = new QHBoxLayout(positioningPage);
    positioningLayout->addWidget(m_positioningRamp);
    positioningLayout->addWidget(m_positionControl);
    positioningLayout->addWidget(m_positionPid);
    mainTabs->addTab(new PageScrollArea(positioningPage), tr("Positioning mode"));

    // "PWM mode": PWM control.
    auto* pwmPage = new QWidget;
    m_pwmControl = new WPWMControl;
    m_pwmControl->setMotorBank(0);
    auto* pwmLayout = new QHBoxLayout(pwmPage);
    pwmLayout->addWidget(m_pwmControl);
    mainTabs->addTab(new PageScrollArea(pwmPage), tr("PWM mode"));

    // "VOKT": the raw command panel.
    m_directMode = new WDirectMode;
    auto* voktPage = new QWidget;
    auto* voktLayout = new QHBoxLayout(voktPage);
    voktLayout->addWidget(m_directMode);
    mainTabs->addTab(new PageScrollArea(voktPage), tr("VOKT"));

    m_statusFlags = new WStatusFlagsV;
    m_statusFlags->setMotorBank(0);
    m_statusFlags->setType(static_cast<char>(156));

    mainTabs->setDocumentMode(true);
    // All seven tabs in view, never behind scroll arrows.
    mainTabs->setMinimumWidth(
        std::max(mainTabs->minimumWidth(), mainTabs->tabBar()->sizeHint().width() + 4));

    // Beside the tabs: the status flags panel, then a spacer.
    topLayout->addWidget(mainTabs);
    topLayout->addWidget(m_statusFlags, 0, Qt::AlignTop);
    topLayout->addItem(newSpacer());

    // The chart panels, each keeping 10000 samples of its two curves.
    m_drawers.append(newDrawer(QStringLiteral("Velocity"),
                               {3, QStringLiteral("actual [rpm]"), Qt::blue},
                               {13, QStringLiteral("target [rpm]"), Qt::red}));
    m_drawers.append(newDrawer(QStringLiteral("Position"), {1, QStringLiteral("actual"), Qt::blue},
                               {0, QStringLiteral("target"), Qt::red}));
    m_drawers.append(newDrawer(QStringLiteral("Current/PWM"),
                               {153, QStringLiteral("PWM"), Qt::green},
                               {150, QStringLiteral("current"), Qt::red}));

    // Link requests of the connection panels.
    connect(usbConnection, &WConnection::openDevice, this, &BLDC::openHandler);
    connect(usbConnection, &WConnection::closeDevice, this, &BLDC::closeHandler);
    connect(serialConnection, &WSerialConnection::openDevice, this, &BLDC::openSerialHandler);
    connect(serialConnection, &WSerialConnection::closeDevice, this, &BLDC::closeSerialHandler);
    // Each panel shows whether its own link is the open one.
    connect(this, &BLDC::usbLinkClosed, usbConnection, &WConnection::deviceClosed);
    connect(this, &BLDC::serialLinkClosed, serialConnection, &WSerialConnection::deviceClosed);
    connect(this, &BLDC::usbLinkOpened, usbConnection, &WConnection::deviceOpened);
    connect(this, &BLDC::serialLinkOpened, serialConnection, &WSerialConnection::deviceOpened);
    // A link closed by the handler (time-out, lost port) shows in both panels' buttons.
    connect(m_handler, &SerialUSBCommandHandler::deviceClosed, usbConnection,
            &WConnection::deviceClosed);
    connect(m_handler, &SerialUSBCommandHandler::deviceClosed, serialConnection,
            &WSerialConnection::deviceClosed);
    // ...and ends the live polling.
    connect(m_handler, &SerialUSBCommandHandler::deviceClosed, m_traceController,
            &WTraceController::linkClosed);

    // Panels and handler: requests and writes go to the handler, every answer to every
    // panel, every polled value to every live panel; each keeps what carries its own
    // motor/bank and number.
    wirePanel(m_velocityRamp);
    wirePanel(m_positioningRamp);
    wirePanel(m_velocityControl);
    // The velocity panel follows the motor while polling runs, as its siblings do (the
    // "Velocity" chart has its number polled).
    wireLiveValues(m_velocityControl);
    wirePanel(m_positionControl);
    connect(m_positionControl, &WPositionControl::doMove, m_handler,
            &SerialUSBCommandHandler::doMove);
    wireLiveValues(m_positionControl);
    wirePanel(m_currentControl);
    wireLiveValues(m_currentControl);
    wirePanel(m_pwmControl);
    wireLiveValues(m_pwmControl);
    wirePanel(m_motorSettings);
    wirePanel(m_encoderSettings);
    wirePanel(m_commutationMode);
    wirePanel(m_velocityPid);
    wirePanel(m_currentPid);
    wirePanel(m_positionPid);
    connect(m_directMode, &WDirectMode::doRequest, m_handler, &SerialUSBCommandHandler::doRequest);
    connect(m_handler, &SerialUSBCommandHandler::requestResult, m_directMode,
            &WDirectMode::requestResult);
    connect(m_traceController,
            qOverload<QList<TraceCommand*>*>(&WTraceController::requestTraceValues), m_handler,
            &SerialUSBCommandHandler::requestTraceValues);

    // Each chart panel takes the polled values, draws while polling runs, has its curves
    // polled, and sits below the tabs, in list order.
    for (WDrawer* drawer : std::as_const(m_drawers)) {
        connect(m_handler, &SerialUSBCommandHandler::requestedTraceValue, drawer,
                &WDrawer::requestedTraceValue);
        connect(m_traceController, &WTraceController::start, drawer, &WDrawer::startDrawing);
        connect(m_traceController, &WTraceController::stop, drawer, &WDrawer::stopDrawing);
        offerTraceValues(drawer->traceTypes());
        chartLayout->addWidget(drawer);
    }

    // The recording of the live values: a row per polling cycle, made of the cycle's
    // answers; a lost link ends it.
    m_liveRecorder = new LiveRecorder(this);
    connect(m_traceController, &WTraceController::cycleStarted, m_liveRecorder,
            &LiveRecorder::beginCycle);
    connect(m_handler, &SerialUSBCommandHandler::requestedTraceValue, m_liveRecorder,
            &LiveRecorder::takeValue);
    connect(m_traceController, &WTraceController::cycleFinished, m_liveRecorder,
            &LiveRecorder::endCycle);
    connect(m_handler, &SerialUSBCommandHandler::deviceClosed, m_liveRecorder,
            &LiveRecorder::linkClosed);
    connect(m_liveRecorder, &LiveRecorder::failed, this,
            [this](const QString& fileName, const QString& reason) {
                emit fileOperationFailed(tr("Recording failed: %1: %2").arg(fileName, reason));
            });

    // The status flags: read only, no writes.
    connect(m_statusFlags, &WStatusFlagsV::requestValue, m_handler,
            &SerialUSBCommandHandler::getAxisParameter);
    connect(m_handler, &SerialUSBCommandHandler::requestedValue, m_statusFlags,
            &WStatusFlagsV::requestedValue);
    connect(m_handler, &SerialUSBCommandHandler::requestedTraceValue, m_statusFlags,
            &WStatusFlagsV::requestedTraceValue);

    // The live values polled for the panels, after those of the charts: command 6 (get
    // axis parameter) on motor/bank 0 for each; the controller drops a repeat.
    for (const ParameterPanel* panel : std::initializer_list<const ParameterPanel*>{
             m_positionControl, m_currentControl, m_pwmControl, m_statusFlags})
        offerTraceValues(panel->traceTypes());

    // The tabs above, the charts below, split where the user leaves it; the charts take
    // whatever height the tabs do not need.
    auto* topPart = new QWidget;
    topLayout->setContentsMargins(0, 0, 0, 0);
    topPart->setLayout(topLayout);
    topPart->setMaximumHeight(topPart->sizeHint().height());
    auto* chartPart = new QWidget;
    chartLayout->setContentsMargins(0, 0, 0, 0);
    chartLayout->setSpacing(2);
    chartPart->setLayout(chartLayout);
    m_chartSplitter = new QSplitter(Qt::Vertical);
    m_chartSplitter->setObjectName(QStringLiteral("splitterCharts"));
    m_chartSplitter->setChildrenCollapsible(false);
    m_chartSplitter->addWidget(topPart);
    m_chartSplitter->addWidget(chartPart);
    m_chartSplitter->setStretchFactor(0, 0);
    m_chartSplitter->setStretchFactor(1, 1);
    mainLayout->setContentsMargins(4, 2, 4, 2);
    mainLayout->addWidget(m_chartSplitter);
    setLayout(mainLayout);

    // Each parameter field names its parameter number.
    ParameterToolTips::apply(this);

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
    // Written beside the message handler, on the same stream (and to the log view).
    LogSink::instance().write(QStringLiteral("TraceCommand->size(): %1").arg(traceCommands.size()));
    for (const TraceCommand* record : traceCommands)
        DebugLine() << "TraceCommand: " << QString::number(record->command()) << ", "
                    << QString::number(record->type()) << ", "
                    << QString::number(record->motorBank());
}

void BLDC::openHandler(const QString& name, const QString& description)
{
    // Nothing chosen: no link, and whatever link is open stays open.
    if (name.isEmpty()) {
        announceClosed(Link::Usb);
        return;
    }
    m_lastRequest = {Link::Usb, name, description, 0, 1};
    // A USB virtual COM port keeps its own line settings; the module answers to address 1.
    attachAndOpen(new SerialUSBDevice(name, description), 1, Link::Usb);
}

void BLDC::closeHandler()
{
    closeLink(Link::Usb);
}

void BLDC::openSerialHandler(const QString& name, int baudrate, int address)
{
    if (name.isEmpty()) {
        announceClosed(Link::Serial);
        return;
    }
    m_lastRequest = {Link::Serial, name, QString(), baudrate, address};
    DebugLine() << "baudrate: " << baudrate << "   address: " << address;
    auto* device = new SerialUSBDevice(name, QString());
    device->setBaudRate(baudrate);
    attachAndOpen(device, address, Link::Serial);
}

void BLDC::closeSerialHandler()
{
    closeLink(Link::Serial);
}

void BLDC::closeLink(Link link)
{
    // A panel whose link was replaced by the other panel's has nothing to close.
    if (m_link != link)
        return;
    m_handler->close();
    m_traceController->setLinkOpen(false);
    emit linkClosed();
}

void BLDC::reconnect()
{
    const LinkRequest request = m_lastRequest;
    if (request.link == Link::Usb)
        openHandler(request.name, request.description);
    else if (request.link == Link::Serial)
        openSerialHandler(request.name, request.baudrate, request.address);
}

void BLDC::attachAndOpen(SerialUSBDevice* device, int moduleAddress, Link link)
{
    // The old device goes first, so a reconnect to the same port finds it free.
    SerialUSBDevice* previous = m_handler->device();
    m_handler->setDevice(device);
    delete previous;
    if (m_link != link)
        announceClosed(m_link);
    m_link = link;
    m_handler->setModuleAddress(moduleAddress);
    if (m_handler->open()) {
        announceOpened(link);
        emit linkOpened(device->portName(), device->isBaudRateSet() ? device->baudRate() : 0,
                        moduleAddress);
    } else {
        // The device has said why; the panel must not show a link that does not exist.
        m_link = Link::None;
        announceClosed(link);
        emit linkOpenFailed(device->portName(), device->errorString());
    }
    m_traceController->setLinkOpen(m_handler->isOpen());
    SerialUSBCommandHandler::Batch refresh(*m_handler);
    updateAll();
    if (m_handler->isOpen() && !refresh.isClean())
        reportNotClean(tr("Reading the module's values"));
}

void BLDC::reportNotClean(const QString& operation)
{
    DebugLine().plain(QStringLiteral("%1: the line is not clean").arg(operation));
    emit lineNotClean(operation);
}

void BLDC::wirePanel(ParameterPanel* panel)
{
    connect(panel, &ParameterPanel::requestValue, m_handler,
            &SerialUSBCommandHandler::getAxisParameter);
    connect(panel, &ParameterPanel::changeValue, m_handler,
            &SerialUSBCommandHandler::setAxisParameter);
    connect(m_handler, &SerialUSBCommandHandler::requestedValue, panel,
            &ParameterPanel::requestedValue);
}

void BLDC::wireLiveValues(ParameterPanel* panel)
{
    connect(m_handler, &SerialUSBCommandHandler::requestedTraceValue, panel,
            &ParameterPanel::requestedTraceValue);
}

void BLDC::offerTraceValues(const QList<char>& types)
{
    // Command 6 (get axis parameter) on motor/bank 0; the controller drops a repeat.
    for (char type : types)
        m_traceController->addTraceCommand(new TraceCommand(6, static_cast<quint8>(type), 0));
}

void BLDC::announceClosed(Link link)
{
    if (link == Link::Usb)
        emit usbLinkClosed();
    else if (link == Link::Serial)
        emit serialLinkClosed();
}

void BLDC::announceOpened(Link link)
{
    if (link == Link::Usb)
        emit usbLinkOpened();
    else if (link == Link::Serial)
        emit serialLinkOpened();
}

void BLDC::updateAll()
{
    // Refreshed in this order: velocity-mode ramp, positioning-mode ramp, velocity control,
    // position control, motor settings, encoder settings, commutation mode, current
    // control, velocity PID, current PID, position PID, PWM control. The status flags,
    // the trace controller, the raw command panel and the charts are not refreshed.
    m_velocityRamp->updateValues();
    m_positioningRamp->updateValues();
    m_velocityControl->updateValues();
    m_positionControl->updateValues();
    m_motorSettings->updateValues();
    m_encoderSettings->updateValues();
    m_commutationMode->updateValues();
    m_currentControl->updateValues();
    m_velocityPid->updateValues();
    m_currentPid->updateValues();
    m_positionPid->updateValues();
    m_pwmControl->updateValues();
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

int configurationSize()
{
    return static_cast<int>(ParameterCatalogue::configuration().size());
}

} // namespace

void BLDC::runWithProgress(const QString& label, int total,
                           const std::function<void(const ModuleExchange::Progress&)>& operation)
{
    // The dialog lets events through between two exchanges: polling ticks wait meanwhile.
    m_traceController->holdPolling();
    SerialUSBCommandHandler::Batch batch(*m_handler);
    {
        OperationProgress progress(label, total, this);
        operation(progress.callback());
    }
    if (!batch.isClean())
        reportNotClean(label);
    m_traceController->releasePolling();
}

void BLDC::reportExportFailure(const QString& fileName, const QString& reason)
{
    // A cancel leaves no reason: the user knows.
    if (!reason.isEmpty())
        emit fileOperationFailed(tr("Export failed: %1: %2").arg(fileName, reason));
}

void BLDC::exportSettingsToVOKT()
{
    DebugLine() << "exporting settings...";
    const QString fileName = QFileDialog::getSaveFileName(this, tr("Export settings to VOKT"),
                                                          defaultFileName("VOKT_Settings.vkt"),
                                                          tr("VOKT Files (*.vkt)"));
    if (fileName.isEmpty())
        return;
    QString why;
    runWithProgress(tr("Exporting settings to VOKT"), configurationSize(),
                    [&](const ModuleExchange::Progress& progress) {
                        CommandScript::exportTo(fileName, *m_handler, progress, &why);
                    });
    reportExportFailure(fileName, why);
}

void BLDC::exportSettings()
{
    DebugLine() << "export settings";
    const QString fileName = QFileDialog::getSaveFileName(
        this, tr("Export settings"), defaultFileName("Settings.ini"), tr("Settings files (*.ini)"));
    if (fileName.isEmpty())
        return;
    QString why;
    runWithProgress(tr("Exporting settings"), configurationSize(),
                    [&](const ModuleExchange::Progress& progress) {
                        SettingsFile::exportTo(fileName, *m_handler, progress, &why);
                    });
    reportExportFailure(fileName, why);
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
    runWithProgress(tr("Importing settings"), configurationSize(),
                    [&](const ModuleExchange::Progress& progress) {
                        SettingsFile::importFrom(fileName, *m_handler, progress);
                    });
}

void BLDC::storeActualValues()
{
    runWithProgress(tr("Storing actual values on the module"), 256,
                    [this](const ModuleExchange::Progress& progress) {
                        ParameterStore::storeAll(*m_handler, progress);
                    });
}

void BLDC::restoreActualValues()
{
    runWithProgress(tr("Restoring actual values on the module"), 256,
                    [this](const ModuleExchange::Progress& progress) {
                        ParameterStore::restoreAll(*m_handler, progress);
                    });
}

void BLDC::recordLiveValues()
{
    if (m_liveRecorder->isRecording()) {
        m_liveRecorder->stop();
        return;
    }
    const QString fileName =
        QFileDialog::getSaveFileName(this, tr("Record live values to CSV"),
                                     defaultFileName("LiveValues.csv"), tr("CSV files (*.csv)"));
    if (fileName.isEmpty())
        return;
    m_liveRecorder->start(fileName, m_traceController->traceCommands());
}

void BLDC::stopMotor()
{
    DebugLine() << "Stop motor";
    m_velocityControl->stop();
}

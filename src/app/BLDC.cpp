#include "app/BLDC.h"

#include "app/FileOperations.h"
#include "app/ModuleSearch.h"
#include "app/PageScrollArea.h"
#include "app/TurningGuard.h"
#include "comm/DebugLine.h"
#include "comm/LinkController.h"
#include "comm/LogSink.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/TraceCommand.h"
#include "config/Parameter.h"
#include "config/ParameterCatalogue.h"
#include "config/ParameterModel.h"
#include "panels/connection/WConnection.h"
#include "panels/connection/WDirectMode.h"
#include "panels/connection/WSerialConnection.h"
#include "panels/motion/WCurrentControl.h"
#include "panels/motion/WPWMControl.h"
#include "panels/motion/WPositionControl.h"
#include "panels/motion/WStatusFlagsV.h"
#include "panels/motion/WVelocityControl.h"
#include "panels/parameters/WCommutationMode.h"
#include "panels/parameters/WEncoderSettings.h"
#include "panels/parameters/WMotorSettings.h"
#include "panels/parameters/WPIDControl.h"
#include "panels/parameters/WVelocityRampControl.h"
#include "sim/ServedModule.h"
#include "trace/LiveRecorder.h"
#include "trace/WDrawer.h"
#include "trace/WTraceController.h"

#include <QBoxLayout>
#include <QSpacerItem>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>

namespace {

using namespace ParameterCatalogue;

// A number as the panels' setters take it.
constexpr char type(int number)
{
    return static_cast<char>(number);
}

QSpacerItem* newSpacer()
{
    return new QSpacerItem(20, 20, QSizePolicy::Expanding, QSizePolicy::Fixed);
}

// A PID panel as the central panel shows it: the title, I-clipping bound and nine parameter
// numbers of its loop in the catalogue.
WPIDControl* newPidControl(ParameterCatalogue::Loop loop)
{
    const ParameterCatalogue::PidLoop& pid = ParameterCatalogue::pidLoop(loop);
    const auto number = [&pid](PidField field) { return type(pid.numbers[size_t(field)]); };
    auto* control = new WPIDControl(QLatin1String(pid.title));
    control->setIClippingMaximum(pid.iClippingMaximum);
    control->setMotorBank(0);
    control->setSet1Types(number(PSet1), number(ISet1), number(DSet1), number(IClippingSet1));
    control->setSet2Types(number(PSet2), number(ISet2), number(DSet2), number(IClippingSet2));
    control->setThresholdType(number(ThresholdSpeed));
    return control;
}

// Both ramp panels edit the same three parameters.
WVelocityRampControl* newVelocityRamp()
{
    auto* ramp = new WVelocityRampControl(QStringLiteral("Velocity ramp control"));
    ramp->setMotorBank(0);
    ramp->setMaxVelocityLabel(QStringLiteral("Max. velocity [rpm]"));
    ramp->setAccelerationLabel(QStringLiteral("Accel.[rpm/s]"));
    ramp->setTypes(type(MaxRampVelocity), type(Acceleration), type(EnableVelocityRamp));
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
        drawer->addChart(0, type(curve.type), curve.name, curve.color);
    return drawer;
}

} // namespace

BLDC::BLDC(QWidget* parent, ServedModule* simulatedModule)
    : QWidget(parent), m_simulatedModule(simulatedModule)
{
    m_handler = new SerialUSBCommandHandler;
    m_parameters = new ParameterModel(m_handler, this);
    m_linkController = std::make_unique<LinkController>(*m_handler);

    auto* mainLayout = new QVBoxLayout;
    auto* topLayout = new QHBoxLayout;
    auto* chartLayout = new QVBoxLayout;

    auto* usbConnection = m_usbConnection = new WConnection;
    if (m_simulatedModule && m_simulatedModule->isRunning())
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
    m_commutationMode->setType(type(CommutationMode));
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
    m_currentPid = newPidControl(ParameterCatalogue::CurrentLoop);
    auto* torquePage = new QWidget;
    m_currentControl = new WCurrentControl;
    m_currentControl->setMotorBank(0);
    auto* torqueLayout = new QHBoxLayout(torquePage);
    torqueLayout->addWidget(m_currentControl);
    torqueLayout->addWidget(m_currentPid);
    mainTabs->addTab(new PageScrollArea(torquePage), tr("Torque mode"));

    // "Velocity mode": velocity-mode ramp, velocity control, velocity PID.
    m_velocityRamp = newVelocityRamp();
    m_velocityPid = newPidControl(ParameterCatalogue::VelocityLoop);
    auto* velocityPage = new QWidget;
    m_velocityControl = new WVelocityControl;
    m_velocityControl->setMotorBank(0);
    m_velocityControl->setTypes(type(ActualVelocity), type(TargetVelocity));
    auto* velocityLayout = new QHBoxLayout(velocityPage);
    velocityLayout->addWidget(m_velocityRamp);
    velocityLayout->addWidget(m_velocityControl);
    velocityLayout->addWidget(m_velocityPid);
    mainTabs->addTab(new PageScrollArea(velocityPage), tr("Velocity mode"));

    // "Positioning mode": positioning-mode ramp, position control, position PID.
    m_positioningRamp = newVelocityRamp();
    m_positionPid = newPidControl(ParameterCatalogue::PositionLoop);
    auto* positioningPage = new QWidget;
    m_positionControl = new WPositionControl;
    m_positionControl->setMotorBank(0);
    m_positionControl->setTypes(type(ActualPosition), type(TargetPosition), type(ClearOnce),
                                type(ClearOnNull));
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
    m_statusFlags->setType(type(StatusFlags));

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
                               {ActualVelocity, QStringLiteral("actual [rpm]"), Qt::blue},
                               {RampVelocity, QStringLiteral("target [rpm]"), Qt::red}));
    m_drawers.append(newDrawer(QStringLiteral("Position"),
                               {ActualPosition, QStringLiteral("actual"), Qt::blue},
                               {TargetPosition, QStringLiteral("target"), Qt::red}));
    m_drawers.append(newDrawer(QStringLiteral("Current/PWM"),
                               {ActualPWM, QStringLiteral("PWM"), Qt::green},
                               {ActualCurrent, QStringLiteral("current"), Qt::red}));

    // Link requests of the connection panels.
    connect(usbConnection, &WConnection::openDevice, this, &BLDC::openHandler);
    connect(usbConnection, &WConnection::closeDevice, this, &BLDC::closeHandler);
    connect(serialConnection, &WSerialConnection::openDevice, this, &BLDC::openSerialHandler);
    connect(serialConnection, &WSerialConnection::closeDevice, this, &BLDC::closeSerialHandler);
    // Each panel shows whether its own link is the open one: a link opened by the other
    // panel, closed, lost (time-out, lost port) or not opened shows as closed in both.
    connect(m_linkController.get(), &LinkController::stateChanged, this, &BLDC::showLinkInPanels);

    // Panels and handler: every field shows its parameter, which reads and writes through
    // the handler; the model takes every answer and polled value to the one parameter it is
    // for. The velocity panel follows the motor while polling runs, as its siblings do (the
    // "Velocity" chart has its number polled).
    watchTurning();
    connect(m_parameters, &ParameterModel::notTaken, this, [this](const Parameter& parameter) {
        if (parameter.lastWasWrite() && parameter.state() == Parameter::State::NotConnected)
            emit nothingWritten(tr("Not connected: nothing written"));
        else
            emit parameterNotTaken(
                tr("Axis parameter %1 %2: %3")
                    .arg(parameter.number())
                    .arg(parameter.lastWasWrite() ? tr("not written") : tr("not read"),
                         parameter.reason()));
    });
    wirePanel(m_velocityRamp);
    wirePanel(m_positioningRamp);
    wirePanel(m_velocityControl);
    wirePanel(m_positionControl);
    connect(m_positionControl, &WPositionControl::doMove, m_handler,
            &SerialUSBCommandHandler::doMove);
    wirePanel(m_currentControl);
    wirePanel(m_pwmControl);
    wirePanel(m_motorSettings);
    wirePanel(m_encoderSettings);
    wirePanel(m_commutationMode);
    wirePanel(m_velocityPid);
    wirePanel(m_currentPid);
    wirePanel(m_positionPid);
    connect(m_directMode, &WDirectMode::doRequest, m_handler, &SerialUSBCommandHandler::doRequest);
    connect(m_handler, &SerialUSBCommandHandler::requestResult, m_directMode,
            &WDirectMode::requestResult);
    // ...or to another module on the line; the link's address is the one it starts from.
    connect(m_directMode, &WDirectMode::requestToAddress, m_handler,
            &SerialUSBCommandHandler::doAddressedRequest);
    connect(m_linkController.get(), &LinkController::stateChanged, m_directMode,
            [this](const LinkController::State& state) {
                if (state.isOpen())
                    m_directMode->setLinkAddress(state.request.address);
            });
    // Lamps lit from an earlier word are not the module's once the link is down.
    connect(m_linkController.get(), &LinkController::stateChanged, m_statusFlags,
            [this](const LinkController::State& state) {
                if (!state.isOpen())
                    m_statusFlags->showNoWord(tr("No status word: the link is not open."));
            });
    // "Find modules…" of the serial panel: a link on the port is closed (with consent) first.
    new ModuleSearch(
        *serialConnection, *m_linkController, [this] { return closeLink(attachedLink()); }, this);
    // Polling follows the link: it starts only while one is open, and a link that closes
    // ends it.
    m_traceController->setLink(*m_linkController);
    const Poller* poller = m_traceController->poller();

    // Each chart panel takes the polled values, draws while polling runs, has its curves
    // polled, and sits below the tabs, in list order.
    for (WDrawer* drawer : std::as_const(m_drawers)) {
        connect(poller, &Poller::sampled, drawer, &WDrawer::takeSample);
        connect(m_traceController, &WTraceController::start, drawer, &WDrawer::startDrawing);
        connect(m_traceController, &WTraceController::stop, drawer, &WDrawer::stopDrawing);
        connect(m_linkController.get(), &LinkController::stateChanged, drawer,
                [drawer](const LinkController::State& state) {
                    if (state.isOpen())
                        drawer->moduleOpened(state.request.port, state.request.address);
                });
        offerTraceValues(drawer->traceTypes());
        chartLayout->addWidget(drawer);
    }

    // The recording of the live values: a row per polling cycle, made of the cycle's
    // answers; a lost link ends it.
    m_liveRecorder = new LiveRecorder(this);
    connect(m_traceController, &WTraceController::cycleStarted, m_liveRecorder,
            &LiveRecorder::beginCycle);
    connect(poller, &Poller::sampled, m_liveRecorder, &LiveRecorder::takeSample);
    connect(m_traceController, &WTraceController::cycleFinished, m_liveRecorder,
            &LiveRecorder::endCycle);
    connect(m_linkController.get(), &LinkController::stateChanged, m_liveRecorder,
            [this](const LinkController::State& state) {
                if (state.kind == LinkController::State::Lost)
                    m_liveRecorder->linkClosed();
            });
    connect(m_liveRecorder, &LiveRecorder::failed, this,
            [this](const QString& fileName, const QString& reason) {
                emit fileOperationFailed(tr("Recording failed: %1: %2").arg(fileName, reason));
            });

    // The menu's file operations, with their dialogs.
    m_fileOperations = new FileOperations(*m_handler, *m_traceController, *m_liveRecorder, this);
    m_fileOperations->setStopMotor([this] { stopMotor(); });
    if (m_simulatedModule && m_simulatedModule->isRunning())
        m_fileOperations->setSimulatedPort(m_simulatedModule->portName());
    connect(m_fileOperations, &FileOperations::lineNotClean, this, &BLDC::reportNotClean);
    connect(m_fileOperations, &FileOperations::failed, this, &BLDC::fileOperationFailed);
    connect(m_fileOperations, &FileOperations::done, this, &BLDC::fileOperationDone);

    // The status flags: read only, no writes.
    m_statusFlags->setParameterModel(m_parameters);

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

    writeTraceListDiagnostics(m_traceController->traceCommands());
}

BLDC::~BLDC()
{
    // The panels go after this body, and a field that loses its focus then still commits its
    // edit: nothing of it may reach the half-destroyed central panel any more.
    for (QObject* child : findChildren<QObject*>())
        disconnect(child, nullptr, this, nullptr);
    // The link's device goes before the handler it is attached to.
    m_linkController.reset();
    delete m_handler;
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
        showLinkInPanels();
        return;
    }
    // A USB virtual COM port keeps its own line settings; the module answers to address 1.
    const LinkController::Request request{name, description, 0, vokt::DefaultModuleAddress,
                                          int(Link::Usb)};
    if (!mayReplace(request.port, request.address))
        return;
    openLink([this, &request] { return m_linkController->open(request); });
}

void BLDC::closeHandler()
{
    closeLink(Link::Usb);
}

void BLDC::openSerialHandler(const QString& name, int baudrate, int address)
{
    if (name.isEmpty()) {
        showLinkInPanels();
        return;
    }
    DebugLine() << "baudrate: " << baudrate << "   address: " << address;
    const LinkController::Request request{name, QString(), baudrate, address, int(Link::Serial)};
    if (!mayReplace(request.port, request.address))
        return;
    openLink([this, &request] { return m_linkController->open(request); });
}

void BLDC::closeSerialHandler()
{
    closeLink(Link::Serial);
}

BLDC::Link BLDC::attachedLink() const
{
    const LinkController::State& state = m_linkController->state();
    return state.isOpen() || state.isLost() ? static_cast<Link>(state.request.origin) : Link::None;
}

bool BLDC::closeLink(Link link)
{
    // A panel whose link was replaced by the other panel's has nothing to close.
    if (link == Link::None || attachedLink() != link)
        return true;
    if (!mayLeaveModule()) {
        showLinkInPanels();
        return false;
    }
    m_turning->forget();
    m_linkController->close();
    return true;
}

void BLDC::reconnect()
{
    if (!m_linkController->hasRequest())
        return;
    const LinkController::Request& request = m_linkController->lastRequest();
    if (static_cast<Link>(request.origin) == Link::Serial)
        DebugLine() << "baudrate: " << request.baudRate << "   address: " << request.address;
    openLink([this] { return m_linkController->reconnect(); });
}

void BLDC::openLink(const std::function<bool()>& open)
{
    if (!open()) {
        // Straight to standard output (and the log view), not through the message handler.
        LogSink::instance().write(
            QStringLiteral("could not open: %1 (%2)")
                .arg(m_linkController->lastRequest().port, m_linkController->closeReason()));
    }
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
    panel->setParameterModel(m_parameters);
    connect(panel, &ParameterPanel::changeValue, m_turning, &TurningGuard::written);
}

void BLDC::offerTraceValues(const QList<char>& types)
{
    // Command 6 (get axis parameter) on motor/bank 0; the controller drops a repeat.
    for (char type : types)
        m_traceController->addTraceCommand(
            new TraceCommand(vokt::GetAxisParameter, static_cast<quint8>(type), 0));
}

void BLDC::showLinkInPanels()
{
    const LinkController::State& state = m_linkController->state();
    const auto shown = [&state](Link link) {
        return state.isOpen() && static_cast<Link>(state.request.origin) == link;
    };
    if (shown(Link::Usb))
        m_usbConnection->deviceOpened();
    else
        m_usbConnection->deviceClosed();
    if (shown(Link::Serial))
        m_serialConnection->deviceOpened();
    else
        m_serialConnection->deviceClosed();
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

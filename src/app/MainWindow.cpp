#include "app/MainWindow.h"

#include "app/AppIcons.h"
#include "app/BLDC.h"
#include "app/CommissionDialog.h"
#include "app/FrequencyResponseDialog.h"
#include "app/LinkStatus.h"
#include "app/LogView.h"
#include "app/RememberedSettings.h"
#include "app/ScreenFit.h"
#include "app/StepResponseDialog.h"
#include "app/StopEverywhere.h"
#include "app/TuningDialog.h"
#include "comm/DebugLine.h"
#include "comm/LinkController.h"
#include "comm/SerialUSBCommandHandler.h"
#include "config/Version.h"
#include "sim/ServedModule.h"
#include "trace/LiveRecorder.h"
#include "trace/RecordingStatus.h"
#include "trace/WDrawer.h"
#include "trace/WTraceController.h"

#include <QAction>
#include <QCloseEvent>
#include <QDockWidget>
#include <QGridLayout>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

namespace {

constexpr int FailureShownMs = 20000;

// The size beyond which a first start gains nothing from a larger window.
constexpr int LargestFirstWidth = 1600;
constexpr int LargestFirstHeight = 1000;

} // namespace

MainWindow::MainWindow(QWidget* parent, Qt::WindowFlags flags) : QMainWindow(parent, flags)
{
    setWindowTitle(QStringLiteral("ZIRO-BLDC"));
    setWindowIcon(QIcon(QStringLiteral(":/ziro-bldc.png")));
    m_simulatedModule = std::make_unique<ServedModule>();
    QString simulatorError;
    if (!m_simulatedModule->start(&simulatorError))
        DebugLine().plain(QStringLiteral("could not start the simulated module: ") +
                          simulatorError);
    m_bldc = new BLDC(nullptr, m_simulatedModule.get());
    setCentralWidget(m_bldc);
    m_settings = new RememberedSettings(RememberedSettings::defaultFileName(), this);
    createLogDock();
    createMenus();
    createToolBar();
    createStatusBar();
    AppIcons::apply(this);
    m_settings->attach(m_bldc->usbConnection(), m_bldc->serialConnection(),
                       m_bldc->traceController());
}

MainWindow::~MainWindow()
{
    // The central panel releases its link before the simulated module stops; nothing
    // stops through it any more.
    delete m_stopEverywhere;
    delete m_bldc;
}

MainWindow* MainWindow::createAndShow()
{
    auto* window = new MainWindow;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        window->resize(firstStartSize(available, screen->geometry()));
        window->move(available.topLeft());
    } else {
        window->resize(800, 500);
    }
    window->restoreLayout();
    window->m_stopEverywhere->takeEndings();
    window->show();
    // A remembered size from a larger screen (or a log that once grew it) fits this one.
    ScreenFit::keepOnScreen(window);
    return window;
}

QSize MainWindow::firstStartSize(const QRect& available, const QRect& screen)
{
    const QRect area = ScreenFit::freeArea(available, screen);
    return QSize(std::min(area.width(), LargestFirstWidth),
                 std::min(area.height(), LargestFirstHeight));
}

void MainWindow::createMenus()
{
    QMenu* fileMenu = menuBar()->addMenu(tr("&File"));
    connect(fileMenu->addAction(tr("&Export settings to *.ini")), &QAction::triggered, m_bldc,
            &BLDC::exportSettings);
    connect(fileMenu->addAction(tr("&Import settings from *.ini")), &QAction::triggered, m_bldc,
            &BLDC::importSettings);
    connect(fileMenu->addAction(tr("Co&mpare with settings file…")), &QAction::triggered, m_bldc,
            &BLDC::compareWithSettingsFile);
    connect(fileMenu->addAction(tr("Save commissioning recor&d…")), &QAction::triggered, m_bldc,
            &BLDC::saveCommissioningRecord);
    fileMenu->addSeparator();
    connect(fileMenu->addAction(tr("Export settings to &VOKT")), &QAction::triggered, m_bldc,
            &BLDC::exportSettingsToVOKT);
    fileMenu->addSeparator();
    connect(fileMenu->addAction(tr("&Store actual values")), &QAction::triggered, m_bldc,
            &BLDC::storeActualValues);
    connect(fileMenu->addAction(tr("&Restore actual values")), &QAction::triggered, m_bldc,
            &BLDC::restoreActualValues);
    fileMenu->addSeparator();
    addRecordingEntry(fileMenu);
    fileMenu->addSeparator();
    QAction* exitAction = fileMenu->addAction(tr("E&xit"));
    exitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(exitAction, &QAction::triggered, this, &MainWindow::exitProgram);

    QMenu* viewMenu = menuBar()->addMenu(tr("&View"));
    QAction* logAction = m_logDock->toggleViewAction();
    logAction->setText(tr("&Log"));
    viewMenu->addAction(logAction);
    createPauseCharts(viewMenu);

    QMenu* toolsMenu = menuBar()->addMenu(tr("&Tools"));
    QAction* stepResponse = toolsMenu->addAction(tr("&Step response…"));
    stepResponse->setObjectName(QStringLiteral("actionStepResponse"));
    connect(stepResponse, &QAction::triggered, this, &MainWindow::showStepResponse);
    QAction* frequencyResponse = toolsMenu->addAction(tr("&Frequency response…"));
    frequencyResponse->setObjectName(QStringLiteral("actionFrequencyResponse"));
    connect(frequencyResponse, &QAction::triggered, this, &MainWindow::showFrequencyResponse);
    QAction* tuning = toolsMenu->addAction(tr("&Tune velocity loop…"));
    tuning->setObjectName(QStringLiteral("actionTuneVelocityLoop"));
    connect(tuning, &QAction::triggered, this, &MainWindow::showTuning);
    QAction* commission = toolsMenu->addAction(tr("&Commission modules on the line…"));
    commission->setObjectName(QStringLiteral("actionCommission"));
    connect(commission, &QAction::triggered, this, &MainWindow::showCommission);

    QMenu* helpMenu = menuBar()->addMenu(tr("&Help"));
    connect(helpMenu->addAction(tr("&About")), &QAction::triggered, this,
            &MainWindow::showVersionInfo);
}

void MainWindow::showCommission()
{
    if (!m_commission)
        m_commission = new CommissionDialog(
            *m_bldc->handler(), m_bldc->traceController(), [this] { m_stopMotor->trigger(); },
            this);
    m_commission->show();
    m_commission->raise();
    m_commission->activateWindow();
}

void MainWindow::showStepResponse()
{
    if (!m_stepResponse) {
        m_stepResponse =
            new StepResponseDialog(*m_bldc->handler(), m_bldc->traceController(), this);
        m_stepResponse->setLinkController(m_bldc->linkController());
        // Stop motor also ends a step in progress.
        connect(m_stopMotor, &QAction::triggered, m_stepResponse, &StepResponseDialog::stop);
    }
    m_stepResponse->show();
    m_stepResponse->raise();
    m_stepResponse->activateWindow();
}

void MainWindow::showFrequencyResponse()
{
    if (!m_frequencyResponse)
        m_frequencyResponse = new FrequencyResponseDialog(
            *m_bldc->handler(), m_bldc->linkController(), m_bldc->traceController(), this);
    m_frequencyResponse->show();
    m_frequencyResponse->raise();
    m_frequencyResponse->activateWindow();
}

void MainWindow::showTuning()
{
    if (!m_tuning)
        m_tuning = new TuningDialog(*m_bldc->handler(), m_bldc->linkController(),
                                    m_bldc->traceController(), this);
    m_tuning->show();
    m_tuning->raise();
    m_tuning->activateWindow();
}

void MainWindow::addRecordingEntry(QMenu* menu)
{
    QAction* record = menu->addAction(tr("Record live values to &CSV…"));
    connect(record, &QAction::triggered, m_bldc, &BLDC::recordLiveValues);
    connect(
        m_bldc->liveRecorder(), &LiveRecorder::recordingChanged, record, [record](bool recording) {
            record->setText(recording ? tr("S&top recording") : tr("Record live values to &CSV…"));
        });
}

void MainWindow::createLogDock()
{
    m_logView = new LogView;
    m_logDock = new QDockWidget(tr("Log"), this);
    m_logDock->setObjectName(QStringLiteral("dockLog"));
    m_logDock->setWidget(m_logView);
    addDockWidget(Qt::BottomDockWidgetArea, m_logDock);
    // Until the user opens it: the window as it always was.
    m_logDock->hide();
    // Opened, it takes its height from the window's: a window it made taller is given back
    // its height (as far as its minimum allows), so the status bar stays where it was.
    connect(m_logDock, &QDockWidget::visibilityChanged, this, [this](bool visible) {
        if (visible)
            ScreenFit::keepHeight(this, height());
    });
}

void MainWindow::createToolBar()
{
    m_toolBar = new QToolBar(tr("Motor"), this);
    m_toolBar->setObjectName(QStringLiteral("toolBarMotor"));
    // Always in its place: it cannot be moved, floated or hidden.
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->toggleViewAction()->setVisible(false);
    addToolBar(Qt::TopToolBarArea, m_toolBar);

    m_stopMotor = new QAction(tr("Stop motor"), this);
    m_stopMotor->setObjectName(QStringLiteral("actionStopMotor"));
    m_stopMotor->setShortcut(QKeySequence(Qt::Key_Escape));
    // Esc works wherever the focus is in this window; a modal dialog takes it for itself.
    m_stopMotor->setShortcutContext(Qt::WindowShortcut);
    m_stopMotor->setToolTip(tr("Stop motor (Esc): target velocity 0, the motor comes to rest "
                               "under its ramp"));
    m_stopMotor->setEnabled(false);
    m_toolBar->addAction(m_stopMotor);
    // The shortcut also holds where the tool bar cannot be seen.
    addAction(m_stopMotor);
    if (QWidget* button = m_toolBar->widgetForAction(m_stopMotor)) {
        button->setObjectName(QStringLiteral("btnStopMotor"));
        button->setStyleSheet(QStringLiteral(
            "QToolButton { color: white; background-color: #c62828; font-weight: bold;"
            " border: 1px solid #8e0000; border-radius: 3px; padding: 3px 12px; }"
            "QToolButton:hover { background-color: #e53935; }"
            "QToolButton:pressed { background-color: #8e0000; }"
            "QToolButton:disabled { color: #fbe9e7; background-color: #e6a5a5;"
            " border-color: #d08080; }"));
    }
    // Enabled where a click is taken; Esc also in the tool's dialogs; a signal closes the
    // window.
    m_stopEverywhere = new StopEverywhere(*m_bldc, *m_stopMotor, *this);
    connect(m_stopEverywhere, &StopEverywhere::endBySignal, this, &QWidget::close);

    m_toolBar->addSeparator();
    m_toolBar->addAction(m_pauseCharts);
    if (QWidget* button = m_toolBar->widgetForAction(m_pauseCharts))
        button->setObjectName(QStringLiteral("btnPauseCharts"));
}

void MainWindow::createPauseCharts(QMenu* viewMenu)
{
    // Space is handled by the window itself (keyPressEvent), not as a shortcut, so a field,
    // a button or a list that takes Space keeps it; the menu shows it all the same.
    m_pauseCharts = new QAction(tr("Pause charts"), this);
    m_pauseCharts->setObjectName(QStringLiteral("actionPauseCharts"));
    m_pauseCharts->setCheckable(true);
    m_pauseCharts->setToolTip(tr("Pause charts (Space): freeze every chart's picture while the "
                                 "values keep arriving; again to go on from the newest"));
    viewMenu->addSeparator();
    QAction* entry = viewMenu->addAction(tr("&Pause charts") + QStringLiteral("\tSpace"));
    entry->setCheckable(true);
    entry->setToolTip(m_pauseCharts->toolTip());
    connect(entry, &QAction::triggered, m_pauseCharts, &QAction::trigger);
    connect(m_pauseCharts, &QAction::toggled, entry, &QAction::setChecked);
    connect(m_pauseCharts, &QAction::triggered, this, &MainWindow::setChartsPaused);
    for (WDrawer* drawer : m_bldc->drawers())
        connect(drawer, &WDrawer::pausedChanged, this, &MainWindow::showChartsPaused);
}

void MainWindow::setChartsPaused(bool paused)
{
    for (WDrawer* drawer : m_bldc->drawers())
        drawer->setPaused(paused);
    showChartsPaused();
}

void MainWindow::showChartsPaused()
{
    bool all = !m_bldc->drawers().isEmpty();
    for (const WDrawer* drawer : m_bldc->drawers())
        all = all && drawer->isPaused();
    const QSignalBlocker quiet(m_pauseCharts);
    m_pauseCharts->setChecked(all);
    m_pauseCharts->setText(all ? tr("Resume charts") : tr("Pause charts"));
}

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        m_pauseCharts->trigger();
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void MainWindow::createStatusBar()
{
    m_linkStatus = new LinkStatus;
    statusBar()->addWidget(m_linkStatus, 1);
    statusBar()->addPermanentWidget(new RecordingStatus(m_bldc->liveRecorder()));
    connect(m_bldc->linkController(), &LinkController::stateChanged, m_linkStatus,
            &LinkStatus::showLink);
    connect(m_bldc, &BLDC::lineNotClean, m_linkStatus, &LinkStatus::showLineNotClean);
    connect(m_linkStatus, &LinkStatus::reconnectRequested, m_bldc, &BLDC::reconnect);
    // The result of a whole-module operation is shown for a while in place of the link, a
    // failure in red; the log that tells it line by line is a click away meanwhile.
    auto* showLog = new QToolButton;
    showLog->setObjectName(QStringLiteral("btnShowLog"));
    showLog->setText(tr("Log"));
    showLog->setToolTip(tr("Show the log"));
    showLog->setAutoRaise(true);
    showLog->hide();
    statusBar()->addPermanentWidget(showLog);
    connect(showLog, &QToolButton::clicked, this, [this] {
        m_logDock->show();
        m_logDock->raise();
    });
    connect(statusBar(), &QStatusBar::messageChanged, this, [this, showLog](const QString& text) {
        showLog->setVisible(!text.isEmpty());
        if (text.isEmpty())
            statusBar()->setStyleSheet(QString());
    });
    const auto showResult = [this](const QString& message, bool failure) {
        statusBar()->setStyleSheet(failure ? QStringLiteral("QStatusBar { color: #b71c1c; }")
                                           : QString());
        statusBar()->showMessage(message, FailureShownMs);
    };
    connect(m_bldc, &BLDC::fileOperationFailed, statusBar(),
            [showResult](const QString& message) { showResult(message, true); });
    connect(m_bldc, &BLDC::fileOperationDone, statusBar(),
            [showResult](const QString& message) { showResult(message, false); });
    connect(m_bldc, &BLDC::nothingWritten, statusBar(),
            [showResult](const QString& message) { showResult(message, true); });
    connect(m_bldc, &BLDC::parameterNotTaken, statusBar(),
            [showResult](const QString& message) { showResult(message, true); });
    WTraceController* trace = m_bldc->traceController();
    connect(trace, &WTraceController::start, m_linkStatus, &LinkStatus::pollingStarted);
    connect(trace, &WTraceController::stop, m_linkStatus, &LinkStatus::pollingStopped);
    connect(trace, &WTraceController::cycleFinished, m_linkStatus, &LinkStatus::cycleDone);
}

void MainWindow::restoreLayout()
{
    const QByteArray geometry = m_settings->windowGeometry();
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    const QByteArray state = m_settings->windowState();
    if (!state.isEmpty())
        restoreState(state);
    // The tabs get the height they ask for, the charts the rest, unless the user moved the
    // splitter before.
    QSplitter* splitter = m_bldc->chartSplitter();
    const QByteArray split = m_settings->splitterState();
    if (split.isEmpty() || !splitter->restoreState(split)) {
        // At the window's size, laid out as it will be shown.
        layout()->activate();
        m_bldc->layout()->activate();
        const int tabs = splitter->widget(0)->sizeHint().height();
        splitter->setSizes({tabs, std::max(1, splitter->height() - tabs)});
    }
    // Stop motor stays in view, whatever was remembered.
    m_toolBar->show();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // A step or frequency response in progress is stopped first; the window stays until it
    // has ended (after a signal it then closes by itself).
    const bool bySignal = m_stopEverywhere->endRequested();
    const bool stepRunning = m_stepResponse && m_stepResponse->isRunning();
    const bool sweepRunning = m_frequencyResponse && m_frequencyResponse->isRunning();
    if (stepRunning || sweepRunning) {
        if (stepRunning)
            m_stepResponse->stop();
        if (sweepRunning)
            m_frequencyResponse->stop();
        event->ignore();
        if (bySignal)
            QTimer::singleShot(50, this, &QWidget::close);
        return;
    }
    // Never away from a turning motor: the user is asked, a signal stops it.
    if (bySignal) {
        m_bldc->stopIfTurning();
    } else if (!m_bldc->mayLeaveModule()) {
        event->ignore();
        return;
    }
    // So is a commissioning, after the module in progress.
    if (m_commission && m_commission->isRunning()) {
        m_commission->cancel();
        event->ignore();
        return;
    }
    m_settings->rememberWindow(saveGeometry(), saveState());
    m_settings->rememberSplitter(m_bldc->chartSplitter()->saveState());
    QMainWindow::closeEvent(event);
}

QString MainWindow::versionInfoText()
{
    return tr("ZIRO-BLDC\n") + tr("Version:  \t") + QString::number(Version::majorVersion()) +
           QStringLiteral(".") + QString::number(Version::minorVersion()) + QStringLiteral("\n") +
           tr("Build-ID: \t") + QString::number(Version::buildNumber());
}

QString MainWindow::packageVersionText()
{
    return Version::of(QStringLiteral("ziro-bldc"));
}

void MainWindow::exitProgram()
{
    close();
}

void MainWindow::showVersionInfo()
{
    // As QMessageBox::about shows it, with the package's version below the three lines.
    QMessageBox box(QMessageBox::NoIcon, tr("About this Version..."), versionInfoText(),
                    QMessageBox::Ok);
    box.setIconPixmap(windowIcon().pixmap(64, 64));
    box.setInformativeText(packageVersionText());
    // Wide enough for the window frame to show the whole title beside its buttons.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        const int title =
            QFontMetrics(box.font()).horizontalAdvance(box.windowTitle()) * 5 / 4 + 160;
        grid->addItem(new QSpacerItem(title, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
    box.exec();
}

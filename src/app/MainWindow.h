#pragma once

#include <QMainWindow>
#include <QRect>
#include <QSize>
#include <QString>

#include <memory>

class CommissionDialog;
class FrequencyResponseDialog;
class StepResponseDialog;
class StopEverywhere;
class TuningDialog;

class BLDC;
class LinkStatus;
class LogView;
class QAction;
class QDockWidget;
class QMenu;
class QToolBar;
class RememberedSettings;
class ServedModule;

// The application window: the central panel fills it, the menu bar offers the file
// operations (carried out by the central panel), the log, Exit and the About box; a tool
// bar at the top holds "Stop motor" (also on Esc, wherever the focus is in the window and
// in its dialogs); the window does not close on a turning motor without asking;
// the status bar shows the link to the module, and a dock at the bottom the log. "Pause
// charts" (also Space, where no field takes the key) freezes every chart's picture. A
// simulated module is served on a pseudo-terminal while the window lives, so that the tool
// can be tried without hardware.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr, Qt::WindowFlags flags = {});
    ~MainWindow() override;

    // The window as the application starts it: as the user left it, or on a first start
    // as large as the screen's free area allows (up to a size where nothing gains from
    // more), shown. The application installs its message handler first.
    static MainWindow* createAndShow();
    // The first start's size within a screen's free area: room is left for a task bar of
    // 40 pixels where the platform reports none.
    static QSize firstStartSize(const QRect& available, const QRect& screen);

    BLDC* centralPanel() const { return m_bldc; }
    LinkStatus* linkStatus() const { return m_linkStatus; }
    LogView* logView() const { return m_logView; }
    QDockWidget* logDock() const { return m_logDock; }
    // "Stop motor": enabled while a link is open or was lost, unless a dialog blocks the
    // window.
    QAction* stopMotorAction() const { return m_stopMotor; }
    // "Pause charts": checked while every chart panel is paused.
    QAction* pauseChartsAction() const { return m_pauseCharts; }
    // Tools → "Step response…"; made when first shown.
    StepResponseDialog* stepResponseDialog() const { return m_stepResponse; }
    // Tools → "Frequency response…"; made when first shown.
    FrequencyResponseDialog* frequencyResponseDialog() const { return m_frequencyResponse; }
    TuningDialog* tuningDialog() const { return m_tuning; }
    // Tools → "Commission modules on the line…"; made when first shown.
    CommissionDialog* commissionDialog() const { return m_commission; }

    // The three lines of the About box: family name, version, build number.
    static QString versionInfoText();
    // What the About box adds below them: the package and the checkout it was built from,
    // "ziro-bldc 1.2.120 (git 4f9511f)".
    static QString packageVersionText();

public slots:
    void exitProgram();
    void showVersionInfo();
    void showStepResponse();
    void showFrequencyResponse();
    void showTuning();
    void showCommission();

protected:
    // Remembers the window's geometry and dock layout.
    void closeEvent(QCloseEvent* event) override;
    // Space that no field took pauses or resumes the charts.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void createMenus();
    // "Record live values to CSV…", which reads "Stop recording" while a recording runs.
    void addRecordingEntry(QMenu* menu);
    void createLogDock();
    void createToolBar();
    // "Pause charts" in the View menu and the tool bar, kept in step with the panels.
    void createPauseCharts(QMenu* viewMenu);
    void setChartsPaused(bool paused);
    void showChartsPaused();
    void createStatusBar();
    // Geometry and dock layout as the user left them, if remembered.
    void restoreLayout();

    // Before the central panel, which lists it, and destroyed after it.
    std::unique_ptr<ServedModule> m_simulatedModule;
    BLDC* m_bldc;
    LinkStatus* m_linkStatus;
    LogView* m_logView;
    QDockWidget* m_logDock;
    QToolBar* m_toolBar;
    QAction* m_stopMotor;
    StopEverywhere* m_stopEverywhere;
    QAction* m_pauseCharts = nullptr;
    RememberedSettings* m_settings;
    StepResponseDialog* m_stepResponse = nullptr;
    FrequencyResponseDialog* m_frequencyResponse = nullptr;
    TuningDialog* m_tuning = nullptr;
    CommissionDialog* m_commission = nullptr;
};

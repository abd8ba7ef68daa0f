#pragma once

#include <QMainWindow>
#include <QString>

#include <memory>

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
// bar at the top holds "Stop motor" (also on Esc, wherever the focus is in the window);
// the status bar shows the link to the module, and a dock at the bottom the log. A simulated
// module is served on a pseudo-terminal while the window lives, so that the tool can be tried
// without hardware.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr, Qt::WindowFlags flags = {});
    ~MainWindow() override;

    // The window as the application starts it: 800 x 500 pixels (or as the user left it),
    // shown. The application installs its message handler first.
    static MainWindow* createAndShow();

    BLDC* centralPanel() const { return m_bldc; }
    LinkStatus* linkStatus() const { return m_linkStatus; }
    LogView* logView() const { return m_logView; }
    QDockWidget* logDock() const { return m_logDock; }
    // "Stop motor": enabled while a link is open.
    QAction* stopMotorAction() const { return m_stopMotor; }

    // The three lines of the About box: family name, version, build number.
    static QString versionInfoText();

public slots:
    void exitProgram();
    void showVersionInfo();

protected:
    // Remembers the window's geometry and dock layout.
    void closeEvent(QCloseEvent* event) override;

private:
    void createMenus();
    // "Record live values to CSV…", which reads "Stop recording" while a recording runs.
    void addRecordingEntry(QMenu* menu);
    void createLogDock();
    void createToolBar();
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
    RememberedSettings* m_settings;
};

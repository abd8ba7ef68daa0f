#pragma once

#include <QMainWindow>
#include <QString>

class BLDC;
class QMenu;

// The application window: the central panel fills it, the menu bar offers the file
// operations (carried out by the central panel), Exit and the About box.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr, Qt::WindowFlags flags = {});

    // The window as the application starts it: 800 x 500 pixels, shown.
    static MainWindow* createAndShow();

    BLDC* centralPanel() const { return m_bldc; }

    // The three lines of the About box: family name, version, build number.
    static QString versionInfoText();

public slots:
    void exitProgram();
    void showVersionInfo();

private:
    void createMenus();
    // "Record live values to CSV…", which reads "Stop recording" while a recording runs.
    void addRecordingEntry(QMenu* menu);

    BLDC* m_bldc;
};

#include "MainWindow.h"

#include "BLDC.h"
#include "LiveRecorder.h"
#include "RecordingStatus.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>

namespace {

constexpr int VersionMajor = 1;
constexpr int VersionMinor = 2;
constexpr int BuildNumber = 120;

} // namespace

MainWindow::MainWindow(QWidget* parent, Qt::WindowFlags flags) : QMainWindow(parent, flags)
{
    setWindowTitle(QStringLiteral("ZIRO-BLDC"));
    m_bldc = new BLDC(nullptr);
    setCentralWidget(m_bldc);
    createMenus();
    statusBar()->addPermanentWidget(new RecordingStatus(m_bldc->liveRecorder()));
}

MainWindow* MainWindow::createAndShow()
{
    auto* window = new MainWindow;
    window->resize(800, 500);
    window->show();
    return window;
}

void MainWindow::createMenus()
{
    QMenu* fileMenu = menuBar()->addMenu(tr("&File"));
    connect(fileMenu->addAction(tr("Export settings to *.ini")), &QAction::triggered, m_bldc,
            &BLDC::exportSettings);
    connect(fileMenu->addAction(tr("Import settings from *.ini")), &QAction::triggered, m_bldc,
            &BLDC::importSettings);
    fileMenu->addSeparator();
    connect(fileMenu->addAction(tr("Export settings to VOKT")), &QAction::triggered, m_bldc,
            &BLDC::exportSettingsToVOKT);
    fileMenu->addSeparator();
    connect(fileMenu->addAction(tr("Store actual values")), &QAction::triggered, m_bldc,
            &BLDC::storeActualValues);
    connect(fileMenu->addAction(tr("Restore actual values")), &QAction::triggered, m_bldc,
            &BLDC::restoreActualValues);
    fileMenu->addSeparator();
    addRecordingEntry(fileMenu);
    fileMenu->addSeparator();
    connect(fileMenu->addAction(tr("Exit")), &QAction::triggered, this, &MainWindow::exitProgram);

    QMenu* helpMenu = menuBar()->addMenu(tr("&Help"));
    connect(helpMenu->addAction(tr("&About")), &QAction::triggered, this,
            &MainWindow::showVersionInfo);
}

void MainWindow::addRecordingEntry(QMenu* menu)
{
    QAction* record = menu->addAction(tr("Record live values to CSV…"));
    connect(record, &QAction::triggered, m_bldc, &BLDC::recordLiveValues);
    connect(
        m_bldc->liveRecorder(), &LiveRecorder::recordingChanged, record, [record](bool recording) {
            record->setText(recording ? tr("Stop recording") : tr("Record live values to CSV…"));
        });
}

QString MainWindow::versionInfoText()
{
    return tr("ZIRO-BLDC\n") + tr("Version:  \t") + QString::number(VersionMajor) +
           QStringLiteral(".") + QString::number(VersionMinor) + QStringLiteral("\n") +
           tr("Build-ID: \t") + QString::number(BuildNumber);
}

void MainWindow::exitProgram()
{
    close();
}

void MainWindow::showVersionInfo()
{
    QMessageBox::about(nullptr, tr("About this Version..."), versionInfoText());
}

#include "app/FileOperations.h"

#include "app/OperationProgress.h"
#include "comm/DebugLine.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "config/CommandScript.h"
#include "config/ParameterCatalogue.h"
#include "config/ParameterStore.h"
#include "config/SettingsFile.h"
#include "trace/LiveRecorder.h"
#include "trace/WTraceController.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileDialog>

namespace {

// The window's texts are the central panel's.
QString text(const char* source)
{
    return QCoreApplication::translate("BLDC", source);
}

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

FileOperations::FileOperations(SerialUSBCommandHandler& handler, WTraceController& traceController,
                               LiveRecorder& liveRecorder, QWidget* parent)
    : QObject(parent), m_handler(handler), m_traceController(traceController),
      m_liveRecorder(liveRecorder), m_parent(parent)
{
}

void FileOperations::runWithProgress(
    const QString& label, int total,
    const std::function<void(const ModuleExchange::Progress&)>& operation)
{
    // The dialog lets events through between two exchanges: polling ticks wait meanwhile.
    m_traceController.holdPolling();
    SerialUSBCommandHandler::Batch batch(m_handler);
    {
        OperationProgress progress(label, total, m_parent);
        operation(progress.callback());
    }
    if (!batch.isClean())
        emit lineNotClean(label);
    m_traceController.releasePolling();
}

void FileOperations::reportExportFailure(const QString& fileName, const QString& reason)
{
    // A cancel leaves no reason: the user knows.
    if (!reason.isEmpty())
        emit failed(text("Export failed: %1: %2").arg(fileName, reason));
}

void FileOperations::exportSettingsToVOKT()
{
    DebugLine() << "exporting settings...";
    const QString fileName = QFileDialog::getSaveFileName(m_parent, text("Export settings to VOKT"),
                                                          defaultFileName("VOKT_Settings.vkt"),
                                                          text("VOKT Files (*.vkt)"));
    if (fileName.isEmpty())
        return;
    QString why;
    runWithProgress(text("Exporting settings to VOKT"), configurationSize(),
                    [&](const ModuleExchange::Progress& progress) {
                        CommandScript::exportTo(fileName, m_handler, progress, &why);
                    });
    reportExportFailure(fileName, why);
}

void FileOperations::exportSettings()
{
    DebugLine() << "export settings";
    const QString fileName = QFileDialog::getSaveFileName(m_parent, text("Export settings"),
                                                          defaultFileName("Settings.ini"),
                                                          text("Settings files (*.ini)"));
    if (fileName.isEmpty())
        return;
    QString why;
    runWithProgress(text("Exporting settings"), configurationSize(),
                    [&](const ModuleExchange::Progress& progress) {
                        SettingsFile::exportTo(fileName, m_handler, progress, &why);
                    });
    reportExportFailure(fileName, why);
}

void FileOperations::importSettings()
{
    DebugLine() << "import settings";
    const QString fileName = QFileDialog::getOpenFileName(
        m_parent, text("Import settings"), QStringLiteral("./"), text("Setting files (*.ini)"));
    if (fileName.isEmpty()) {
        DebugLine() << "importFileName is empty!";
        return;
    }
    runWithProgress(text("Importing settings"), configurationSize(),
                    [&](const ModuleExchange::Progress& progress) {
                        SettingsFile::importFrom(fileName, m_handler, progress);
                    });
}

void FileOperations::storeActualValues()
{
    runWithProgress(text("Storing actual values on the module"), vokt::ParameterNumbers,
                    [this](const ModuleExchange::Progress& progress) {
                        ParameterStore::storeAll(m_handler, progress);
                    });
}

void FileOperations::restoreActualValues()
{
    runWithProgress(text("Restoring actual values on the module"), vokt::ParameterNumbers,
                    [this](const ModuleExchange::Progress& progress) {
                        ParameterStore::restoreAll(m_handler, progress);
                    });
}

void FileOperations::recordLiveValues()
{
    if (m_liveRecorder.isRecording()) {
        m_liveRecorder.stop();
        return;
    }
    const QString fileName =
        QFileDialog::getSaveFileName(m_parent, text("Record live values to CSV"),
                                     defaultFileName("LiveValues.csv"), text("CSV files (*.csv)"));
    if (fileName.isEmpty())
        return;
    m_liveRecorder.start(fileName, m_traceController.traceCommands());
}

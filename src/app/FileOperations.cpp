#include "app/FileOperations.h"

#include "app/OperationProgress.h"
#include "comm/DebugLine.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "config/CommandScript.h"
#include "config/ParameterCatalogue.h"
#include "config/ParameterStore.h"
#include "config/SettingsFile.h"
#include "config/Version.h"
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

void FileOperations::runExport(const char* caption, const char* name, const char* filter,
                               const char* label, const Export& exportTo)
{
    const QString fileName =
        QFileDialog::getSaveFileName(m_parent, text(caption), defaultFileName(name), text(filter));
    if (fileName.isEmpty())
        return;
    QString why;
    bool written = false;
    runWithProgress(text(label), configurationSize(),
                    [&](const ModuleExchange::Progress& progress) {
                        written = exportTo(fileName, m_handler, progress, &why);
                    });
    // The log names the file and the tool that wrote it, for whoever reads it later.
    if (written)
        DebugLine().plain(QStringLiteral("%1 written by %2")
                              .arg(fileName, Version::of(QStringLiteral("ziro-bldc"))));
    // A cancel leaves no reason: the user knows.
    if (!why.isEmpty())
        emit failed(text("Export failed: %1: %2").arg(fileName, why));
}

void FileOperations::exportSettingsToVOKT()
{
    DebugLine() << "exporting settings...";
    runExport(QT_TRANSLATE_NOOP("BLDC", "Export settings to VOKT"), "VOKT_Settings.vkt",
              QT_TRANSLATE_NOOP("BLDC", "VOKT Files (*.vkt)"),
              QT_TRANSLATE_NOOP("BLDC", "Exporting settings to VOKT"), &CommandScript::exportTo);
}

void FileOperations::exportSettings()
{
    DebugLine() << "export settings";
    runExport(QT_TRANSLATE_NOOP("BLDC", "Export settings"), "Settings.ini",
              QT_TRANSLATE_NOOP("BLDC", "Settings files (*.ini)"),
              QT_TRANSLATE_NOOP("BLDC", "Exporting settings"), &SettingsFile::exportTo);
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

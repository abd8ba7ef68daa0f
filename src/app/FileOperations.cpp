#include "app/FileOperations.h"

#include "app/CompareDialog.h"
#include "app/OperationProgress.h"
#include "app/RecordDialog.h"
#include "comm/DebugLine.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "config/CommandScript.h"
#include "config/CommissioningRecord.h"
#include "config/CsvRecorder.h"
#include "config/FileKind.h"
#include "config/ParameterCatalogue.h"
#include "config/ParameterStore.h"
#include "config/SettingsFile.h"
#include "config/Version.h"
#include "trace/LiveRecorder.h"
#include "trace/WTraceController.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

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

bool FileOperations::runWithProgress(
    const QString& label, int total,
    const std::function<void(const ModuleExchange::Progress&)>& operation, QWidget* parent)
{
    // The dialog lets events through between two exchanges: polling ticks wait meanwhile.
    m_traceController.holdPolling();
    SerialUSBCommandHandler::Batch batch(m_handler);
    {
        OperationProgress progress(label, total, parent ? parent : m_parent, m_stopMotor);
        operation(progress.callback());
    }
    const bool clean = batch.isClean();
    if (!clean)
        emit lineNotClean(label);
    m_traceController.releasePolling();
    return clean;
}

bool FileOperations::mayReplace(const QString& fileName, const QString& problem)
{
    if (!problem.startsWith(QLatin1String("reads as")))
        return false;
    DebugLine().plain(QStringLiteral("%1 %2: asking before it is replaced").arg(fileName, problem));
    return QMessageBox::question(
               m_parent, text("Replace file"), text("%1 %2.\nReplace it?").arg(fileName, problem),
               QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void FileOperations::runExport(const char* caption, const char* name, const char* filter,
                               const char* label, FileKind::Kind kind, const Export& exportTo)
{
    const QString fileName =
        QFileDialog::getSaveFileName(m_parent, text(caption), defaultFileName(name), text(filter));
    if (fileName.isEmpty() || refused(fileName))
        return;
    QString why;
    bool written = false;
    const QString problem = kind == FileKind::Kind::Script ? FileKind::targetProblem(fileName, kind)
                                                           : SettingsFile::targetProblem(fileName);
    // Another of the tool's kinds of file is replaced only if the user says so; any other
    // problem the export itself refuses, and says so.
    const bool foreign = problem.startsWith(QLatin1String("reads as"));
    const bool force = foreign && mayReplace(fileName, problem);
    if (foreign && !force) {
        DebugLine() << "export refused: " << fileName << problem;
        emit failed(text("Export failed: %1: %2").arg(fileName, problem));
        return;
    }
    runWithProgress(text(label), configurationSize(),
                    [&](const ModuleExchange::Progress& progress) {
                        written = exportTo(fileName, m_handler, progress, &why, force);
                    });
    // The log names the file and the tool that wrote it, for whoever reads it later.
    if (written) {
        DebugLine().plain(QStringLiteral("%1 written by %2")
                              .arg(fileName, Version::of(QStringLiteral("ziro-bldc"))));
        emit done(text("Exported %1 parameters to %2").arg(configurationSize()).arg(fileName));
    }
    // A cancel leaves no reason: the user knows.
    if (!why.isEmpty())
        emit failed(text("Export failed: %1: %2").arg(fileName, why));
}

void FileOperations::exportSettingsToVOKT()
{
    DebugLine() << "exporting settings...";
    runExport(QT_TRANSLATE_NOOP("BLDC", "Export settings to VOKT"), "VOKT_Settings.vkt",
              QT_TRANSLATE_NOOP("BLDC", "VOKT Files (*.vkt)"),
              QT_TRANSLATE_NOOP("BLDC", "Exporting settings to VOKT"), FileKind::Kind::Script,
              &CommandScript::exportTo);
}

void FileOperations::exportSettings()
{
    DebugLine() << "export settings";
    runExport(QT_TRANSLATE_NOOP("BLDC", "Export settings"), "Settings.ini",
              QT_TRANSLATE_NOOP("BLDC", "Settings files (*.ini)"),
              QT_TRANSLATE_NOOP("BLDC", "Exporting settings"), FileKind::Kind::Settings,
              &SettingsFile::exportTo);
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
    if (refused(fileName))
        return;
    // What the import would change, before anything is written.
    const std::optional<SettingsComparison::Rows> rows =
        compareModuleWith(fileName, text("Import settings"));
    if (!rows)
        return;
    CompareDialog preview(*rows, fileName, CompareDialog::Purpose::ImportPreview, m_parent);
    if (preview.exec() != QDialog::Accepted) {
        DebugLine() << "import cancelled before anything was written: " << fileName;
        return;
    }
    SettingsFile::ImportReport report;
    const bool clean =
        runWithProgress(text("Importing settings"), configurationSize(),
                        [&](const ModuleExchange::Progress& progress) {
                            SettingsFile::importFrom(fileName, m_handler, progress, &report);
                        });
    const QString counts = text("Import of %1: %2 parameters written, %3 not taken")
                               .arg(fileName)
                               .arg(report.written)
                               .arg(report.notTaken.size());
    if (clean && report.complete()) {
        emit done(counts);
        return;
    }
    QStringList problems;
    if (!clean)
        problems << text("the line is not clean");
    if (!report.skipped.isEmpty())
        problems
            << text("not in the file: %1").arg(ModuleExchange::failedParameters(report.skipped));
    if (!report.notTaken.isEmpty())
        problems << text("not taken: %1").arg(ModuleExchange::failedParameters(report.notTaken));
    if (report.notReached > 0)
        problems << text("%1 not written").arg(report.notReached);
    emit failed(counts + QStringLiteral("; ") + problems.join(QStringLiteral("; ")));
}

void FileOperations::compareWithSettingsFile()
{
    DebugLine() << "compare with settings file";
    const QString fileName = QFileDialog::getOpenFileName(
        m_parent, text("Compare with settings file"),
        m_lastSettingsFile.isEmpty() ? QStringLiteral("./") : m_lastSettingsFile,
        text("Settings files (*.ini)"));
    if (fileName.isEmpty() || refused(fileName))
        return;
    const std::optional<SettingsComparison::Rows> rows =
        compareModuleWith(fileName, text("Compare with settings file"));
    if (!rows)
        return;
    CompareDialog dialog(*rows, fileName, CompareDialog::Purpose::Compare, m_parent);
    dialog.setWriter([this, &dialog](const QList<SettingsComparison::Assignment>& assignments) {
        QList<std::optional<qint32>> readBack;
        runWithProgress(
            text("Writing values to the module"), static_cast<int>(assignments.size()),
            [&](const ModuleExchange::Progress& progress) {
                readBack = SettingsComparison::writeValues(m_handler, assignments, progress);
            },
            &dialog);
        return readBack;
    });
    dialog.exec();
}

void FileOperations::saveCommissioningRecord()
{
    DebugLine() << "save commissioning record";
    RecordDialog ask(defaultFileName("CommissioningRecord.html"), m_lastSettingsFile, m_parent);
    if (ask.exec() != QDialog::Accepted)
        return;
    const QString title = text("Save commissioning record");
    const QString fileName = ask.recordFile();
    if (refused(fileName) || refused(ask.goldenFile()))
        return;
    QString why = CommissioningRecord::targetProblem(fileName);
    if (mayReplace(fileName, why))
        why.clear();
    if (!why.isEmpty())
        return warn(title, text("%1: %2; no record written").arg(fileName, why));
    std::optional<CommissioningRecord::Golden> golden;
    if (!ask.goldenFile().isEmpty()) {
        const std::optional<QList<SettingsComparison::Value>> values =
            SettingsComparison::readFile(ask.goldenFile(), &why);
        if (!values)
            return warn(title, text("%1: %2; no record written").arg(ask.goldenFile(), why));
        golden = CommissioningRecord::Golden{ask.goldenFile(), *values};
        m_lastSettingsFile = ask.goldenFile();
    }
    std::optional<CommissioningRecord::Snapshot> snapshot;
    runWithProgress(text("Reading the module for the commissioning record"),
                    CommissioningRecord::exchanges(),
                    [&](const ModuleExchange::Progress& progress) {
                        snapshot = CommissioningRecord::take(m_handler, progress, &why);
                    });
    if (!snapshot) {
        // A cancel leaves no reason: the user knows.
        if (!why.isEmpty())
            warn(title, text("The module could not be read: %1; no record written").arg(why));
        return;
    }
    snapshot->golden = golden;
    snapshot->simulated = !m_simulatedPort.isEmpty() && snapshot->port == m_simulatedPort;
    if (!CommissioningRecord::write(fileName, *snapshot, &why))
        return warn(title, text("%1 could not be written: %2").arg(fileName, why));
    QString outcome = text("Record saved: %1").arg(fileName);
    if (golden)
        outcome +=
            QStringLiteral(": ") +
            SettingsComparison::verdict(snapshot->rows(), QFileInfo(golden->fileName).fileName());
    DebugLine().plain(QStringLiteral("commissioning record written: ") + outcome);
    emit done(outcome);
}

std::optional<SettingsComparison::Rows> FileOperations::compareModuleWith(const QString& fileName,
                                                                          const QString& title)
{
    QString why;
    const std::optional<QList<SettingsComparison::Value>> file =
        SettingsComparison::readFile(fileName, &why);
    if (!file) {
        warn(title, text("%1: %2; nothing was sent to the module").arg(fileName, why));
        return std::nullopt;
    }
    m_lastSettingsFile = fileName;
    std::optional<QList<qint32>> module;
    runWithProgress(text("Reading the module's settings"), configurationSize(),
                    [&](const ModuleExchange::Progress& progress) {
                        module = SettingsComparison::readModule(m_handler, progress, &why);
                    });
    if (!module) {
        // A cancel leaves no reason: the user knows.
        if (!why.isEmpty())
            warn(title, text("The module's settings could not be read: %1").arg(why));
        return std::nullopt;
    }
    QList<SettingsComparison::Value> values;
    for (qint32 value : std::as_const(*module))
        values.append(SettingsComparison::Value::of(value));
    return SettingsComparison::compare(values, *file);
}

bool FileOperations::refused(const QString& fileName)
{
    // Looked at, not opened: stat does not wait for the other end of a pipe.
    const QFileInfo info(fileName);
    if (fileName.isEmpty() || !info.exists() || info.isFile() || info.isDir())
        return false;
    const QString message =
        text("%1 is not a regular file (a pipe, a device or a socket): refused").arg(fileName);
    DebugLine().plain(message);
    emit failed(message);
    return true;
}

void FileOperations::warn(const QString& title, const QString& message)
{
    DebugLine().plain(title + QStringLiteral(": ") + message);
    QMessageBox::warning(m_parent, title, message);
}

void FileOperations::storeActualValues()
{
    runStoreOrRestore(true);
}

void FileOperations::restoreActualValues()
{
    runStoreOrRestore(false);
}

void FileOperations::runStoreOrRestore(bool store)
{
    ParameterStore::Tally tally;
    const bool clean =
        runWithProgress(store ? text("Storing actual values on the module")
                              : text("Restoring actual values on the module"),
                        vokt::ParameterNumbers, [&](const ModuleExchange::Progress& progress) {
                            if (store)
                                ParameterStore::storeAll(m_handler, progress, &tally);
                            else
                                ParameterStore::restoreAll(m_handler, progress, &tally);
                        });
    QString result = (store ? text("Stored %1, refused %2") : text("Restored %1, refused %2"))
                         .arg(tally.accepted)
                         .arg(tally.refused);
    // The module refuses numbers it does not know or keeps no copy of; a refused setting
    // of the configuration, a walk cut short or a line that was not clean is a failure.
    QStringList problems;
    if (tally.walked < vokt::ParameterNumbers)
        problems << text("stopped after %1 of %2 parameters")
                        .arg(tally.walked)
                        .arg(vokt::ParameterNumbers);
    else if (!m_handler.isOpen())
        problems << text("the module stopped answering");
    if (!clean)
        problems << text("the line is not clean");
    QStringList settings;
    for (const ParameterStore::Tally::Refusal& refusal : std::as_const(tally.refusedSettings))
        settings << QStringLiteral("%1 (%2, status %3)")
                        .arg(ParameterCatalogue::nameOf(refusal.number))
                        .arg(refusal.number)
                        .arg(refusal.status);
    if (!settings.isEmpty())
        problems << text("refused settings: %1").arg(ModuleExchange::failedParameters(settings));
    DebugLine().plain(result);
    if (problems.isEmpty()) {
        emit done(result);
        return;
    }
    emit failed(result + QStringLiteral("; ") + problems.join(QStringLiteral("; ")));
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
    if (fileName.isEmpty() || refused(fileName))
        return;
    QString problem = FileKind::targetProblem(fileName, FileKind::Kind::Other);
    if (problem.isEmpty())
        problem =
            FileKind::targetProblem(CsvRecorder::sidecarName(fileName), FileKind::Kind::Other);
    const bool force = mayReplace(fileName, problem);
    m_liveRecorder.setModule(m_handler.portName(), m_handler.moduleAddress());
    m_liveRecorder.start(fileName, m_traceController.traceCommands(), force);
}

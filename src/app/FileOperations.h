#pragma once

#include "config/FileKind.h"
#include "config/ModuleExchange.h"
#include "config/SettingsComparison.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class LiveRecorder;
class QWidget;
class SerialUSBCommandHandler;
class WTraceController;

// The file operations of the window's menu, as the user meets them: each asks for its
// file, runs the operation of the core library under a progress dialog that offers Cancel
// (no polling cycle runs meanwhile), and says what went wrong. The dialogs are the
// parent's; the work is the core's (SettingsFile, CommandScript, ParameterStore).
class FileOperations : public QObject
{
    Q_OBJECT

public:
    FileOperations(SerialUSBCommandHandler& handler, WTraceController& traceController,
                   LiveRecorder& liveRecorder, QWidget* parent);

    void exportSettingsToVOKT();
    void exportSettings();
    // Shows what the file would change first (the comparison table), then imports it on
    // Import; Cancel sends nothing.
    void importSettings();
    // The module against a settings file, in a table that can write chosen values back.
    void compareWithSettingsFile();
    // The commissioning record of the module, against a golden settings file if one is
    // given. A record of the module at the simulated module's port says it was simulated.
    void saveCommissioningRecord();
    void setSimulatedPort(const QString& port) { m_simulatedPort = port; }
    void storeActualValues();
    void restoreActualValues();
    // Asks for a file and starts recording the live values to it, or ends the recording in
    // progress.
    void recordLiveValues();
    // What the progress dialogs' Stop motor does.
    void setStopMotor(std::function<void()> stopMotor) { m_stopMotor = std::move(stopMotor); }

signals:
    // Bytes arrived during the operation that answered no request: a value it read or wrote
    // may be another parameter's.
    void lineNotClean(const QString& operation);
    // An operation failed, in part or whole (an export wrote no file, an import or store
    // was not taken whole); message says what and names the parameters.
    void failed(const QString& message);
    // An operation ended well; message says what came of it ("Stored 45, refused 211").
    void done(const QString& message);

private:
    // Runs a whole-module operation under a progress dialog that counts its parameters.
    // The dialog's parent is the window unless given.
    // false when bytes arrived during it that answered no request.
    bool runWithProgress(const QString& label, int total,
                         const std::function<void(const ModuleExchange::Progress&)>& operation,
                         QWidget* parent = nullptr);
    using Export =
        std::function<bool(const QString& fileName, SerialUSBCommandHandler& handler,
                           const ModuleExchange::Progress& progress, QString* error, bool force)>;
    // Whether a file that reads as another of the tool's kinds than the operation writes
    // (problem: "reads as a settings file") may be replaced: the user is asked. false for
    // any other problem, which is not the user's to wave away.
    bool mayReplace(const QString& fileName, const QString& problem);
    // Asks for the file of an export (the dialog's caption, default name and filter), runs
    // it under the progress dialog (label) and says if it did not write its file (a cancel
    // does not).
    void runExport(const char* caption, const char* name, const char* filter, const char* label,
                   FileKind::Kind kind, const Export& exportTo);

    // The settings file and the module's values side by side, the module's read under the
    // progress dialog (label); nothing, said to the user with the title, when either
    // cannot be had or the read was cancelled.
    std::optional<SettingsComparison::Rows> compareModuleWith(const QString& fileName,
                                                              const QString& title);
    // A pipe, a device or a socket typed into a file chooser would hold the window, Stop
    // motor with it, in open(): true when fileName is one; it is refused at once, and the
    // status bar says so.
    bool refused(const QString& fileName);
    // Store (or restore) with its result told: done() or failed().
    void runStoreOrRestore(bool store);
    // Tells the user in a message box why an operation could not be done, and logs it.
    void warn(const QString& title, const QString& message);

    SerialUSBCommandHandler& m_handler;
    WTraceController& m_traceController;
    LiveRecorder& m_liveRecorder;
    QWidget* m_parent;
    std::function<void()> m_stopMotor;
    // The settings file last compared or imported: the golden file a record offers first.
    QString m_lastSettingsFile;
    QString m_simulatedPort;
};

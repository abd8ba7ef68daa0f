#pragma once

#include "config/ModuleExchange.h"

#include <QObject>
#include <QString>

#include <functional>

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
    void importSettings();
    void storeActualValues();
    void restoreActualValues();
    // Asks for a file and starts recording the live values to it, or ends the recording in
    // progress.
    void recordLiveValues();

signals:
    // Bytes arrived during the operation that answered no request: a value it read or wrote
    // may be another parameter's.
    void lineNotClean(const QString& operation);
    // An export did not write its file; message says which file and why.
    void failed(const QString& message);

private:
    // Runs a whole-module operation under a progress dialog that counts its parameters.
    void runWithProgress(const QString& label, int total,
                         const std::function<void(const ModuleExchange::Progress&)>& operation);
    using Export = std::function<bool(const QString& fileName, SerialUSBCommandHandler& handler,
                                      const ModuleExchange::Progress& progress, QString* error)>;
    // Asks for the file of an export (the dialog's caption, default name and filter), runs
    // it under the progress dialog (label) and says if it did not write its file (a cancel
    // does not).
    void runExport(const char* caption, const char* name, const char* filter, const char* label,
                   const Export& exportTo);

    SerialUSBCommandHandler& m_handler;
    WTraceController& m_traceController;
    LiveRecorder& m_liveRecorder;
    QWidget* m_parent;
};

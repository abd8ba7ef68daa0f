#pragma once

#include <QString>
#include <QtGlobal>

// The process-wide diagnostic output: every debug, warning, critical and fatal message
// becomes one line on standard output, prefixed "Debug: ", "Warning: ", "Critical: " or
// "Fatal: ", and is flushed at once. A fatal message aborts the process after its line;
// other message types (Qt's info messages) are dropped. Each line also goes to the
// process's LogSink, for the log view of the window.
void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

#include "MessageHandler.h"

#include "LogSink.h"

#include <cstdlib>
#include <cstring>

void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const char* prefix = nullptr;
    switch (type) {
    case QtDebugMsg:
        prefix = "Debug: ";
        break;
    case QtWarningMsg:
        prefix = "Warning: ";
        break;
    case QtCriticalMsg:
        prefix = "Critical: ";
        break;
    case QtFatalMsg:
        prefix = "Fatal: ";
        break;
    default:
        return;
    }
    // Standard output and the log view get the line together.
    const bool frame =
        context.category && std::strcmp(context.category, LogSink::FrameCategory) == 0;
    LogSink::instance().write(QLatin1String(prefix) + message, frame);
    if (type == QtFatalMsg)
        std::abort();
}

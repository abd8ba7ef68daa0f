#include "app/MessageHandler.h"

#include "comm/DebugLine.h"
#include "comm/LogSink.h"

#include <cstdlib>
#include <cstring>

void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const char* prefix = messagePrefix(type);
    if (!prefix)
        return;
    // Standard output and the log view get the line together.
    const bool frame =
        context.category && std::strcmp(context.category, LogSink::FrameCategory) == 0;
    LogSink::instance().write(QLatin1String(prefix) + message, frame);
    if (type == QtFatalMsg)
        std::abort();
}

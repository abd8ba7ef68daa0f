#include "support/LogCapture.h"

#include <QMutex>
#include <QtGlobal>

namespace {

QMutex s_mutex;
QStringList s_lines;
QtMessageHandler s_previous = nullptr;

void capture(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    Q_UNUSED(type);
    Q_UNUSED(context);
    QMutexLocker lock(&s_mutex);
    s_lines << message;
}

} // namespace

LogCapture::LogCapture()
{
    clear();
    s_previous = qInstallMessageHandler(capture);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(s_previous);
    s_previous = nullptr;
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&s_mutex);
    return s_lines;
}

void LogCapture::clear()
{
    QMutexLocker lock(&s_mutex);
    s_lines.clear();
}

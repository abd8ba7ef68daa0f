#include "comm/DebugLine.h"

#include "comm/LogSink.h"

#include <QDebug>

DebugLine::~DebugLine()
{
    // nospace: the stream would otherwise chop the last item's blank.
    if (m_kind == Kind::Frame)
        QMessageLogger(nullptr, 0, nullptr, LogSink::FrameCategory).debug().noquote().nospace()
            << m_text;
    else
        qDebug().noquote().nospace() << m_text;
}

DebugLine& DebugLine::operator<<(const char* text)
{
    return plain(QString::fromLatin1(text));
}

DebugLine& DebugLine::operator<<(const QString& quoted)
{
    m_text += QLatin1Char('"') + quoted + QLatin1String("\" ");
    return *this;
}

DebugLine& DebugLine::operator<<(int number)
{
    return plain(QString::number(number));
}

DebugLine& DebugLine::operator<<(unsigned number)
{
    return plain(QString::number(number));
}

DebugLine& DebugLine::operator<<(qint64 number)
{
    return plain(QString::number(number));
}

DebugLine& DebugLine::plain(const QString& text)
{
    m_text += text + QLatin1Char(' ');
    return *this;
}

const char* messagePrefix(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "Debug: ";
    case QtWarningMsg:
        return "Warning: ";
    case QtCriticalMsg:
        return "Critical: ";
    case QtFatalMsg:
        return "Fatal: ";
    default:
        return nullptr;
    }
}

#include "comm/LogSink.h"

#include <cstdio>

LogSink::LogSink() : QObject(nullptr) {}

LogSink& LogSink::instance()
{
    // Never destroyed: a thread may still write a line while the process ends.
    static LogSink* sink = new LogSink;
    return *sink;
}

void LogSink::write(const QString& text, bool frame)
{
    bool first;
    {
        QMutexLocker lock(&m_mutex);
        std::fputs(text.toLocal8Bit().constData(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
        first = append(text, frame);
    }
    if (first)
        emit linesWaiting();
}

void LogSink::keep(const QString& text, bool frame)
{
    bool first;
    {
        QMutexLocker lock(&m_mutex);
        first = append(text, frame);
    }
    if (first)
        emit linesWaiting();
}

bool LogSink::append(const QString& text, bool frame)
{
    const bool first = m_waiting.empty();
    // Nobody has taken the lines for a long time: the oldest go.
    if (m_waiting.size() >= static_cast<size_t>(Capacity))
        m_waiting.pop_front();
    m_waiting.push_back(Line{text, frame});
    return first;
}

QList<LogSink::Line> LogSink::take()
{
    QMutexLocker lock(&m_mutex);
    QList<Line> lines;
    lines.reserve(static_cast<qsizetype>(m_waiting.size()));
    for (Line& line : m_waiting)
        lines.append(std::move(line));
    m_waiting.clear();
    return lines;
}

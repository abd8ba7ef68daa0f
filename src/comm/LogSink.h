#pragma once

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

#include <deque>

// Every diagnostic line the tool writes, in the order written, kept for the log view of the
// window. Any thread may write. Each line goes to standard output and into the sink under
// one lock, so standard output and the view hold the same lines in the same order, and
// lines from two threads never interleave. The GUI thread takes what has come in since it
// last looked.
//
// Frame lines (the request and reply lines the command handler writes for every exchange)
// are marked, so a view can hide them; the handler writes them in FrameCategory.
class LogSink : public QObject
{
    Q_OBJECT

public:
    // The logging category of the frame lines.
    static constexpr const char* FrameCategory = "vokt.frames";
    // Lines kept for a taker that has not come yet; beyond it the oldest are dropped.
    static constexpr int Capacity = 10000;

    struct Line
    {
        QString text;
        bool frame;
    };

    LogSink();

    // The sink the tool's message handler writes to.
    static LogSink& instance();

    // Writes one line to standard output (with a line break, flushed at once) and keeps it.
    void write(const QString& text, bool frame = false);
    // Keeps one line without writing it anywhere.
    void keep(const QString& text, bool frame = false);
    // The lines that came in since the last take (at most Capacity), oldest first.
    QList<Line> take();

signals:
    // A line came in while none was waiting. Emitted on the writing thread, outside the
    // lock: a receiver on another thread gets it queued.
    void linesWaiting();

private:
    // Appends under the lock; true if the line is the first one waiting.
    bool append(const QString& text, bool frame);

    QMutex m_mutex;
    std::deque<Line> m_waiting;
};

#pragma once

#include <QString>
#include <QtGlobal>

// Composes one debug message the way the tool has always written its log: every item is
// followed by one blank, and an item passed as a QString is wrapped in double quotes.
// Plain texts (const char*) and numbers are written as they are. The message goes out
// through qDebug() when the line is destroyed, so `DebugLine() << "baudrate: " << 9600`
// prints "baudrate:  9600 ".
class DebugLine
{
public:
    // A frame line is one of the request and reply lines written for every exchange; it
    // goes out in the frame category, so the log view can tell it from the others.
    enum class Kind
    {
        Message,
        Frame
    };

    DebugLine() = default;
    explicit DebugLine(Kind kind) : m_kind(kind) {}
    DebugLine(const DebugLine&) = delete;
    DebugLine& operator=(const DebugLine&) = delete;
    ~DebugLine();

    DebugLine& operator<<(const char* text);
    DebugLine& operator<<(const QString& quoted);
    DebugLine& operator<<(int number);
    DebugLine& operator<<(unsigned number);
    DebugLine& operator<<(qint64 number);
    // An item written without quotes, for texts built at run time.
    DebugLine& plain(const QString& text);

    const QString& text() const { return m_text; }

private:
    Kind m_kind = Kind::Message;
    QString m_text;
};

// What a log line of the given message type starts with ("Debug: ", "Warning: ",
// "Critical: ", "Fatal: "); nullptr for a type the tool does not print.
const char* messagePrefix(QtMsgType type);

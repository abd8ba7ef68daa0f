#pragma once

#include <QByteArray>
#include <QTemporaryFile>

// Sends the process's standard output to a temporary file while it lives, for texts the
// tool writes straight to stdout rather than through the message handler.
class StdoutCapture
{
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Everything written so far.
    QByteArray text();

private:
    void restore();

    QTemporaryFile m_file;
    int m_savedStdout = -1;
};

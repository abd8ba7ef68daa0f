#pragma once

#include <QtGlobal>

#include <sys/resource.h>

class QProcess;

// A disk that fills up, for any user on any machine: while it lives, no file this process
// writes may grow beyond `bytes`, and a write that would goes short or fails with EFBIG
// (SIGXFSZ is ignored), as on a full disk. Output to a file that is already larger fails
// too, so keep the scope tight.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    // The same for a process about to be started: its files may not grow beyond `bytes`.
    static void applyTo(QProcess& process, qint64 bytes);

private:
    rlimit m_saved{};
    void (*m_savedHandler)(int) = nullptr;
};

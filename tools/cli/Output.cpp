#include "cli/Output.h"

#include "comm/DebugLine.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef Q_OS_WIN
#include <io.h>
#define ZIRO_ISATTY(fd) ::_isatty(fd)
#else
#include <unistd.h>
#define ZIRO_ISATTY(fd) ::isatty(fd)
#endif

namespace cli {

namespace {

// The first failed write to standard output (a full disk, /dev/full): the command's exit
// status is then 1 at least, for output that did not arrive is no success.
int g_stdoutError = 0;

bool g_quiet = false;

void clearProgressLine()
{
    if (Progress::current())
        Progress::current()->clear();
}

} // namespace

bool printOut(const QString& line)
{
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        if (g_stdoutError == 0)
            g_stdoutError = errno != 0 ? errno : EIO;
        return false;
    }
    return true;
}

int checkedOutput(int status)
{
    if (std::fflush(stdout) != 0 && g_stdoutError == 0)
        g_stdoutError = errno != 0 ? errno : EIO;
    if (g_stdoutError == 0)
        return status;
    std::fprintf(stderr, "ziro-bldc-cli: could not write the results to standard output: %s\n",
                 std::strerror(g_stdoutError));
    return status == ExitOk ? int(ExitRefused) : status;
}

void printError(const QString& text)
{
    clearProgressLine();
    std::fprintf(stderr, "ziro-bldc-cli: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

void setQuiet(bool quiet)
{
    g_quiet = quiet;
}

void messageHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    const char* prefix = messagePrefix(type);
    if (!prefix || (type == QtDebugMsg && g_quiet))
        return;
    clearProgressLine();
    std::fprintf(stderr, "%s%s\n", prefix, message.toLocal8Bit().constData());
    std::fflush(stderr);
    if (type == QtFatalMsg)
        std::abort();
}

Progress* Progress::s_current = nullptr;

Progress::Progress(const QString& label, int total)
    : m_label(label), m_total(total), m_shown(-1), m_enabled(ZIRO_ISATTY(2))
{
    s_current = this;
    show(0);
}

Progress::~Progress()
{
    finish();
}

void Progress::finish()
{
    if (m_enabled && m_shown >= 0)
        std::fputc('\n', stderr);
    m_enabled = false;
    if (s_current == this)
        s_current = nullptr;
}

void Progress::setDone(int done)
{
    show(m_total > 0 ? qMin(100, done * 100 / m_total) : 100);
}

void Progress::clear()
{
    if (m_enabled && m_shown >= 0) {
        std::fputs("\r\033[K", stderr);
        m_shown = -1;
    }
}

void Progress::show(int percent)
{
    if (!m_enabled || percent == m_shown)
        return;
    m_shown = percent;
    std::fprintf(stderr, "\r%s: %3d%%", m_label.toLocal8Bit().constData(), percent);
    std::fflush(stderr);
}

} // namespace cli

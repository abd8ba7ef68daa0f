#include "sim/PtyPeer.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

// The pseudo-terminal itself: opening the pair, the worker thread that reads the master
// end, and writing to it. Everything else of the peer is in PtyPeer.cpp; the line's speed
// on Linux, where it may be any number, in PtyPeer_linux.cpp.

namespace {

using Clock = std::chrono::steady_clock;

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

bool PtyPeer::start(QString* error)
{
    if (m_running)
        return true;
    auto fail = [&](const char* what) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(QLatin1String(what),
                                                  QString::fromLocal8Bit(std::strerror(errno)));
        closeFd(m_master);
        closeFd(m_slave);
        closeFd(m_wakeRead);
        closeFd(m_wakeWrite);
        return false;
    };

    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        return fail("posix_openpt");
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        return fail("unlockpt");
    char name[128] = {};
    if (::ptsname_r(m_master, name, sizeof name) != 0)
        return fail("ptsname");
    m_slavePath = QString::fromLocal8Bit(name);

    // The peer holds the slave end open as well: the line stays up between two
    // connections instead of hanging up whenever the tool closes its port. Raw mode, so
    // that no byte is echoed, translated or held back for a line end before the tool
    // opens the port (which sets raw mode again).
    m_slave = ::open(name, O_RDWR | O_NOCTTY);
    if (m_slave < 0)
        return fail("open slave");
    termios tio{};
    if (::tcgetattr(m_slave, &tio) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&tio);
    if (::tcsetattr(m_slave, TCSANOW, &tio) != 0)
        return fail("tcsetattr");
    // The speed the emulated line runs at, for a tool that keeps the port's settings.
    if (!setSpeed(m_slave, m_baudRate > 0 ? m_baudRate.load() : 115200))
        return fail("line speed");

    // Writes never block: a tool that writes requests and never reads the replies fills
    // the line, and what does not fit is dropped (as on a real line) rather than holding
    // the worker thread, and with it stop(), for ever.
    if (::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK) != 0)
        return fail("fcntl");

    int wake[2];
    if (::pipe(wake) != 0)
        return fail("pipe");
    m_wakeRead = wake[0];
    m_wakeWrite = wake[1];

    m_stopping = false;
    m_running = true;
    m_worker = std::thread(&PtyPeer::run, this);
    return true;
}

void PtyPeer::stop()
{
    if (!m_running)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    const char byte = 0;
    [[maybe_unused]] auto n = ::write(m_wakeWrite, &byte, 1);
    if (m_worker.joinable())
        m_worker.join();
    std::lock_guard<std::mutex> lock(m_writeMutex);
    closeFd(m_master);
    closeFd(m_slave);
    closeFd(m_wakeRead);
    closeFd(m_wakeWrite);
    m_running = false;
}

void PtyPeer::writeAll(const QByteArray& bytes)
{
    std::lock_guard<std::mutex> lock(m_writeMutex);
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0 && m_master >= 0) {
        const ssize_t n = ::write(m_master, data, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // The line is full (or gone): the rest is lost, as on a line nobody reads.
            return;
        }
        data += n;
        left -= n;
    }
}

void PtyPeer::run()
{
    auto lastByte = Clock::now();
    char buffer[256];
    while (!m_stopping) {
        int timeout = -1;
        const int frameTimeout = m_frameTimeoutMs;
        if (!m_partial.isEmpty() && frameTimeout > 0) {
            const auto age =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastByte);
            if (age.count() >= frameTimeout) {
                m_partial.clear();
                continue;
            }
            timeout = frameTimeout - static_cast<int>(age.count());
        }
        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wakeRead, POLLIN, 0}};
        const int ready = ::poll(fds, 2, timeout);
        if (ready < 0 && errno != EINTR)
            break;
        if (fds[1].revents)
            break;
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n > 0) {
                lastByte = Clock::now();
                takeIn(buffer, static_cast<int>(n));
            }
        }
    }
}

#ifndef __linux__
// Elsewhere the speeds the terminal interface takes and gives are numbers of baud.
int PtyPeer::speedOf(int fd)
{
    termios tio{};
    if (fd < 0 || ::tcgetattr(fd, &tio) != 0)
        return 0;
    return static_cast<int>(::cfgetospeed(&tio));
}

bool PtyPeer::setSpeed(int fd, int baudRate)
{
    termios tio{};
    return ::tcgetattr(fd, &tio) == 0 && ::cfsetispeed(&tio, speed_t(baudRate)) == 0 &&
           ::cfsetospeed(&tio, speed_t(baudRate)) == 0 && ::tcsetattr(fd, TCSANOW, &tio) == 0;
}
#endif

#include "app/StopEverywhere.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The handler writes the signal's number into one end; the event loop reads the other.
int g_ends[2] = {-1, -1};

void noteSignal(int signal)
{
    const int saved = errno;
    const char number = static_cast<char>(signal);
    // A full pipe drops the byte: a signal is already waiting to be taken.
    [[maybe_unused]] const ssize_t written = ::write(g_ends[1], &number, 1);
    errno = saved;
}

} // namespace

bool EndSignals::deliverTo(QObject* context, const std::function<void(int)>& deliver)
{
    if (g_ends[0] < 0) {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_ends) != 0)
            return false;
        for (int end : g_ends)
            ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
    }
    auto* notifier = new QSocketNotifier(g_ends[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [deliver] {
        char numbers[16];
        ssize_t count = 0;
        while ((count = ::read(g_ends[0], numbers, sizeof numbers)) > 0)
            for (ssize_t i = 0; i < count; ++i)
                deliver(numbers[i]);
    });
    struct sigaction action = {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    return true;
}

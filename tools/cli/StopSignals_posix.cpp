#include "cli/StopSignals.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

namespace StopSignals {

namespace {

std::atomic<bool> g_requested{false};
const char* g_notice = nullptr;

void noteStop(int)
{
    // The notice once, at the first signal.
    if (!g_requested.exchange(true) && g_notice)
        (void)!::write(STDERR_FILENO, g_notice, std::strlen(g_notice));
}

sigset_t stopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

void install(int flags)
{
    struct sigaction action = {};
    action.sa_handler = noteStop;
    action.sa_flags = flags;
    // One signal at a time: a second one while the first is noted waits for it.
    action.sa_mask = stopSignals();
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

} // namespace

void catchAll(const char* notice)
{
    g_notice = notice;
    // The second signal finds the default action again, which ends the process.
    install(SA_RESETHAND);
}

void holdAll()
{
    if (g_notice)
        g_notice = "\nziro-bldc-cli: interrupted: stopping the motor first\n";
    install(0);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

bool requested()
{
    return g_requested;
}

void holdForWait()
{
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void waitFor()
{
    const sigset_t set = stopSignals();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
}

} // namespace StopSignals

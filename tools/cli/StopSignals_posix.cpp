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
    g_requested = true;
    if (g_notice)
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

} // namespace

void catchAll(const char* notice)
{
    g_notice = notice;
    struct sigaction action = {};
    action.sa_handler = noteStop;
    // The second signal finds the default action again, which ends the process.
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
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

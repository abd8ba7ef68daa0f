#include "cli/StopSignals.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

// Where there are no POSIX signals: the C library's Ctrl-C and termination.
namespace StopSignals {

namespace {

std::atomic<bool> g_requested{false};
const char* g_notice = nullptr;
bool g_holding = false;

bool g_holdAll = false;

extern "C" void noteStop(int signal)
{
    const bool first = !g_requested.exchange(true);
    if (first && g_notice && !g_holding)
        std::fputs(g_notice, stderr);
    // The second signal ends the process, unless the motor is being stopped.
    std::signal(signal, g_holdAll ? noteStop : SIG_DFL);
}

} // namespace

void catchAll(const char* notice)
{
    g_notice = notice;
    std::signal(SIGINT, noteStop);
    std::signal(SIGTERM, noteStop);
}

void holdAll()
{
    g_holdAll = true;
    catchAll(g_notice ? "\nziro-bldc-cli: interrupted: stopping the motor first\n" : nullptr);
}

bool requested()
{
    return g_requested;
}

void holdForWait()
{
    g_holding = true;
    catchAll(nullptr);
}

void waitFor()
{
    while (!g_requested)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

} // namespace StopSignals

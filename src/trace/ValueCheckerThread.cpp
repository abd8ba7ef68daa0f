#include "trace/ValueCheckerThread.h"

#include <chrono>

ValueCheckerThread::ValueCheckerThread() : ValueCheckerThread(1000) {}

ValueCheckerThread::ValueCheckerThread(int delayMs) : QThread(nullptr), m_delay(delayMs) {}

ValueCheckerThread::~ValueCheckerThread()
{
    stop();
    wait();
    // Orders the thread's last unlock before the members go, for race checkers that do not
    // see the join inside wait().
    std::lock_guard<std::mutex> lock(m_mutex);
}

void ValueCheckerThread::start()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Cleared here and not in run(), so that a stop() right after this start() is kept.
        m_stop.store(false, std::memory_order_relaxed);
        if (isRunning() && !m_leaving) {
            // Still in its loop (in the pause after a stop, say): it carries on from here.
            m_restart = true;
            m_wake.notify_all();
            return;
        }
    }
    // Not running, or on its way out of run() already: let it end, then run it again.
    wait();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_leaving = false;
        m_restart = false;
    }
    QThread::start();
}

void ValueCheckerThread::stop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop.store(true, std::memory_order_relaxed);
    m_wake.notify_all();
}

void ValueCheckerThread::changeDelay(int delay)
{
    m_delay.store(delay, std::memory_order_relaxed);
}

void ValueCheckerThread::tickServed()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tickPending = false;
    m_wake.notify_all();
}

void ValueCheckerThread::run()
{
    using Clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!isStopRequested()) {
        m_restart = false;
        // While the last tick waits in the queue or its cycle runs, this one is merged into
        // it: it goes out as soon as that cycle is over.
        m_wake.wait(lock, [this] { return isStopRequested() || !m_tickPending; });
        if (isStopRequested())
            break;
        m_tickPending = true;
        lock.unlock();
        emit checkRequested();
        lock.lock();
        // The tick comes first, then the pause; a new delay counts from the next pause on.
        // A stop ends the pause, a start ends it with a tick.
        const auto end = Clock::now() + std::chrono::milliseconds(delay());
        m_wake.wait_until(lock, end, [this] { return isStopRequested() || m_restart; });
    }
    m_leaving = true;
}

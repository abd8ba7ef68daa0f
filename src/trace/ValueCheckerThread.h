#pragma once

#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>

// A pacing thread: its only work is to emit checkRequested(), pause for the delay, and
// tick again until it is stopped; a tick reaches an object on the GUI thread as a queued
// call. The trace controller no longer uses it: the core's Poller paces live polling with
// a timer on the GUI thread itself. Nothing in the tool creates one now.
//
// Ticks are merged: a tick stays pending from its emit until the GUI thread reports with
// tickServed() that its polling cycle is over. A tick that falls due while the last one
// is still pending is not emitted; the thread waits for the cycle to end and then ticks
// once. So at most one tick waits in the GUI event queue, and a delay of 0 polls as fast
// as the link allows.
//
// Start and stop hold in every moment: stop() wakes the thread from its pause, so it ends
// at once (and the thread object can be destroyed at once); start() on a thread that has
// not yet ended after a stop keeps it going, or runs it anew once it has ended.
class ValueCheckerThread : public QThread
{
    Q_OBJECT

public:
    // Pauses 1000 ms between ticks.
    ValueCheckerThread();
    explicit ValueCheckerThread(int delayMs);
    // Stops the thread and waits for it; a long pause does not hold this up.
    ~ValueCheckerThread() override;

    int delay() const { return m_delay.load(std::memory_order_relaxed); }
    bool isStopRequested() const { return m_stop.load(std::memory_order_relaxed); }

    // The GUI thread is through with the last tick: the next one may go out.
    void tickServed();

signals:
    void checkRequested();

public slots:
    // Starts ticking, with the first tick at once. (This hides QThread::start().)
    void start();
    // Asks the loop to end and wakes it from its pause.
    void stop();
    // The pause from the next one on, in milliseconds; the pause in progress keeps its length.
    void changeDelay(int delay);

protected:
    void run() override;

private:
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_delay;

    // Guarded by m_mutex; m_wake tells the loop that one of them, or the stop flag, changed.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_tickPending = false;
    // A start() reached the running loop: it ticks again at once.
    bool m_restart = false;
    // The loop has seen the stop flag and is on its way out of run().
    bool m_leaving = false;
};

#pragma once

#include "comm/SerialUSBCommandHandler.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>
#include <QVector>

class TraceCommand;

// One polled value: which request it answers, what came back and when.
struct PollSample
{
    enum class Outcome
    {
        Ok,
        // The module answered with a status other than 100.
        Refused,
        // No answer in time, or no link.
        NoReply,
        // An answer came on a line with bytes that answered no request: it may be another
        // request's.
        LineNotClean,
    };

    quint8 command = 0;
    quint8 type = 0;
    quint8 motorBank = 0;
    // The reply's value; 0 when none came. Only an Ok sample's value is the module's.
    qint32 value = 0;
    // The reply's status (100 is good); 0 when none came.
    quint8 status = 0;
    // Milliseconds on the monotonic clock (QElapsedTimer's reference) when the reply
    // arrived, or when the exchange gave up.
    qint64 time = 0;
    // The polling cycle the sample belongs to, counted from 1 since the poller's list was set.
    quint64 cycle = 0;
    Outcome outcome = Outcome::NoReply;

    bool ok() const { return outcome == Outcome::Ok; }
    static Outcome outcomeOf(SerialUSBCommandHandler::Failure failure);
};

// The last samples of one polled value, oldest first; the oldest go once it is full.
class SampleRing
{
public:
    explicit SampleRing(int capacity = DefaultCapacity);

    static constexpr int DefaultCapacity = 1024;

    void append(const PollSample& sample);
    void clear();
    int size() const { return m_size; }
    int capacity() const { return m_samples.size(); }
    // 0 is the oldest kept sample.
    const PollSample& at(int index) const;
    // The newest sample, or null while there is none.
    const PollSample* last() const;
    // Every sample appended since the last clear, kept or not.
    quint64 total() const { return m_total; }

private:
    QVector<PollSample> m_samples;
    int m_first = 0;
    int m_size = 0;
    quint64 m_total = 0;
};

// Polls a list of values through the command handler, one cycle after another, paced by a
// timer on the thread it lives on (the window's, where every exchange runs). Each exchange
// runs in a turn of the event loop of its own, so what comes in meanwhile (Stop motor above
// all) waits for the exchange in flight only. A cycle starts `delay` ms after the last one
// started, or one turn of the event loop after it ended if that is later.
//
// Every answer, good or not, becomes a sample in the value's store; the charts, the live
// recording and `watch` read the values from there and take only the Ok ones.
class Poller : public QObject
{
    Q_OBJECT

public:
    explicit Poller(SerialUSBCommandHandler& handler, QObject* parent = nullptr);
    ~Poller() override;

    // The values to poll, in order; their stores start empty. Not while a cycle runs: the
    // cycle in progress ends first (cycleFinished()).
    void setRequests(const QList<TraceCommand*>& requests);
    int requestCount() const { return m_requests.size(); }
    const SampleRing& store(int index) const { return m_stores.at(index); }
    // The store of a value of the list, or null.
    const SampleRing* storeOf(quint8 command, quint8 type, quint8 motorBank) const;

    // The pause from one cycle's start to the next one's, in ms; from the next cycle on.
    void setDelay(int delayMs);
    int delay() const { return m_delay; }

    // Polls from now on, the first cycle at once (a running poller carries on).
    void start();
    // Polls no more; a cycle in progress ends before its next exchange.
    void stop();
    bool isRunning() const { return m_running; }
    bool inCycle() const { return m_next >= 0; }
    // Cycles begun since the list was set.
    quint64 cycles() const { return m_cycle; }

    // While held, no exchange runs: a cycle that falls due, or the rest of the one in
    // progress, waits until the last hold is released.
    void hold();
    void release();
    bool isHeld() const { return m_holds > 0; }

    // Now on the clock of the samples' times.
    static qint64 now();

signals:
    void cycleStarted();
    // One more sample, already in its store.
    void sampled(const PollSample& sample);
    // Every request of the cycle is done, or the rest was left out because polling stopped.
    void cycleFinished();

private:
    void beginCycle();
    void pollNext();
    void endCycle();

    struct Request
    {
        quint8 command;
        quint8 type;
        quint8 motorBank;
    };

    SerialUSBCommandHandler& m_handler;
    QList<Request> m_requests;
    QList<SampleRing> m_stores;
    // The next cycle; the next exchange of the cycle in progress.
    QTimer m_cycleTimer;
    QTimer m_stepTimer;
    QElapsedTimer m_sinceCycleStart;
    int m_delay = 20;
    // The delay the cycle in progress was started with: a change counts from the next one.
    int m_cycleDelay = 20;
    bool m_running = false;
    int m_holds = 0;
    bool m_cycleDue = false;
    bool m_stepDue = false;
    // The index of the request the cycle in progress asks for next; -1 between cycles.
    int m_next = -1;
    quint64 m_cycle = 0;
};

#include "config/Poller.h"

#include "comm/TraceCommand.h"

PollSample::Outcome PollSample::outcomeOf(SerialUSBCommandHandler::Failure failure)
{
    switch (failure) {
    case SerialUSBCommandHandler::Failure::None:
        return Outcome::Ok;
    case SerialUSBCommandHandler::Failure::Refused:
        return Outcome::Refused;
    case SerialUSBCommandHandler::Failure::LineNotClean:
        return Outcome::LineNotClean;
    case SerialUSBCommandHandler::Failure::TimedOut:
    case SerialUSBCommandHandler::Failure::LinkLost:
        break;
    }
    return Outcome::NoReply;
}

SampleRing::SampleRing(int capacity) : m_samples(qMax(1, capacity)) {}

void SampleRing::append(const PollSample& sample)
{
    const int capacity = m_samples.size();
    if (m_size < capacity) {
        m_samples[(m_first + m_size) % capacity] = sample;
        ++m_size;
    } else {
        m_samples[m_first] = sample;
        m_first = (m_first + 1) % capacity;
    }
    ++m_total;
}

void SampleRing::clear()
{
    m_first = 0;
    m_size = 0;
    m_total = 0;
}

const PollSample& SampleRing::at(int index) const
{
    Q_ASSERT(index >= 0 && index < m_size);
    return m_samples.at((m_first + index) % m_samples.size());
}

const PollSample* SampleRing::last() const
{
    return m_size > 0 ? &at(m_size - 1) : nullptr;
}

Poller::Poller(SerialUSBCommandHandler& handler, QObject* parent)
    : QObject(parent), m_handler(handler)
{
    m_cycleTimer.setSingleShot(true);
    m_cycleTimer.setTimerType(Qt::PreciseTimer);
    m_stepTimer.setSingleShot(true);
    m_stepTimer.setInterval(0);
    connect(&m_cycleTimer, &QTimer::timeout, this, &Poller::beginCycle);
    connect(&m_stepTimer, &QTimer::timeout, this, &Poller::pollNext);
}

Poller::~Poller() = default;

void Poller::setRequests(const QList<TraceCommand*>& requests)
{
    if (inCycle())
        endCycle();
    m_requests.clear();
    m_stores.clear();
    for (const TraceCommand* request : requests) {
        m_requests.append(
            {static_cast<quint8>(request->command()), request->type(), request->motorBank()});
        m_stores.append(SampleRing());
    }
    m_cycle = 0;
}

const SampleRing* Poller::storeOf(quint8 command, quint8 type, quint8 motorBank) const
{
    for (int i = 0; i < m_requests.size(); ++i) {
        const Request& r = m_requests.at(i);
        if (r.command == command && r.type == type && r.motorBank == motorBank)
            return &m_stores.at(i);
    }
    return nullptr;
}

void Poller::setDelay(int delayMs)
{
    m_delay = qMax(0, delayMs);
}

void Poller::start()
{
    if (m_running)
        return;
    m_running = true;
    // A cycle left unfinished by a stop carries on; its end schedules the next one.
    if (!inCycle()) {
        m_cycleTimer.start(0);
    }
}

void Poller::stop()
{
    m_running = false;
    m_cycleTimer.stop();
    m_cycleDue = false;
}

void Poller::hold()
{
    ++m_holds;
}

void Poller::release()
{
    if (m_holds == 0 || --m_holds > 0)
        return;
    // Served from the event loop, once the operation that held polling has returned.
    if (m_stepDue) {
        m_stepDue = false;
        m_stepTimer.start();
    } else if (m_cycleDue) {
        m_cycleDue = false;
        m_cycleTimer.start(0);
    }
}

qint64 Poller::now()
{
    QElapsedTimer clock;
    clock.start();
    return clock.msecsSinceReference();
}

void Poller::beginCycle()
{
    if (!m_running || inCycle())
        return;
    if (m_holds > 0) {
        m_cycleDue = true;
        return;
    }
    m_sinceCycleStart.start();
    m_cycleDelay = m_delay;
    ++m_cycle;
    m_next = 0;
    emit cycleStarted();
    pollNext();
}

void Poller::pollNext()
{
    if (!inCycle())
        return;
    if (m_holds > 0) {
        m_stepDue = true;
        return;
    }
    if (m_running && m_next < m_requests.size()) {
        const int index = m_next++;
        const Request& request = m_requests.at(index);
        const SerialUSBCommandHandler::Outcome outcome =
            m_handler.traceExchange(request.command, request.type, request.motorBank);
        PollSample sample;
        // When the reply was in; without one, when the exchange gave up.
        sample.time = outcome.reply ? m_handler.lastReplyAt() : now();
        sample.command = request.command;
        sample.type = request.type;
        sample.motorBank = request.motorBank;
        sample.cycle = m_cycle;
        sample.outcome = PollSample::outcomeOf(outcome.failure);
        if (outcome.reply) {
            sample.value = outcome.reply->value();
            sample.status = outcome.reply->status();
        }
        m_stores[index].append(sample);
        emit sampled(sample);
    }
    if (!m_running || m_next >= m_requests.size()) {
        endCycle();
        return;
    }
    // The next exchange waits for the next turn of the event loop: input that came during
    // this one (a key, a click) is served first.
    m_stepTimer.start();
}

void Poller::endCycle()
{
    m_next = -1;
    m_stepTimer.stop();
    m_stepDue = false;
    emit cycleFinished();
    if (m_running) {
        // Timers, repaints and input that came during the cycle are served before the next
        // one begins, even with a delay of 0.
        const qint64 left = m_cycleDelay - m_sinceCycleStart.elapsed();
        m_cycleTimer.start(static_cast<int>(qMax<qint64>(0, left)));
    }
}

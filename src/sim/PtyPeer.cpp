#include "sim/PtyPeer.h"

#include "comm/Protocol.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

} // namespace

PtyPeer::PtyPeer() = default;

PtyPeer::~PtyPeer()
{
    stop();
}

void PtyPeer::setResponder(Responder responder)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_responder = std::move(responder);
}

void PtyPeer::send(const QByteArray& bytes)
{
    writeAll(bytes);
}

QList<QByteArray> PtyPeer::requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // Element by element: a shared copy would leave the caller reading data that the
    // worker thread detaches and frees while it logs the next request.
    QList<QByteArray> copy;
    copy.reserve(m_requests.size());
    for (const QByteArray& request : m_requests)
        copy.append(QByteArray(request.constData(), request.size()));
    return copy;
}

int PtyPeer::requestCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_requests.size());
}

void PtyPeer::clearRequests()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.clear();
}

int PtyPeer::answeredCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_answered;
}

bool PtyPeer::waitForAnswered(int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_answered >= count; });
}

bool PtyPeer::waitForRequests(int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_requests.size() >= count; });
}

QByteArray PtyPeer::replyFrame(quint8 replyAddress, quint8 moduleAddress, quint8 status,
                               quint8 command, qint32 value)
{
    return vokt::replyFrame(replyAddress, moduleAddress, status, command, value);
}

bool PtyPeer::sleepUnlessStopped(int ms)
{
    if (ms <= 0)
        return !m_stopping;
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_changed.wait_for(lock, std::chrono::milliseconds(ms),
                               [&] { return m_stopping.load(); });
}

bool PtyPeer::sleepUntil(Clock::time_point due)
{
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
    if (wait.count() > 0 && !sleepUnlessStopped(static_cast<int>(wait.count())))
        return false;
    // The rest, less than a millisecond.
    while (Clock::now() < due)
        std::this_thread::yield();
    return !m_stopping;
}

int PtyPeer::lineBaudRate() const
{
    return m_running ? speedOf(m_slave) : 0;
}

void PtyPeer::takeIn(const char* data, int size)
{
    for (int i = 0; i < size; ++i) {
        m_partial.append(data[i]);
        if (m_partial.size() < vokt::FrameSize)
            continue;
        const QByteArray request = m_partial;
        m_partial.clear();
        const auto received = Clock::now();
        Responder responder;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.append(request);
            const int limit = m_requestLogLimit;
            if (limit > 0 && m_requests.size() > limit)
                m_requests.remove(0, m_requests.size() - limit);
            responder = m_responder;
        }
        m_changed.notify_all();
        if (m_silent || !responder) {
            markAnswered();
            continue;
        }
        const QList<Chunk> chunks = responder(request);
        // Each chunk is on the line once its last byte would have arrived at the emulated
        // line speed: after the request's wire time, its own delay and its own wire time.
        const int baud = m_baudRate;
        const auto wireTime = [baud](qsizetype bytes) {
            return std::chrono::microseconds(baud > 0 ? bytes * 10 * 1000000LL / baud : 0);
        };
        auto due =
            received + std::chrono::milliseconds(m_replyDelayMs.load()) + wireTime(vokt::FrameSize);
        for (const Chunk& chunk : chunks) {
            due += std::chrono::milliseconds(chunk.delayMs) + wireTime(chunk.bytes.size());
            if (!sleepUntil(due))
                return;
            writeAll(chunk.bytes);
        }
        markAnswered();
    }
}

void PtyPeer::markAnswered()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_answered;
    }
    m_changed.notify_all();
}

PtyPeer::Responder PtyPeer::answeringWith(qint32 value)
{
    return [value](const QByteArray& request) {
        return answer(
            replyFrame(2, quint8(request.at(0)), vokt::StatusOk, quint8(request.at(1)), value));
    };
}

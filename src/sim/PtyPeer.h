#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Plays the module's end of a serial line. It opens a pseudo-terminal pair; the slave
// end's path is the port name a SerialUSBDevice opens, and a worker thread reads request
// frames from the master end and answers them. The pseudo-terminal is POSIX's
// (PtyPeer_posix.cpp); on a system without one, start() fails and says so. Tests script the answers
// (whole, in chunks, late, never, or garbage); the simulated module answers through it as well.
class PtyPeer
{
public:
    // Bytes to write after waiting delayMs.
    struct Chunk
    {
        int delayMs;
        QByteArray bytes;
    };
    // Called on the worker thread with every complete 9-byte request; returns what to
    // write back (nothing for silence).
    using Responder = std::function<QList<Chunk>(const QByteArray& request)>;

    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    // Opens the pty pair and starts answering. false (with the reason) if no pty could
    // be had.
    bool start(QString* error = nullptr);
    // Stops answering and closes both ends: to the other side it looks like a port that
    // has gone away.
    void stop();
    bool isRunning() const { return m_running; }
    // The slave end, for example /dev/pts/4.
    QString portName() const { return m_slavePath; }

    void setResponder(Responder responder);
    // Emulates the line's speed: each chunk of a reply is written only once its wire time
    // (10 bits a byte), after the request's, has passed. 0 answers at once. Set before
    // start(), it is also the speed the line starts at (otherwise 115200), as a tool that
    // keeps the port's own settings finds it.
    void setBaudRate(int baudRate) { m_baudRate = baudRate; }
    // The speed the tool set on its end of the line (its termios), as a module's UART
    // would run into it; 0 when the peer is not running or the speed cannot be read. Any
    // thread, the responder's among them.
    int lineBaudRate() const;
    // Extra delay before every reply, on top of the line's wire time.
    void setReplyDelayMs(int ms) { m_replyDelayMs = ms; }
    // A silent peer takes requests in but never answers.
    void setSilent(bool silent) { m_silent = silent; }
    // Bytes of an incomplete request are dropped after this long without more, as a real
    // module does to find the start of the next frame again. 0 keeps them for ever.
    void setFrameTimeoutMs(int ms) { m_frameTimeoutMs = ms; }

    // Writes bytes at once, unasked: stale replies, garbage. Like every reply, what finds no
    // room on the line (a tool that does not read) is dropped.
    void send(const QByteArray& bytes);

    // The requests taken in so far, in order: a copy of its own, which the worker thread
    // does not touch.
    QList<QByteArray> requests() const;
    // Keeps only the last count requests (the oldest are dropped), so that a peer that
    // serves for hours does not grow without end. 0, the default, keeps them all.
    void setRequestLogLimit(int count) { m_requestLogLimit = count; }
    int requestCount() const;
    void clearRequests();
    // Waits until at least count requests have come in, or timeoutMs has passed.
    bool waitForRequests(int count, int timeoutMs) const;
    // Requests dealt with in full: everything the responder gave for them is written (or
    // they got no answer).
    int answeredCount() const;
    // Waits until at least count requests are dealt with, or timeoutMs has passed.
    bool waitForAnswered(int count, int timeoutMs) const;

    // A reply built from its fields, with the checksum the module puts on it.
    static QByteArray replyFrame(quint8 replyAddress, quint8 moduleAddress, quint8 status,
                                 quint8 command, qint32 value);
    static QList<Chunk> answer(const QByteArray& bytes) { return {Chunk{0, bytes}}; }
    // Answers every request the way a module at the request's address answers a get:
    // status 100, the request's command, the given value.
    static Responder answeringWith(qint32 value);

private:
    void run();
    void takeIn(const char* data, int size);
    void writeAll(const QByteArray& bytes);
    bool sleepUnlessStopped(int ms);
    // false when the peer is stopped meanwhile.
    bool sleepUntil(std::chrono::steady_clock::time_point due);
    void markAnswered();
    // The speed of the terminal fd, as a number of baud (0 unknown), and setting it; the
    // system's own part (PtyPeer_posix.cpp, or PtyPeer_linux.cpp where the speed may be
    // any number).
    static int speedOf(int fd);
    static bool setSpeed(int fd, int baudRate);

    int m_master = -1;
    int m_slave = -1;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    QString m_slavePath;
    std::thread m_worker;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_baudRate{0};
    std::atomic<int> m_replyDelayMs{0};
    std::atomic<bool> m_silent{false};
    std::atomic<int> m_frameTimeoutMs{0};
    std::atomic<int> m_requestLogLimit{0};

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    Responder m_responder;
    QList<QByteArray> m_requests;
    int m_answered = 0;
    QByteArray m_partial;
    std::mutex m_writeMutex;
};

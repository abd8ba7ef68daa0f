#pragma once

#include "SerialUSBDevice.h"
#include "TraceCommand.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>

class VOKTRequest;
class VOKTUSBReply;

// The single owner of the conversation with the module. Every slot is one exchange: build
// a request, write its 9-byte frame, wait for the 9-byte reply, report the reply's value
// through the signal that belongs to the request. There is no queue and no second
// outstanding request; everything runs in the caller's thread and blocks it until the
// reply is in or the wait (about 0.5 s) has run out.
//
// The answer is the first 9 bytes on the line that start below 128, carry the right
// checksum and answer the command just sent. Anything else is dropped a byte at a time,
// so that a reply behind noise of any length is still found. When the port fails, or a
// request cannot be written, the link is closed, the reason logged and deviceClosed()
// emitted, once.
class SerialUSBCommandHandler : public QObject
{
    Q_OBJECT

public:
    // A reply must be in within ReplyTimeoutMs of the request being written (a deadline on
    // a monotonic clock; bytes that arrive never shorten it). The port is looked at
    // whenever input arrives, and at least every PollIntervalMs.
    static constexpr int PollIntervalMs = 10;
    static constexpr int MaxPolls = 51;
    static constexpr int ReplyTimeoutMs = PollIntervalMs * MaxPolls;

    SerialUSBCommandHandler();
    ~SerialUSBCommandHandler() override;

    // Attaches the device of a new connection; the handler does not own it.
    void setDevice(SerialUSBDevice* device);
    SerialUSBDevice* device() const { return m_device; }
    bool open();
    void close();
    bool isOpen() const;
    QString portName() const;
    QString description() const;

    // The module address every frame carries (1 unless set).
    void setModuleAddress(int address);
    int moduleAddress() const { return m_moduleAddress; }

    void setDebug(bool debug) { m_debug = debug; }
    bool isDebug() const { return m_debug; }

    // Logs and writes one frame; the request stays the caller's.
    void sendRequest(VOKTRequest* request);
    // Waits for the reply to the request just sent; returns a new record owned by the
    // caller, or nullptr (no reply in time, or no request could be sent).
    VOKTUSBReply* receiveReply();

    // Bytes dropped since the handler was made because they were not the awaited reply.
    quint64 droppedBytes() const { return m_droppedBytes; }

signals:
    void requestedValue(char motorBank, char type, int value);
    void requestedGlobalParameter(char type, char motorBank, char value);
    void requestedIOValue(char type, char motorBank, int value);
    void requestedTraceValue(char motorBank, char type, int value);
    void requestResult(char motorBank, char command, char status, int value);
    void deviceClosed();
    // The handler closed the open link itself, and why (the module did not answer in time,
    // the port failed). Emitted once per lost link, after deviceClosed().
    void linkLost(const QString& reason);

public slots:
    void getAxisParameter(char motorBank, char type);
    void setAxisParameter(char motorBank, char type, int value);
    void getGlobalParameter(char type, char motorBank);
    void getIOValue(char type, char motorBank);
    void setIOValue(char type, char motorBank, int value);
    void doMove(char motorBank, char command, char type, int value);
    void doRequest(char command, char type, char motorBank, int value);
    void requestTraceValues(QList<TraceCommand*>* traceCommands);

private:
    // One whole exchange: discard stale input, send, wait. nullptr when no reply came.
    VOKTUSBReply* exchange(char command, char type, char motorBank, int value);
    // Whether 9 bytes are the answer to the request in flight.
    bool isAnswer(const QByteArray& frame) const;
    // The port failed while the link was open: close it, say why, announce it.
    void loseLink(const QString& reason);
    void logDropped(qint64 dropped);

    // Not owned; a device deleted behind the handler's back reads as none attached.
    QPointer<SerialUSBDevice> m_device;
    bool m_debug;
    int m_moduleAddress;
    // The request in flight: when it was written, and the command its reply must carry
    // (-1 when no request was written).
    QElapsedTimer m_sentAt;
    int m_sentCommand = -1;
    quint64 m_droppedBytes = 0;
};

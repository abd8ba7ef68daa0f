#pragma once

#include "comm/Protocol.h"
#include "comm/SerialUSBDevice.h"
#include "comm/TraceCommand.h"
#include "comm/VOKTUSBReply.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

class VOKTRequest;

// The single owner of the conversation with the module. Every exchange takes one path,
// exchange(): write the request's 9-byte frame, wait for the 9-byte reply, and hand back the
// reply or why there is none (Outcome). The slots are thin wrappers that report the reply's
// value through the signal that belongs to the request; the whole-module operations, the
// script runner and the command line call exchange() themselves. There is no queue and no second
// outstanding request; everything runs in the caller's thread and blocks it until the
// reply is in or the wait (about 0.5 s) has run out.
//
// The answer is the first 9 bytes on the line that start below 128, carry the right
// checksum and answer the command just sent. Anything else is dropped a byte at a time,
// so that a reply behind noise of any length is still found. When the port fails, or a
// request cannot be written, the link is closed, the reason logged and deviceClosed()
// emitted, once.
//
// A reply does not say which request it answers. A late answer, a duplicate, a line echo
// or a second module at the same address can therefore put a reply on the line that the
// next request takes for its own. The handler cannot see that in one exchange, but it
// sees the bytes that answered no request: what waits in the input when a request is
// about to be written, replies to another command met while waiting, and what arrives
// after the last exchange of a batch (Batch). A batch in which any arrived is not to be
// reported as good.
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
    // The line counts as quiet after QuietMs without a byte (QuietFrames frame times on a
    // slow line). It is waited for after opening a port (what waits there is dropped) and
    // after a batch, for at most QuietLimitMs.
    static constexpr int QuietMs = 25;
    static constexpr int QuietFrames = 4;
    static constexpr int QuietLimitMs = 250;
    // The look for stray bytes after the last exchange of a batch waits at least this long
    // (or QuietFrames frame times, whichever is longer): a doubled answer may follow its
    // original by a few tens of milliseconds.
    static constexpr int SettleMs = 50;
    // After a time-out to another module the late answer is waited for until the line has
    // been quiet for LateAnswerGuardMs, at most LateAnswerLimitMs; with setAwaitLateAnswer()
    // it is waited for up to LateAnswerLimitMs after the deadline, and once bytes come, until
    // the line is quiet.
    static constexpr int LateAnswerGuardMs = 300;
    static constexpr int LateAnswerLimitMs = 1000;
    // Why an exchange has no good answer.
    enum class Failure
    {
        None,
        // No reply within ReplyTimeoutMs; the port is closed.
        TimedOut,
        // The port is not open, failed, or the request could not be written.
        LinkLost,
        // The module answered with a status other than vokt::StatusOk.
        Refused,
        // A reply came, but bytes that answered no request arrived before or with it, so
        // it may be the answer to an earlier request.
        LineNotClean,
    };
    static QString failureText(Failure failure);

    // What one exchange came to: the reply, if one came, and why the exchange has no good
    // answer. A reply comes with Failure::None, Refused (its status is not vokt::StatusOk) or
    // LineNotClean (it may be the answer to an earlier request); none with TimedOut or
    // LinkLost.
    struct Outcome
    {
        std::optional<VOKTUSBReply> reply;
        Failure failure = Failure::LinkLost;

        bool ok() const { return failure == Failure::None; }
    };

    // Exchanges that belong together: an export, an import with its read-backs, a store or
    // restore walk, a script, a recording, the refresh after a connect. Made before the
    // first exchange; isClean() after the last one.
    class Batch
    {
    public:
        explicit Batch(SerialUSBCommandHandler& handler);
        // Waits briefly for anything still arriving after the last exchange (see
        // settleLine()); true when no byte that answered no request arrived during the
        // batch.
        bool isClean();
        // Bytes that answered no request since the batch began.
        quint64 unansweredBytes() const;

    private:
        SerialUSBCommandHandler& m_handler;
        quint64 m_before;
    };

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

    // One exchange: logs and writes the request's frame, waits for the reply. A request to
    // another address than the module address (the raw command panel talking to another
    // module on the line) that gets no reply leaves the link open: the link's module is
    // not the one that is silent. Its late answer is waited for first, as with
    // setAwaitLateAnswer(), so that it cannot answer a later request.
    Outcome exchange(const VOKTRequest& request);
    // The same for a request at the module address.
    Outcome exchange(quint8 command, vokt::ParameterNumber type, quint8 motorBank, qint32 value);
    // One live value's exchange (value 0), answered with requestedTraceValue() as
    // requestTraceValues() does for each entry.
    Outcome traceExchange(quint8 command, quint8 type, quint8 motorBank);

    // What a scan's probe found at one address (see probe()).
    struct Probe
    {
        // The first reply to the request, if one came.
        std::optional<VOKTUSBReply> reply;
        // Bytes that came and were not that reply: a second module's answer, a broken
        // one, noise.
        qint64 strayBytes = 0;
        // The port failed, or the request could not be written.
        bool linkLost = false;
        // The request came back as it was sent (a line that echoes, as RS-485 adapters that
        // hear their own transmission do); the echo is neither the reply nor stray bytes.
        bool echoed = false;
    };
    // One exchange of a scan: the request's reply within a deadline of its own, a few frame
    // times instead of ReplyTimeoutMs. No reply in time means nobody is at the address,
    // not a lost module: the port stays open and nothing is announced. A reply still
    // arriving at the deadline is waited for while its bytes keep coming (each within
    // quietMs); after a reply, or bytes that were none, the line is listened to until it
    // has been quiet for quietMs, so that a second module's answer is heard with the first
    // one and not with the next request.
    Probe probe(const VOKTRequest& request, int deadlineMs, int quietMs);

    // The two halves of exchange(), for callers that write and wait apart. sendRequest()
    // logs and writes one frame; the request stays the caller's.
    void sendRequest(VOKTRequest* request);
    // Waits for the reply to the request just sent; returns a new record owned by the
    // caller, or nullptr (no reply in time, or no request could be sent).
    VOKTUSBReply* receiveReply();

    // Bytes dropped since the handler was made because they were not the awaited reply.
    quint64 droppedBytes() const { return m_droppedBytes; }
    // Bytes since the handler was made that answered no request: found in the input before
    // a request was written, replies to another command met while waiting, and what
    // settleLine() and the wait for a late answer found.
    quint64 unansweredBytes() const { return m_unansweredBytes; }
    // Why the last exchange has no good answer; None when it has one.
    Failure lastFailure() const { return m_lastFailure; }
    // The status of the last reply (vokt::StatusOk, or why the module refused); 0 before the
    // first.
    int lastStatus() const { return m_lastStatus; }
    // When the last reply was in, before it was logged: milliseconds on the monotonic clock
    // (QElapsedTimer's reference); 0 before the first.
    qint64 lastReplyAt() const { return m_lastReplyAt; }

    // After the last exchange of a batch: waits until the line has been quiet (SettleMs, or
    // QuietFrames frame times on a slow line; at most QuietLimitMs), counting what arrives
    // as answering no request. true when nothing arrived. Returns at once when nothing was
    // sent since the last look, or the port is not open. With setClosingRead(), see there.
    bool settleLine();
    // Ends a batch whose first answer came SettleMs ago or longer with one more exchange
    // instead of the quiet wait: a read with another command than the batch's last (global
    // parameter 0, the module's address; a get of axis parameter 0 after a global one), then
    // QuietFrames frame times of quiet. A doubled or late answer still on its way comes
    // before that read's reply and is counted; one to an earlier request of so long a batch
    // has come during it. A shorter batch waits as without it. Costs one exchange where the
    // wait costs SettleMs: for work that closes many batches (commissioning a line).
    void setClosingRead(bool closingRead) { m_closingRead = closingRead; }
    // After a time-out, wait for the late answer before closing the port: the port stays
    // open up to LateAnswerLimitMs for it to come, and once bytes come, until the line is
    // quiet; what arrives meanwhile is dropped. For a process that ends after a failure: a late
    // answer left in the port would answer the next run's first request. Off by default:
    // the window closes at once, and the next open drops what waits in the port.
    void setAwaitLateAnswer(bool await) { m_awaitLateAnswer = await; }
    bool awaitsLateAnswer() const { return m_awaitLateAnswer; }

signals:
    void requestedValue(char motorBank, char type, int value);
    void requestedGlobalParameter(char type, char motorBank, char value);
    void requestedIOValue(char type, char motorBank, int value);
    void requestedTraceValue(char motorBank, char type, int value);
    void requestResult(char motorBank, char command, char status, int value);
    // The link is closed: a time-out or a failed port closed it, or a request found it
    // closed. Once per link: requests to a link already announced closed say nothing more
    // (a link is a device attached, and each time it is opened).
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
    // doRequest() to the module at address, which need not be the link's.
    void doAddressedRequest(int address, char command, char type, char motorBank, int value);
    void requestTraceValues(QList<TraceCommand*>* traceCommands);

private:
    // Discards stale input, logs and writes the frame.
    void writeRequest(const VOKTRequest& request);
    // Waits for the reply to the request in flight.
    std::optional<VOKTUSBReply> awaitReply();
    // exchange() for a slot, whose numbers travel as char.
    std::optional<VOKTUSBReply> slotExchange(char command, char type, char motorBank, int value);
    // Whether 9 bytes are the answer to the request in flight.
    bool isAnswer(const QByteArray& frame) const;
    // The port failed while the link was open: close it, say why, announce it.
    void loseLink(const QString& reason);
    // deviceClosed(), unless said already for this link.
    void announceClosed();
    void logDropped(qint64 dropped);
    // No reply in time: the port is closed (after the late answer, if awaited).
    void timeOut();
    // Counts and logs bytes that answered no request; a second module would be at address
    // (by default the request's in flight, or the module address).
    void noteUnanswered(qint64 bytes, int address = -1);
    // How long the line must be without a byte to count as quiet.
    int quietMs() const;
    // settleLine() by one more exchange (see setClosingRead()).
    bool closeWithRead();

    // Not owned; a device deleted behind the handler's back reads as none attached.
    QPointer<SerialUSBDevice> m_device;
    bool m_debug;
    int m_moduleAddress;
    // The request in flight: when it was written, and the command its reply must carry
    // (-1 when no request was written), and the address it went to.
    QElapsedTimer m_sentAt;
    int m_sentCommand = -1;
    int m_sentAddress = -1;
    // The frame of the request in flight, and, during a probe, the bytes of its echoes.
    QByteArray m_sentFrame;
    qint64 m_echoBytes = 0;
    // The wait for a reply: ReplyTimeoutMs, or a probe's deadline and quiet time while one
    // is in flight (quiet time 0 otherwise).
    int m_deadlineMs = ReplyTimeoutMs;
    int m_probeQuietMs = 0;
    quint64 m_droppedBytes = 0;
    quint64 m_unansweredBytes = 0;
    Failure m_lastFailure = Failure::None;
    int m_lastStatus = 0;
    qint64 m_lastReplyAt = 0;
    bool m_awaitLateAnswer = false;
    // A request went out since the line was last found quiet.
    bool m_sentSinceSettled = false;
    // When the first answer since then was in (as m_lastReplyAt); -1 before it.
    qint64 m_firstReplySinceSettled = -1;
    // The command of the last request written; -1 before the first.
    int m_lastCommand = -1;
    bool m_closingRead = false;
    // deviceClosed() was emitted for the link attached.
    bool m_closeAnnounced = false;
};

#include "comm/SerialUSBCommandHandler.h"

#include "comm/DebugLine.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBDevice.h"
#include "comm/VOKTRequest.h"
#include "comm/VOKTUSBReply.h"

#include <utility>

SerialUSBCommandHandler::SerialUSBCommandHandler()
    : QObject(nullptr), m_device(nullptr), m_debug(true), m_moduleAddress(1)
{
}

SerialUSBCommandHandler::~SerialUSBCommandHandler()
{
    close();
}

void SerialUSBCommandHandler::setDevice(SerialUSBDevice* device)
{
    m_device = device;
    // Another link: its closing is told anew.
    m_closeAnnounced = false;
}

bool SerialUSBCommandHandler::open()
{
    const bool opened = m_device && m_device->open(QIODevice::ReadWrite);
    if (opened && m_device->isPortOpen()) {
        // What waits in the port (the late answer to a request of an earlier connection, a
        // module still talking) must not answer the first request.
        const qint64 stale = m_device->drainUntilQuiet(quietMs(), QuietLimitMs);
        if (stale > 0)
            DebugLine() << "SerialUSBCommandHandler: discarded" << stale << "stale bytes";
        m_sentSinceSettled = false;
        m_firstReplySinceSettled = -1;
        m_closeAnnounced = false;
    }
    return opened;
}

void SerialUSBCommandHandler::close()
{
    if (m_device)
        m_device->close();
}

bool SerialUSBCommandHandler::isOpen() const
{
    return m_device && m_device->isPortOpen();
}

QString SerialUSBCommandHandler::portName() const
{
    return m_device ? m_device->portName() : QStringLiteral("unknown");
}

QString SerialUSBCommandHandler::description() const
{
    return m_device ? m_device->description() : QStringLiteral("unknown");
}

void SerialUSBCommandHandler::setModuleAddress(int address)
{
    m_moduleAddress = address;
}

SerialUSBCommandHandler::Outcome SerialUSBCommandHandler::exchange(const VOKTRequest& request)
{
    writeRequest(request);
    Outcome outcome;
    outcome.reply = awaitReply();
    outcome.failure = m_lastFailure;
    return outcome;
}

SerialUSBCommandHandler::Outcome SerialUSBCommandHandler::exchange(quint8 command,
                                                                   vokt::ParameterNumber type,
                                                                   quint8 motorBank, qint32 value)
{
    return exchange(
        VOKTRequest(static_cast<quint8>(m_moduleAddress), command, type, motorBank, value));
}

SerialUSBCommandHandler::Probe SerialUSBCommandHandler::probe(const VOKTRequest& request,
                                                              int deadlineMs, int quietMs)
{
    // However the probe ends, the next exchange waits as long as ever.
    struct Restore
    {
        SerialUSBCommandHandler* handler;
        ~Restore()
        {
            handler->m_deadlineMs = ReplyTimeoutMs;
            handler->m_probeQuietMs = 0;
        }
    } restore{this};
    m_deadlineMs = deadlineMs;
    m_probeQuietMs = qMax(1, quietMs);

    Probe probe;
    m_echoBytes = 0;
    writeRequest(request);
    const quint64 droppedBefore = m_droppedBytes;
    if (m_lastFailure != Failure::LinkLost)
        probe.reply = awaitReply();
    if (m_lastFailure == Failure::LinkLost) {
        probe.linkLost = true;
        return probe;
    }
    probe.echoed = m_echoBytes > 0;
    probe.strayBytes = static_cast<qint64>(m_droppedBytes - droppedBefore) - m_echoBytes;
    if (probe.reply || m_device->bytesAvailable() > 0) {
        const qint64 more = m_device->drainUntilQuiet(m_probeQuietMs, QuietLimitMs);
        noteUnanswered(more, request.address());
        probe.strayBytes += more;
    }
    return probe;
}

void SerialUSBCommandHandler::sendRequest(VOKTRequest* request)
{
    writeRequest(*request);
}

VOKTUSBReply* SerialUSBCommandHandler::receiveReply()
{
    std::optional<VOKTUSBReply> reply = awaitReply();
    return reply ? new VOKTUSBReply(*reply) : nullptr;
}

void SerialUSBCommandHandler::writeRequest(const VOKTRequest& request)
{
    m_sentAt.invalidate();
    m_sentCommand = -1;
    m_sentAddress = -1;
    m_lastFailure = Failure::None;
    if (m_debug) {
        DebugLine(DebugLine::Kind::Frame).plain(request.toString());
        DebugLine(DebugLine::Kind::Frame).plain(request.toByteString());
    }
    if (m_device && m_device->isPortOpen()) {
        // A reply that came too late, a duplicate or noise must never be taken as the
        // answer to this request; that it came at all says the line is not clean.
        const qint64 stale = m_device->discardInput();
        if (stale > 0) {
            noteUnanswered(stale);
            m_lastFailure = Failure::LineNotClean;
        }
        const QByteArray frame = request.toWire();
        const qint64 written = m_device->write(frame);
        if (written != frame.size()) {
            QString reason = m_device->errorString();
            if (reason.isEmpty() || reason == QLatin1String("Unknown error"))
                reason = QStringLiteral("%1 of %2 bytes written")
                             .arg(qMax<qint64>(written, 0))
                             .arg(frame.size());
            loseLink(reason);
            return;
        }
        m_sentAt.start();
        m_sentFrame = frame;
        m_sentCommand = request.command();
        m_lastCommand = request.command();
        m_sentAddress = request.address();
        m_sentSinceSettled = true;
        return;
    }
    m_lastFailure = Failure::LinkLost;
    DebugLine() << "could not send data: is device opened?";
    announceClosed();
}

void SerialUSBCommandHandler::announceClosed()
{
    if (!std::exchange(m_closeAnnounced, true))
        emit deviceClosed();
}

bool SerialUSBCommandHandler::isAnswer(const QByteArray& frame) const
{
    return VOKTUSBReply::hasValidAddress(frame) && VOKTUSBReply::hasValidChecksum(frame) &&
           (m_sentCommand < 0 || static_cast<quint8>(frame.at(3)) == m_sentCommand);
}

QString SerialUSBCommandHandler::failureText(Failure failure)
{
    switch (failure) {
    case Failure::None:
        break;
    case Failure::TimedOut:
        return QStringLiteral("no reply within %1 ms").arg(ReplyTimeoutMs);
    case Failure::LinkLost:
        return QStringLiteral("the link is closed");
    case Failure::Refused:
        return QStringLiteral("refused by the module");
    case Failure::LineNotClean:
        return QStringLiteral("the line is not clean");
    }
    return QString();
}

SerialUSBCommandHandler::Batch::Batch(SerialUSBCommandHandler& handler)
    : m_handler(handler), m_before(handler.unansweredBytes())
{
}

bool SerialUSBCommandHandler::Batch::isClean()
{
    m_handler.settleLine();
    return unansweredBytes() == 0;
}

quint64 SerialUSBCommandHandler::Batch::unansweredBytes() const
{
    return m_handler.unansweredBytes() - m_before;
}

bool SerialUSBCommandHandler::settleLine()
{
    if (!m_sentSinceSettled || !m_device || !m_device->isPortOpen())
        return true;
    m_sentSinceSettled = false;
    const qint64 firstReply = m_firstReplySinceSettled;
    m_firstReplySinceSettled = -1;
    if (m_closingRead && firstReply >= 0) {
        QElapsedTimer now;
        now.start();
        if (now.msecsSinceReference() - firstReply >= SettleMs)
            return closeWithRead();
    }
    const qint64 late = m_device->drainUntilQuiet(qMax(SettleMs, quietMs()), QuietLimitMs);
    noteUnanswered(late);
    return late == 0;
}

bool SerialUSBCommandHandler::closeWithRead()
{
    const quint64 before = m_unansweredBytes;
    const quint8 command = m_lastCommand == vokt::GetGlobalParameter ? vokt::GetAxisParameter
                                                                     : vokt::GetGlobalParameter;
    const Outcome outcome = exchange(command, 0, 0, 0);
    m_sentSinceSettled = false;
    m_firstReplySinceSettled = -1;
    if (!outcome.reply || !m_device->isPortOpen())
        return false;
    const int frames = qMax(1, QuietFrames * m_device->frameTimeMs(vokt::FrameSize));
    noteUnanswered(m_device->drainUntilQuiet(frames, QuietLimitMs));
    return m_unansweredBytes == before;
}

int SerialUSBCommandHandler::quietMs() const
{
    const int frames = m_device ? QuietFrames * m_device->frameTimeMs(vokt::FrameSize) : 0;
    return qMax(QuietMs, frames);
}

void SerialUSBCommandHandler::noteUnanswered(qint64 bytes, int address)
{
    if (bytes <= 0)
        return;
    if (address < 0)
        address = m_sentAddress >= 0 ? m_sentAddress : m_moduleAddress;
    m_unansweredBytes += static_cast<quint64>(bytes);
    DebugLine().plain(QStringLiteral("SerialUSBCommandHandler: %1 bytes arrived that answered no "
                                     "request: a late answer, a line echo or a second module at "
                                     "address %2")
                          .arg(bytes)
                          .arg(address));
}

void SerialUSBCommandHandler::loseLink(const QString& reason)
{
    m_lastFailure = Failure::LinkLost;
    m_device->close();
    DebugLine().plain(QStringLiteral("SerialUSBCommandHandler: connection lost (%1)").arg(reason));
    announceClosed();
    emit linkLost(reason);
}

void SerialUSBCommandHandler::logDropped(qint64 dropped)
{
    if (dropped > 0)
        DebugLine() << "SerialUSBCommandHandler: dropped" << dropped << "bytes that were no reply";
}

std::optional<VOKTUSBReply> SerialUSBCommandHandler::awaitReply()
{
    // Nothing was sent (no device, or the port is not open): nothing to wait for.
    if (!m_device || !m_device->isPortOpen()) {
        m_sentAt.invalidate();
        m_sentCommand = -1;
        m_sentAddress = -1;
        m_lastFailure = Failure::LinkLost;
        return std::nullopt;
    }
    // Called without a request of ours just written: the wait starts now.
    if (!m_sentAt.isValid())
        m_sentAt.start();
    // However the wait ends, the request is no longer in flight.
    struct Settled
    {
        SerialUSBCommandHandler* handler;
        ~Settled()
        {
            handler->m_sentAt.invalidate();
            handler->m_sentCommand = -1;
            handler->m_sentAddress = -1;
        }
    } settled{this};

    // Bytes dropped while waiting, and how many of them were replies to another command
    // (each counted once, as whole frames).
    qint64 dropped = 0;
    qint64 unanswered = 0;
    qint64 countedUntil = 0;
    QByteArray input;
    for (;;) {
        const qint64 waiting = m_device->bytesAvailable();
        if (waiting < 0) {
            logDropped(dropped);
            noteUnanswered(unanswered);
            loseLink(m_device->errorString());
            return std::nullopt;
        }
        // Look at every 9 bytes of the input in turn, from its head; anything before the
        // answer is dropped. At most the device's input limit at a time, so that the
        // deadline holds however fast bytes arrive.
        if (waiting >= vokt::FrameSize) {
            input.resize(qMin(waiting, SerialUSBDevice::InputLimit));
            const qint64 size = m_device->peekData(input.data(), input.size());
            qint64 at = 0;
            bool found = false;
            for (; at + vokt::FrameSize <= size; ++at) {
                const QByteArray frame =
                    QByteArray::fromRawData(input.constData() + at, vokt::FrameSize);
                if (isAnswer(frame)) {
                    found = true;
                    break;
                }
                // A probe's own request heard back from the line: dropped, not counted.
                if (m_probeQuietMs > 0 && dropped + at >= countedUntil && frame == m_sentFrame) {
                    m_echoBytes += vokt::FrameSize;
                    at += vokt::FrameSize - 1;
                    countedUntil = dropped + at + 1;
                    continue;
                }
                if (dropped + at >= countedUntil && VOKTUSBReply::hasValidAddress(frame) &&
                    VOKTUSBReply::hasValidChecksum(frame)) {
                    unanswered += vokt::FrameSize;
                    countedUntil = dropped + at + vokt::FrameSize;
                }
            }
            // Everything before the answer goes, or, without one, all but the last 8 bytes
            // (the start of a reply still arriving).
            if (at > 0 && m_device->readData(input.data(), at) != at)
                at = 0;
            dropped += at;
            m_droppedBytes += static_cast<quint64>(at);
            if (found) {
                QElapsedTimer now;
                now.start();
                m_lastReplyAt = now.msecsSinceReference();
                if (m_firstReplySinceSettled < 0)
                    m_firstReplySinceSettled = m_lastReplyAt;
                QByteArray frame(vokt::FrameSize, '\0');
                m_device->readData(frame.data(), frame.size());
                logDropped(dropped);
                noteUnanswered(unanswered);
                VOKTUSBReply reply(frame);
                m_lastStatus = reply.status();
                if (m_debug) {
                    DebugLine(DebugLine::Kind::Frame).plain(reply.toByteString());
                    DebugLine(DebugLine::Kind::Frame).plain(reply.toString());
                }
                if (unanswered > 0)
                    m_lastFailure = Failure::LineNotClean;
                else if (reply.status() != vokt::StatusOk && m_lastFailure == Failure::None)
                    m_lastFailure = Failure::Refused;
                return reply;
            }
        }
        const qint64 left = m_deadlineMs - m_sentAt.elapsed();
        // A probe's reply still arriving at its deadline is waited for while bytes come.
        if (left <= 0 && m_probeQuietMs > 0 && waiting > 0 &&
            m_sentAt.elapsed() < m_deadlineMs + QuietLimitMs &&
            m_device->waitForInput(m_probeQuietMs))
            continue;
        if (left <= 0) {
            logDropped(dropped);
            noteUnanswered(unanswered);
            timeOut();
            return std::nullopt;
        }
        // Wakes as soon as input arrives, so a reply is taken when its last byte is in.
        m_device->waitForInput(static_cast<int>(qMin<qint64>(left, PollIntervalMs)));
    }
}

void SerialUSBCommandHandler::timeOut()
{
    m_lastFailure = Failure::TimedOut;
    // A probe without an answer: nobody at the address.
    if (m_probeQuietMs > 0)
        return;
    if (m_sentAddress >= 0 && m_sentAddress != m_moduleAddress) {
        // Another module than the link's is silent; the link stays. Its answer may still
        // come: better now than as the answer to a later request.
        noteUnanswered(m_device->drainUntilQuiet(LateAnswerGuardMs, LateAnswerLimitMs));
        DebugLine().plain(QStringLiteral("SerialUSBCommandHandler: no reply from the module at "
                                         "address %1 within %2 ms")
                              .arg(m_sentAddress)
                              .arg(ReplyTimeoutMs));
        return;
    }
    if (m_awaitLateAnswer && m_device) {
        // The answer may still come: better here than as the answer to a later request,
        // and however late it is within the limit (a quiet spell is no sign that it will
        // not come).
        if (m_device->bytesAvailable() > 0 || m_device->waitForInput(LateAnswerLimitMs))
            noteUnanswered(m_device->discardInput() +
                           m_device->drainUntilQuiet(quietMs(), QuietLimitMs));
    }
    announceClosed();
    if (m_device)
        m_device->close();
    DebugLine() << "SerialUSBCommandHandler: communicationTimeouted!";
    emit linkLost(QStringLiteral("no reply within %1 ms").arg(ReplyTimeoutMs));
}

std::optional<VOKTUSBReply> SerialUSBCommandHandler::slotExchange(char command, char type,
                                                                  char motorBank, int value)
{
    return exchange(static_cast<quint8>(command), static_cast<quint8>(type),
                    static_cast<quint8>(motorBank), value)
        .reply;
}

void SerialUSBCommandHandler::getAxisParameter(char motorBank, char type)
{
    if (const auto reply = slotExchange(vokt::GetAxisParameter, type, motorBank, 0))
        emit requestedValue(motorBank, type, reply->value());
}

void SerialUSBCommandHandler::setAxisParameter(char motorBank, char type, int value)
{
    if (const auto reply = slotExchange(vokt::SetAxisParameter, type, motorBank, value))
        emit requestedValue(motorBank, type, reply->value());
}

void SerialUSBCommandHandler::getGlobalParameter(char type, char motorBank)
{
    if (const auto reply = slotExchange(vokt::GetGlobalParameter, type, motorBank, 0))
        emit requestedGlobalParameter(type, motorBank, static_cast<char>(reply->value()));
}

void SerialUSBCommandHandler::getIOValue(char type, char motorBank)
{
    if (const auto reply = slotExchange(vokt::GetIOValue, type, motorBank, 0))
        emit requestedIOValue(type, motorBank, reply->value());
}

void SerialUSBCommandHandler::setIOValue(char type, char motorBank, int value)
{
    if (const auto reply = slotExchange(vokt::SetIOValue, type, motorBank, value))
        emit requestedIOValue(type, motorBank, reply->value());
}

void SerialUSBCommandHandler::doMove(char motorBank, char command, char type, int value)
{
    if (const auto reply = slotExchange(command, type, motorBank, value))
        DebugLine() << "reply: " << reply->value();
}

void SerialUSBCommandHandler::doRequest(char command, char type, char motorBank, int value)
{
    if (const auto reply = slotExchange(command, type, motorBank, value))
        emit requestResult(motorBank, static_cast<char>(reply->command()),
                           static_cast<char>(reply->status()), reply->value());
}

void SerialUSBCommandHandler::doAddressedRequest(int address, char command, char type,
                                                 char motorBank, int value)
{
    const Outcome outcome =
        exchange(VOKTRequest(static_cast<quint8>(address), static_cast<quint8>(command),
                             static_cast<quint8>(type), static_cast<quint8>(motorBank), value));
    if (const auto& reply = outcome.reply)
        emit requestResult(motorBank, static_cast<char>(reply->command()),
                           static_cast<char>(reply->status()), reply->value());
}

void SerialUSBCommandHandler::requestTraceValues(QList<TraceCommand*>* traceCommands)
{
    if (!traceCommands)
        return;
    for (const TraceCommand* entry : *traceCommands)
        traceExchange(static_cast<quint8>(entry->command()), entry->type(), entry->motorBank());
}

SerialUSBCommandHandler::Outcome SerialUSBCommandHandler::traceExchange(quint8 command, quint8 type,
                                                                        quint8 motorBank)
{
    Outcome outcome = exchange(command, type, motorBank, 0);
    if (const auto& reply = outcome.reply)
        emit requestedTraceValue(static_cast<char>(motorBank), static_cast<char>(type),
                                 reply->value());
    return outcome;
}

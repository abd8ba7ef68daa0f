#include "SerialUSBCommandHandler.h"

#include "DebugLine.h"
#include "SerialUSBDevice.h"
#include "VOKTRequest.h"
#include "VOKTUSBReply.h"

#include <memory>

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
}

bool SerialUSBCommandHandler::open()
{
    return m_device && m_device->open(QIODevice::ReadWrite);
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

void SerialUSBCommandHandler::sendRequest(VOKTRequest* request)
{
    m_sentAt.invalidate();
    m_sentCommand = -1;
    if (m_debug) {
        DebugLine(DebugLine::Kind::Frame).plain(request->toString());
        DebugLine(DebugLine::Kind::Frame).plain(request->toByteString());
    }
    if (m_device && m_device->isPortOpen()) {
        // A reply that came too late, or noise on the line, must never be taken as the
        // answer to this request.
        const qint64 stale = m_device->discardInput();
        if (stale > 0)
            DebugLine() << "SerialUSBCommandHandler: discarded" << stale << "stale bytes";
        const QByteArray frame = request->toWire();
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
        m_sentCommand = request->command();
        return;
    }
    DebugLine() << "could not send data: is device opened?";
    emit deviceClosed();
}

bool SerialUSBCommandHandler::isAnswer(const QByteArray& frame) const
{
    return VOKTUSBReply::hasValidAddress(frame) && VOKTUSBReply::hasValidChecksum(frame) &&
           (m_sentCommand < 0 || static_cast<quint8>(frame.at(3)) == m_sentCommand);
}

void SerialUSBCommandHandler::loseLink(const QString& reason)
{
    m_device->close();
    DebugLine().plain(QStringLiteral("SerialUSBCommandHandler: connection lost (%1)").arg(reason));
    emit deviceClosed();
    emit linkLost(reason);
}

void SerialUSBCommandHandler::logDropped(qint64 dropped)
{
    if (dropped > 0)
        DebugLine() << "SerialUSBCommandHandler: dropped" << dropped << "bytes that were no reply";
}

VOKTUSBReply* SerialUSBCommandHandler::receiveReply()
{
    // Nothing was sent (no device, or the port is not open): nothing to wait for.
    if (!m_device || !m_device->isPortOpen()) {
        m_sentAt.invalidate();
        m_sentCommand = -1;
        return nullptr;
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
        }
    } settled{this};

    qint64 dropped = 0;
    QByteArray frame(VOKTUSBReply::FrameSize, '\0');
    for (;;) {
        qint64 waiting = m_device->bytesAvailable();
        if (waiting < 0) {
            logDropped(dropped);
            loseLink(m_device->errorString());
            return nullptr;
        }
        // Look at the 9 bytes at the head of the input; anything that is not the answer
        // loses its first byte, and the next 9 are looked at.
        while (waiting >= VOKTUSBReply::FrameSize) {
            if (m_device->peekData(frame.data(), frame.size()) == frame.size() && isAnswer(frame)) {
                m_device->readData(frame.data(), frame.size());
                logDropped(dropped);
                auto* reply = new VOKTUSBReply(frame);
                if (m_debug) {
                    DebugLine(DebugLine::Kind::Frame).plain(reply->toByteString());
                    DebugLine(DebugLine::Kind::Frame).plain(reply->toString());
                }
                return reply;
            }
            char skipped;
            if (m_device->readData(&skipped, 1) != 1)
                break;
            ++dropped;
            ++m_droppedBytes;
            --waiting;
        }
        const qint64 left = ReplyTimeoutMs - m_sentAt.elapsed();
        if (left <= 0) {
            logDropped(dropped);
            emit deviceClosed();
            if (m_device)
                m_device->close();
            DebugLine() << "SerialUSBCommandHandler: communicationTimeouted!";
            emit linkLost(QStringLiteral("no reply within %1 ms").arg(ReplyTimeoutMs));
            return nullptr;
        }
        // Wakes as soon as input arrives, so a reply is taken when its last byte is in.
        m_device->waitForInput(static_cast<int>(qMin<qint64>(left, PollIntervalMs)));
    }
}

VOKTUSBReply* SerialUSBCommandHandler::exchange(char command, char type, char motorBank, int value)
{
    VOKTRequest request(static_cast<quint8>(m_moduleAddress), static_cast<quint8>(command),
                        static_cast<quint8>(type), static_cast<quint8>(motorBank), value);
    sendRequest(&request);
    return receiveReply();
}

void SerialUSBCommandHandler::getAxisParameter(char motorBank, char type)
{
    std::unique_ptr<VOKTUSBReply> reply(exchange(6, type, motorBank, 0));
    if (reply)
        emit requestedValue(motorBank, type, reply->value());
}

void SerialUSBCommandHandler::setAxisParameter(char motorBank, char type, int value)
{
    std::unique_ptr<VOKTUSBReply> reply(exchange(5, type, motorBank, value));
    if (reply)
        emit requestedValue(motorBank, type, reply->value());
}

void SerialUSBCommandHandler::getGlobalParameter(char type, char motorBank)
{
    std::unique_ptr<VOKTUSBReply> reply(exchange(10, type, motorBank, 0));
    if (reply)
        emit requestedGlobalParameter(type, motorBank, static_cast<char>(reply->value()));
}

void SerialUSBCommandHandler::getIOValue(char type, char motorBank)
{
    std::unique_ptr<VOKTUSBReply> reply(exchange(15, type, motorBank, 0));
    if (reply)
        emit requestedIOValue(type, motorBank, reply->value());
}

void SerialUSBCommandHandler::setIOValue(char type, char motorBank, int value)
{
    std::unique_ptr<VOKTUSBReply> reply(exchange(14, type, motorBank, value));
    if (reply)
        emit requestedIOValue(type, motorBank, reply->value());
}

void SerialUSBCommandHandler::doMove(char motorBank, char command, char type, int value)
{
    std::unique_ptr<VOKTUSBReply> reply(exchange(command, type, motorBank, value));
    if (reply)
        DebugLine() << "reply: " << reply->value();
}

void SerialUSBCommandHandler::doRequest(char command, char type, char motorBank, int value)
{
    std::unique_ptr<VOKTUSBReply> reply(exchange(command, type, motorBank, value));
    if (reply)
        emit requestResult(motorBank, static_cast<char>(reply->command()),
                           static_cast<char>(reply->status()), reply->value());
}

void SerialUSBCommandHandler::requestTraceValues(QList<TraceCommand*>* traceCommands)
{
    if (!traceCommands)
        return;
    for (const TraceCommand* entry : *traceCommands) {
        std::unique_ptr<VOKTUSBReply> reply(exchange(entry->command(),
                                                     static_cast<char>(entry->type()),
                                                     static_cast<char>(entry->motorBank()), 0));
        if (reply)
            emit requestedTraceValue(static_cast<char>(entry->motorBank()),
                                     static_cast<char>(entry->type()), reply->value());
    }
}

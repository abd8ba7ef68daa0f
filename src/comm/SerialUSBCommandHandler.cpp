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
        m_device->write(request->toWire());
        return;
    }
    DebugLine() << "could not send data: is device opened?";
    emit deviceClosed();
}

VOKTUSBReply* SerialUSBCommandHandler::receiveReply()
{
    if (!m_device)
        return nullptr;
    for (int count = 0;; ++count) {
        if (m_device->bytesAvailable() >= VOKTUSBReply::FrameSize) {
            QByteArray frame(VOKTUSBReply::FrameSize, '\0');
            const qint64 got = m_device->readData(frame.data(), frame.size());
            frame.resize(static_cast<int>(qMax<qint64>(got, 0)));
            if (frame.size() == VOKTUSBReply::FrameSize && VOKTUSBReply::hasValidAddress(frame)) {
                if (VOKTUSBReply::hasValidChecksum(frame)) {
                    auto* reply = new VOKTUSBReply(frame);
                    if (m_debug) {
                        DebugLine(DebugLine::Kind::Frame).plain(reply->toByteString());
                        DebugLine(DebugLine::Kind::Frame).plain(reply->toString());
                    }
                    return reply;
                }
                DebugLine() << "SerialUSBCommandHandler: reply with wrong checksum dropped:"
                            << VOKTUSBReply(frame).toByteString();
            }
            // Not a reply for us: dropped, the wait goes on.
        }
        const qint64 waiting = m_device->bytesAvailable();
        if (waiting < 0)
            return nullptr;
        // Wakes as soon as input arrives, so a reply is taken when its last byte is in.
        if (waiting < VOKTUSBReply::FrameSize)
            m_device->waitForInput(PollIntervalMs);
        if (count >= MaxPolls - 1) {
            emit deviceClosed();
            m_device->close();
            DebugLine() << "SerialUSBCommandHandler: communicationTimeouted!";
            return nullptr;
        }
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

#include "comm/VOKTRequest.h"

VOKTRequest::VOKTRequest(quint8 address, quint8 command, quint8 type, quint8 motorBank,
                         qint32 value)
    : m_address(address), m_command(command), m_type(type), m_motorBank(motorBank), m_value(value),
      m_checksum(0)
{
    updateChecksum();
}

void VOKTRequest::updateChecksum()
{
    m_checksum = vokt::checksum(toWire());
}

QByteArray VOKTRequest::toWire() const
{
    QByteArray frame;
    frame.reserve(vokt::FrameSize);
    frame.append(static_cast<char>(m_address));
    frame.append(static_cast<char>(m_command));
    frame.append(static_cast<char>(m_type));
    frame.append(static_cast<char>(m_motorBank));
    vokt::putBigEndian(frame, m_value);
    frame.append(static_cast<char>(m_checksum));
    return frame;
}

QByteArray VOKTRequest::recordBytes() const
{
    const quint32 v = static_cast<quint32>(m_value);
    const char bytes[vokt::FrameSize] = {
        static_cast<char>(m_address), static_cast<char>(m_command),
        static_cast<char>(m_type),    static_cast<char>(m_motorBank),
        static_cast<char>(v),         static_cast<char>(v >> 8),
        static_cast<char>(v >> 16),   static_cast<char>(v >> 24),
        static_cast<char>(m_checksum)};
    return QByteArray(bytes, vokt::FrameSize);
}

QString VOKTRequest::toString() const
{
    return QStringLiteral("VOKTRequest[%1, %2, %3, %4, %5, %6]")
        .arg(m_address)
        .arg(m_command)
        .arg(m_type)
        .arg(m_motorBank)
        .arg(static_cast<quint32>(m_value) & 0xFFu)
        .arg(m_checksum);
}

QString VOKTRequest::toByteString() const
{
    return vokt::byteListText("VOKTRequest", recordBytes());
}

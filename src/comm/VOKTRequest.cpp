#include "comm/VOKTRequest.h"

#include <QStringList>

namespace vokt {

quint8 checksum(const QByteArray& frame)
{
    unsigned sum = 0;
    for (int i = 0; i < 8 && i < frame.size(); ++i)
        sum += static_cast<quint8>(frame.at(i));
    return static_cast<quint8>(sum);
}

QString byteListText(const char* name, const QByteArray& bytes)
{
    QStringList items;
    for (char byte : bytes)
        items << QStringLiteral("0x%1").arg(static_cast<quint8>(byte), 3, 10, QLatin1Char('0'));
    return QStringLiteral("%1[%2]").arg(QLatin1String(name), items.join(QStringLiteral(", ")));
}

void putBigEndian(QByteArray& out, qint32 value)
{
    const quint32 v = static_cast<quint32>(value);
    out.append(static_cast<char>(v >> 24));
    out.append(static_cast<char>(v >> 16));
    out.append(static_cast<char>(v >> 8));
    out.append(static_cast<char>(v));
}

qint32 takeBigEndian(const char* bytes)
{
    const quint32 v = (quint32(quint8(bytes[0])) << 24) | (quint32(quint8(bytes[1])) << 16) |
                      (quint32(quint8(bytes[2])) << 8) | quint32(quint8(bytes[3]));
    return static_cast<qint32>(v);
}

} // namespace vokt

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
    frame.reserve(FrameSize);
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
    const char bytes[FrameSize] = {static_cast<char>(m_address), static_cast<char>(m_command),
                                   static_cast<char>(m_type),    static_cast<char>(m_motorBank),
                                   static_cast<char>(v),         static_cast<char>(v >> 8),
                                   static_cast<char>(v >> 16),   static_cast<char>(v >> 24),
                                   static_cast<char>(m_checksum)};
    return QByteArray(bytes, FrameSize);
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

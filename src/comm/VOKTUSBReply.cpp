#include "comm/VOKTUSBReply.h"

VOKTUSBReply::VOKTUSBReply(const QByteArray& wire)
    : m_replyAddress(0), m_moduleAddress(0), m_status(0), m_command(0), m_value(0), m_checksum(0)
{
    Q_ASSERT(wire.size() >= vokt::FrameSize);
    if (wire.size() < vokt::FrameSize)
        return;
    m_replyAddress = static_cast<quint8>(wire.at(0));
    m_moduleAddress = static_cast<quint8>(wire.at(1));
    m_status = static_cast<quint8>(wire.at(2));
    m_command = static_cast<quint8>(wire.at(3));
    m_value = vokt::takeBigEndian(wire.constData() + 4);
    m_checksum = static_cast<quint8>(wire.at(8));
}

bool VOKTUSBReply::hasValidAddress(const QByteArray& wire)
{
    return !wire.isEmpty() && static_cast<quint8>(wire.at(0)) < 0x80;
}

bool VOKTUSBReply::hasValidChecksum(const QByteArray& wire)
{
    return wire.size() >= vokt::FrameSize &&
           vokt::checksum(wire) == static_cast<quint8>(wire.at(8));
}

QString VOKTUSBReply::toString() const
{
    return QStringLiteral("VOKTUSBReply[%1, %2, %3, %4, %5, %6]")
        .arg(m_replyAddress)
        .arg(m_moduleAddress)
        .arg(m_status)
        .arg(m_command)
        .arg(m_value)
        .arg(m_checksum);
}

QString VOKTUSBReply::toByteString() const
{
    const quint32 v = static_cast<quint32>(m_value);
    const char bytes[vokt::FrameSize] = {static_cast<char>(m_replyAddress),
                                         static_cast<char>(m_moduleAddress),
                                         static_cast<char>(m_status),
                                         static_cast<char>(m_command),
                                         static_cast<char>(v),
                                         static_cast<char>(v >> 8),
                                         static_cast<char>(v >> 16),
                                         static_cast<char>(v >> 24),
                                         static_cast<char>(m_checksum)};
    return vokt::byteListText("VOKTUSBReply", QByteArray(bytes, vokt::FrameSize));
}

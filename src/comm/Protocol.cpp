#include "comm/Protocol.h"

#include <QStringList>

namespace vokt {

quint8 checksum(const QByteArray& frame)
{
    unsigned sum = 0;
    for (int i = 0; i < FrameSize - 1 && i < frame.size(); ++i)
        sum += static_cast<quint8>(frame.at(i));
    return static_cast<quint8>(sum);
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

QByteArray replyFrame(quint8 replyAddress, quint8 moduleAddress, quint8 status, quint8 command,
                      qint32 value)
{
    QByteArray frame;
    frame.reserve(FrameSize);
    frame.append(static_cast<char>(replyAddress));
    frame.append(static_cast<char>(moduleAddress));
    frame.append(static_cast<char>(status));
    frame.append(static_cast<char>(command));
    putBigEndian(frame, value);
    frame.append(static_cast<char>(checksum(frame)));
    return frame;
}

QString byteListText(const char* name, const QByteArray& bytes)
{
    QStringList items;
    for (char byte : bytes)
        items << QStringLiteral("0x%1").arg(static_cast<quint8>(byte), 3, 10, QLatin1Char('0'));
    return QStringLiteral("%1[%2]").arg(QLatin1String(name), items.join(QStringLiteral(", ")));
}

} // namespace vokt

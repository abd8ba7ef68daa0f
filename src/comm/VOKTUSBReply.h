#pragma once

#include "comm/Protocol.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// One reply of the module: reply address, module address, status, the command it answers,
// the 32-bit value most significant byte first, and the checksum as it came.
class VOKTUSBReply
{
public:
    // Takes the first 9 bytes of a frame as they arrived on the line.
    explicit VOKTUSBReply(const QByteArray& wire);

    quint8 replyAddress() const { return m_replyAddress; }
    quint8 moduleAddress() const { return m_moduleAddress; }
    quint8 status() const { return m_status; }
    quint8 command() const { return m_command; }
    qint32 value() const { return m_value; }
    quint8 checksum() const { return m_checksum; }

    // A reply whose first byte has bit 7 set is not one the module sends to us.
    static bool hasValidAddress(const QByteArray& wire);
    // The last byte must be the sum of the eight before it modulo 256.
    static bool hasValidChecksum(const QByteArray& wire);

    // "VOKTUSBReply[2, 1, 100, 6, 1000, 99]" with the whole signed value.
    QString toString() const;
    // "VOKTUSBReply[0x002, ...]": the record's nine bytes, value least significant first.
    QString toByteString() const;

private:
    quint8 m_replyAddress;
    quint8 m_moduleAddress;
    quint8 m_status;
    quint8 m_command;
    qint32 m_value;
    quint8 m_checksum;
};

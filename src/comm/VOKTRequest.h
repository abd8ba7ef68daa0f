#pragma once

#include "comm/Protocol.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// One request to the module. On the wire it is 9 bytes: address, command, type,
// motor/bank, the 32-bit value most significant byte first, and a checksum that is the
// sum of the eight bytes before it modulo 256. The checksum does not depend on the byte
// order of the value, so the in-memory record and the wire frame share it.
class VOKTRequest
{
public:
    VOKTRequest(quint8 address, quint8 command, quint8 type, quint8 motorBank, qint32 value);

    quint8 address() const { return m_address; }
    quint8 command() const { return m_command; }
    quint8 type() const { return m_type; }
    quint8 motorBank() const { return m_motorBank; }
    qint32 value() const { return m_value; }
    quint8 checksum() const { return m_checksum; }

    void setAddress(quint8 address) { m_address = address; }
    void setCommand(quint8 command) { m_command = command; }
    void setType(quint8 type) { m_type = type; }
    void setMotorBank(quint8 motorBank) { m_motorBank = motorBank; }
    void setValue(qint32 value) { m_value = value; }
    // Recomputes the checksum after a setter changed a field.
    void updateChecksum();

    // The 9-byte frame as it goes on the line.
    QByteArray toWire() const;
    // "VOKTRequest[1, 5, 4, 0, 232, 245]": the value's low byte stands for the value.
    QString toString() const;
    // "VOKTRequest[0x001, ...]": the record's nine bytes, value least significant first,
    // each as "0x" and three decimal digits.
    QString toByteString() const;

    // The nine bytes in record order (value least significant byte first).
    QByteArray recordBytes() const;

private:
    quint8 m_address;
    quint8 m_command;
    quint8 m_type;
    quint8 m_motorBank;
    qint32 m_value;
    quint8 m_checksum;
};

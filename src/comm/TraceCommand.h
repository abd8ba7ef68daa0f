#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

// One live value to poll: the command (always 6, get axis parameter), the parameter number
// and the motor/bank number.
class TraceCommand
{
public:
    TraceCommand(qint8 command, quint8 type, quint8 motorBank);

    qint8 command() const { return m_command; }
    quint8 type() const { return m_type; }
    quint8 motorBank() const { return m_motorBank; }

    // "TraceCommand(6, 4, 0)": the command signed, type and motor/bank unsigned.
    QString toString() const;

    bool sameAs(const TraceCommand& other) const
    {
        return m_command == other.m_command && m_type == other.m_type &&
               m_motorBank == other.m_motorBank;
    }

private:
    qint8 m_command;
    quint8 m_type;
    quint8 m_motorBank;
};

using TraceCommandList = QList<TraceCommand*>;

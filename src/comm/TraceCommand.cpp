#include "comm/TraceCommand.h"

TraceCommand::TraceCommand(qint8 command, quint8 type, quint8 motorBank)
    : m_command(command), m_type(type), m_motorBank(motorBank)
{
}

QString TraceCommand::toString() const
{
    return QStringLiteral("TraceCommand(%1, %2, %3)").arg(m_command).arg(m_type).arg(m_motorBank);
}

#include "config/MotionGuard.h"

#include "comm/SerialUSBCommandHandler.h"

MotionGuard::MotionGuard(SerialUSBCommandHandler& handler, LinkController* link,
                         std::function<bool()> cancelled)
    : m_handler(handler), m_link(link), m_cancelled(std::move(cancelled))
{
}

MotionGuard::~MotionGuard()
{
    if (m_moved && !m_stopped)
        stop();
}

bool MotionGuard::cancelled() const
{
    return m_cancelled && m_cancelled();
}

bool MotionGuard::move(quint8 command, vokt::ParameterNumber type, qint32 value, QString* why)
{
    if (cancelled()) {
        *why = QStringLiteral("cancelled");
        return false;
    }
    m_moved = true;
    const SerialUSBCommandHandler::Outcome outcome = m_handler.exchange(command, type, 0, value);
    if (!outcome.ok())
        *why = SerialUSBCommandHandler::failureText(outcome.failure);
    return outcome.ok();
}

const MotionGuard::Stop& MotionGuard::stop()
{
    if (!m_stopped) {
        m_stopped = true;
        m_stop = stopMotor(m_handler, m_link);
    }
    return m_stop;
}

MotionGuard::Stop MotionGuard::stopMotor(SerialUSBCommandHandler& handler, LinkController*)
{
    Stop stop;
    while (!stop.confirmed && stop.attempts < 3) {
        ++stop.attempts;
        const SerialUSBCommandHandler::Outcome outcome =
            handler.exchange(5, vokt::ParameterNumber(2), 0, 0);
        stop.confirmed = outcome.ok();
        if (!outcome.ok())
            stop.error = SerialUSBCommandHandler::failureText(outcome.failure);
    }
    if (stop.confirmed)
        stop.error.clear();
    return stop;
}

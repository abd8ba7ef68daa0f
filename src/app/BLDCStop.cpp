// The central panel's stop, and its questions before the window leaves a turning motor.

#include "app/BLDC.h"

#include "app/ModuleSearch.h"
#include "app/TurningGuard.h"
#include "comm/DebugLine.h"
#include "comm/LinkController.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "config/MotionGuard.h"
#include "config/ParameterNumbers.h"
#include "panels/connection/WDirectMode.h"

void BLDC::watchTurning()
{
    m_turning = new TurningGuard(*m_handler, this);
    connect(m_handler, &SerialUSBCommandHandler::requestedValue, m_turning,
            &TurningGuard::valueRead);
    connect(m_handler, &SerialUSBCommandHandler::requestedTraceValue, m_turning,
            &TurningGuard::valueRead);
    connect(m_directMode, &WDirectMode::doRequest, m_turning, &TurningGuard::directRequest);
}

bool BLDC::canStopMotor() const
{
    // A link closed by a time-out or a failed port is still the panel's; one the user
    // closed, or one that never opened, is not.
    return m_handler->isOpen() || m_linkController->state().isLost();
}

void BLDC::stopMotor()
{
    writeStop();
}

bool BLDC::writeStop(QString* why)
{
    DebugLine() << "Stop motor";
    // On an open link at once, the very next frame after the exchange in flight; the tries
    // on a drained line, and the port opened again after a time-out or a lost link (the
    // link shown as down stays down), when that is not confirmed.
    bool confirmed =
        m_handler->isOpen() &&
        m_handler->exchange(vokt::SetAxisParameter, ParameterCatalogue::TargetVelocity, 0, 0).ok();
    if (!confirmed) {
        const MotionGuard::Stop stop = MotionGuard::stopMotor(*m_handler, m_linkController.get());
        confirmed = stop.confirmed;
        if (why)
            *why = MotionGuard::describe(stop);
    }
    if (confirmed)
        m_turning->stopped();
    return confirmed;
}

bool BLDC::mayLeaveModule()
{
    if (!canStopMotor())
        return true;
    return m_turning->mayLeave(window(), [this](QString* why) { return writeStop(why); });
}

void BLDC::stopIfTurning()
{
    if (canStopMotor() && m_turning->turning())
        writeStop();
}

bool BLDC::mayReplace(const QString& port, int address)
{
    const LinkController::Request& last = m_linkController->lastRequest();
    // Reconnecting to the same module leaves nothing behind.
    if (attachedLink() == Link::None ||
        (ModuleSearch::samePort(last.port, port) && last.address == address))
        return true;
    if (mayLeaveModule()) {
        m_turning->forget();
        return true;
    }
    // The asking panel shows the link as it is.
    showLinkInPanels();
    return false;
}

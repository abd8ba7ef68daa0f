#include "config/MotionGuard.h"

#include "comm/DebugLine.h"
#include "comm/LinkController.h"
#include "comm/SerialUSBCommandHandler.h"
#include "config/ParameterNumbers.h"

using Handler = SerialUSBCommandHandler;

MotionGuard::MotionGuard(Handler& handler, LinkController* link, std::function<bool()> cancelled)
    : m_handler(handler), m_link(link), m_cancelled(std::move(cancelled)),
      m_unansweredBefore(handler.unansweredBytes()),
      m_awaitedLateAnswer(handler.awaitsLateAnswer())
{
    m_handler.setAwaitLateAnswer(false);
}

MotionGuard::~MotionGuard()
{
    if (m_moved && !m_stop) {
        try {
            stop();
        } catch (...) {
            // A destructor on the way out of an exception must not throw again.
        }
    }
    m_handler.setAwaitLateAnswer(m_awaitedLateAnswer);
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
    if (m_stop) {
        *why = QStringLiteral("the motor was stopped already");
        return false;
    }
    if (!m_moved) {
        // A second module at the address answers the reads so far too: its answers arrive
        // after the first module's, and the line's quiet shows them.
        m_handler.settleLine();
        const quint64 unanswered = m_handler.unansweredBytes() - m_unansweredBefore;
        if (unanswered > 0) {
            *why = QStringLiteral("the line is not clean: %1 bytes arrived that answered no "
                                  "request (a second module at address %2, a line echo or a "
                                  "late answer)")
                       .arg(unanswered)
                       .arg(m_handler.moduleAddress());
            return false;
        }
        if (!m_handler.isOpen()) {
            *why = Handler::failureText(Handler::Failure::LinkLost);
            return false;
        }
    }
    // From here on the request may reach the module, answered or not: it is stopped.
    m_moved = true;
    const Handler::Outcome outcome = m_handler.exchange(command, type, 0, value);
    if (outcome.ok())
        return true;
    *why = Handler::failureText(outcome.failure);
    if (outcome.failure == Handler::Failure::Refused && outcome.reply)
        *why += QStringLiteral(" (status %1)").arg(outcome.reply->status());
    return false;
}

const MotionGuard::Stop& MotionGuard::stop()
{
    if (!m_stop)
        m_stop = stopMotor(m_handler, m_link);
    return *m_stop;
}

MotionGuard::Stop MotionGuard::stopMotor(Handler& handler, LinkController* link)
{
    Stop stop;
    QString reopenError;
    for (int attempt = 0; attempt < StopTries; ++attempt) {
        if (!handler.isOpen()) {
            if (!link) {
                stop.error = Handler::failureText(Handler::Failure::LinkLost);
                break;
            }
            if (!link->reopenForStop(&reopenError)) {
                stop.error = QStringLiteral("the port did not open again for the stop (%1)")
                                 .arg(reopenError);
                break;
            }
            stop.reopened = true;
            DebugLine().plain(QStringLiteral("MotionGuard: opened %1 again for the stop")
                                  .arg(handler.portName()));
        }
        // The first try goes at once (stale input is dropped as the request is written, and
        // only a reply to command 5 is taken). A try after a failed one waits until what
        // still arrives from the requests before has come: its answer must be its own.
        if (attempt > 0)
            handler.settleLine();
        ++stop.attempts;
        const Handler::Outcome outcome =
            handler.exchange(vokt::SetAxisParameter,
                             vokt::ParameterNumber(ParameterCatalogue::TargetVelocity), 0, 0);
        if (outcome.ok()) {
            stop.confirmed = true;
            stop.error.clear();
            break;
        }
        stop.error = Handler::failureText(outcome.failure);
        if (outcome.failure == Handler::Failure::Refused && outcome.reply)
            stop.error += QStringLiteral(" (status %1)").arg(outcome.reply->status());
    }
    if (stop.reopened && link)
        link->endStopOnly();
    DebugLine().plain(QStringLiteral("MotionGuard: %1").arg(describe(stop)));
    return stop;
}

QString MotionGuard::describe(const Stop& stop)
{
    if (stop.confirmed)
        return stop.reopened ? QStringLiteral("the module confirmed the stop (2 = 0) on the "
                                              "port opened again for it")
                             : QStringLiteral("the module confirmed the stop (2 = 0)");
    return QStringLiteral("stopping the motor (2 = 0) failed after %1 tries: %2; the motor may "
                          "still move")
        .arg(stop.attempts)
        .arg(stop.error);
}

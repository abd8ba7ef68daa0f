#include "config/MotorAccess.h"

#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "config/MotionGuard.h"
#include "config/ParameterNumbers.h"

#include <QElapsedTimer>

#include <algorithm>

namespace {

using Handler = SerialUSBCommandHandler;

QString failure(const Handler::Outcome& outcome, const QString& what)
{
    QString why = Handler::failureText(outcome.failure);
    if (outcome.failure == Handler::Failure::Refused && outcome.reply)
        why += QStringLiteral(" (status %1)").arg(outcome.reply->status());
    return QStringLiteral("%1: %2").arg(what, why);
}

class HandlerAccess : public MotorAccess
{
public:
    HandlerAccess(Handler& handler, LinkController* link, std::function<bool()> cancelled)
        : m_handler(handler), m_link(link), m_cancelled(std::move(cancelled))
    {
        m_clock.start();
    }
    // A guard still holding motion stops it as it goes.
    ~HandlerAccess() override = default;

    bool read(int type, qint32* value, double* seconds, QString* why) override
    {
        const double sent = now();
        const Handler::Outcome outcome =
            m_handler.exchange(vokt::GetAxisParameter, vokt::ParameterNumber(type), 0, 0);
        // The module takes the value about half the quickest exchange after the request
        // goes out: a reply that was read late (the process not woken at once) would
        // otherwise move the reading's time.
        const double took = now() - sent;
        m_exchangeSeconds = m_exchangeSeconds > 0 ? std::min(m_exchangeSeconds, took) : took;
        *seconds = sent + m_exchangeSeconds / 2;
        if (!outcome.ok()) {
            *why = failure(outcome, QStringLiteral("reading parameter %1").arg(type));
            return false;
        }
        *value = outcome.reply->value();
        return true;
    }
    // Each run of motion between two stops has a guard of its own.
    bool move(int type, qint32 value, double* seconds, QString* why) override
    {
        if (!m_guard)
            m_guard = std::make_unique<MotionGuard>(m_handler, m_link, m_cancelled);
        // The guard may look at the line before it writes: the write is the end of it, half
        // an exchange before the answer.
        const bool moved =
            m_guard->move(vokt::SetAxisParameter, vokt::ParameterNumber(type), value, why);
        *seconds = now() - m_exchangeSeconds / 2;
        return moved;
    }
    bool write(int type, qint32 value, QString* why) override
    {
        const Handler::Outcome outcome =
            m_handler.exchange(vokt::SetAxisParameter, vokt::ParameterNumber(type), 0, value);
        if (outcome.ok())
            return true;
        *why = failure(outcome, QStringLiteral("writing %1 to parameter %2").arg(value).arg(type));
        return false;
    }
    bool stop(QString* why) override
    {
        const MotionGuard::Stop stop =
            m_guard ? m_guard->stop() : MotionGuard::stopMotor(m_handler, m_link);
        m_guard.reset();
        if (!stop.confirmed)
            *why = MotionGuard::describe(stop);
        return stop.confirmed;
    }
    bool cancelled() const override { return m_cancelled && m_cancelled(); }
    double now() const override { return m_clock.nsecsElapsed() / 1e9; }

private:
    Handler& m_handler;
    LinkController* m_link;
    std::function<bool()> m_cancelled;
    QElapsedTimer m_clock;
    std::unique_ptr<MotionGuard> m_guard;
    // The quickest exchange so far, s.
    double m_exchangeSeconds = 0;
};

} // namespace

std::unique_ptr<MotorAccess> handlerAccess(SerialUSBCommandHandler& handler, LinkController* link,
                                           std::function<bool()> cancelled)
{
    return std::make_unique<HandlerAccess>(handler, link, std::move(cancelled));
}

#pragma once

#include "comm/Protocol.h"

#include <QString>

#include <functional>
#include <optional>

class LinkController;
class SerialUSBCommandHandler;

// The stop of the tool's own motion. Every operation that moves the motor as a means to an
// end (a step, identification, tuning, a sweep) writes its motion through a guard, which
// stops the motor on every way out: when the operation ends, fails, is cancelled or
// interrupted, throws, or its link was closed by a time-out or lost meanwhile.
//
//     MotionGuard guard(handler, &link, [] { return StopSignals::requested(); });
//     if (!guard.move(vokt::SetAxisParameter, TargetVelocity, 1000, &why))
//         return fail(why);            // nothing moved, or the stop follows
//     ... reads ...
//     const MotionGuard::Stop& stop = guard.stop();   // or leave it to the destructor
//
// Before the first motion write the guard checks that the line is clean: exactly one module
// answers at the address. Reads made since the guard was made (a second module's answer to
// them arrives as bytes that answered no request) and the line's quiet after them tell.
class MotionGuard
{
public:
    // Tries of a stop before it counts as failed.
    static constexpr int StopTries = 3;

    // What became of a stop.
    struct Stop
    {
        // The module answered target velocity 0 with status 100 on a clean line.
        bool confirmed = false;
        int attempts = 0;
        // The link was closed (a time-out, a lost port) and was opened again for the stop.
        bool reopened = false;
        // Why the stop was not confirmed (empty when it was).
        QString error;
    };

    // link may be null: a link closed meanwhile is then not opened again for the stop.
    // cancelled is asked before every motion write.
    MotionGuard(SerialUSBCommandHandler& handler, LinkController* link,
                std::function<bool()> cancelled = {});
    // Stops the motor when anything was moved and not stopped yet.
    ~MotionGuard();
    MotionGuard(const MotionGuard&) = delete;
    MotionGuard& operator=(const MotionGuard&) = delete;

    // Writes one request that starts or changes motion (target velocity, torque target, a
    // move), unless cancelled or, before the first, the line is not clean. false with *why
    // when nothing was written or it was not answered with status 100; whatever was written
    // is stopped on the way out.
    bool move(quint8 command, vokt::ParameterNumber type, qint32 value, QString* why);
    // Whether the caller asked to cancel (asked anew each time).
    bool cancelled() const;
    // Whether a motion request was written.
    bool moved() const { return m_moved; }
    // Writes target velocity 0 now (see stopMotor). The first stop's result is kept; later
    // calls return it.
    const Stop& stop();
    // The result of the stop, if one was made.
    const std::optional<Stop>& stopResult() const { return m_stop; }

    // The one stop, the window's Stop motor's too: writes target velocity 0, up to StopTries
    // times on a drained line, until the module confirms it. When the link is closed (a
    // time-out, a lost port), the same port is opened again with the same settings for the
    // stop alone and closed after it: the link shown as down stays down.
    static Stop stopMotor(SerialUSBCommandHandler& handler, LinkController* link);
    // "the module confirmed the stop (2 = 0)", or why it did not, for messages.
    static QString describe(const Stop& stop);

private:
    SerialUSBCommandHandler& m_handler;
    LinkController* m_link;
    std::function<bool()> m_cancelled;
    // Bytes that answered no request before the guard was made.
    quint64 m_unansweredBefore;
    bool m_moved = false;
    std::optional<Stop> m_stop;
};

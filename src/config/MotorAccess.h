#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>

class LinkController;
class SerialUSBCommandHandler;

// What identification and tuning need of a module: reads with the time each value was
// taken, writes that move the motor (through the motion guard, the stop on every way out),
// writes of settings (gains, the ramp switch) and the question whether the user cancelled.
// The module's own line is one (handlerAccess()); tests hand in a simulated module on a
// clock they step.
class MotorAccess
{
public:
    virtual ~MotorAccess() = default;

    // Reads an axis parameter of motor 0; *seconds is when the module took it (a monotonic
    // time, only differences count). false with *why.
    virtual bool read(int type, qint32* value, double* seconds, QString* why) = 0;
    // Writes a motion target (155, 2); *seconds is when the module took it (on the clock of
    // read()). Nothing is written once cancelled. false with *why when it was not written or
    // not answered with status 100.
    virtual bool move(int type, qint32 value, double* seconds, QString* why) = 0;
    // Writes a setting; false with *why.
    virtual bool write(int type, qint32 value, QString* why) = 0;
    // Writes target velocity 0: the motion so far ends (a later move starts a new one).
    // false with *why, a whole sentence that ends in "the motor may still move", when the
    // module did not confirm it.
    virtual bool stop(QString* why) = 0;
    virtual bool cancelled() const = 0;
    // Seconds on the clock of read().
    virtual double now() const = 0;
};

// The module behind the handler: reads and writes through exchange(), every motion write
// and the stop through the motion guard. cancelled is asked before every motion write.
std::unique_ptr<MotorAccess> handlerAccess(SerialUSBCommandHandler& handler, LinkController* link,
                                           std::function<bool()> cancelled = {});

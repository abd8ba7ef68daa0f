#pragma once

#include <QString>

#include <vector>

class MotorAccess;

// The motor, measured from the host in torque mode: how fast a mA of current accelerates
// it, and the load it works against (Coulomb friction and a viscous load growing with the
// velocity). Beyond a few rpm the motor follows
//
//     dv/dt = accel · (i − friction − viscous · v)
//
// The run drives the motor with torque targets (155) back and forth between a third and
// nine tenths of the velocity limit, reading the actual velocity (3) and current (150) as
// fast as the line allows, and fits the equation to what it read. It writes nothing but
// torque targets and, at the end, the stop (target velocity 0), on every way out.
namespace MotorIdentification {

struct Limits
{
    // rpm and mA; 0: half the module's max. velocity (4) and max. current (6).
    int maxVelocity = 0;
    int maxCurrent = 0;
};

struct Motor
{
    double accel = 0;    // rpm/s per mA
    double friction = 0; // mA
    double viscous = 0;  // mA per rpm
};

// One reading: its time since the run began, the velocity or current.
struct Reading
{
    double seconds = 0;
    double value = 0;
};

struct Result
{
    bool ok = false;
    bool cancelled = false;
    // The stop was written and confirmed.
    bool stopped = false;
    QString error;
    Motor motor;
    double durationSeconds = 0;
    // The limits it kept to, rpm and mA.
    int maxVelocity = 0;
    int maxCurrent = 0;
    std::vector<Reading> velocity;
    std::vector<Reading> current;
};

// Measures the motor; the motor is stopped at the end whatever happens.
Result run(MotorAccess& access, const Limits& limits);

// The fit alone, on readings of a run: accel, friction and viscous from the windows of the
// readings above minVelocity. false when the readings do not determine them.
bool fit(const std::vector<Reading>& velocity, const std::vector<Reading>& current,
         double minVelocity, Motor* motor);

} // namespace MotorIdentification

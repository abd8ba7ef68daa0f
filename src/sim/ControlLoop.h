#pragma once

#include "config/ParameterNumbers.h"

#include <array>
#include <cstdint>

// One PID loop of the simulated module's drive (current, velocity or position), as the
// module runs it: the gains of set 1 below the loop's threshold speed and of set 2 from it
// on, the integral bounded by the I-clipping, the output by the bound of what it drives.
// Plain C++, like the motor model that runs it.
namespace ControlLoop {

// What one unit of a parameter is worth in the loop's own units: the output per unit of
// error (P), per unit of error and second (I), per unit of change of the error from one
// cycle to the next (D), and the bound of the integral's share per unit of I-clipping.
struct Scaling
{
    double p;
    double i;
    double d;
    double clipping;
};

// The gains in force, already scaled.
struct Gains
{
    double p = 0;
    double i = 0;
    double d = 0;
    double clipping = 0;
};

// What a loop carries from one cycle to the next.
struct State
{
    // The integral's share of the output, in the output's unit.
    double integral = 0;
    double lastError = 0;
};

// The gains of the set in force at this speed (rpm, either sign): set 2 from the threshold
// speed on, set 1 below it.
Gains gains(const std::array<std::int32_t, 256>& values, ParameterCatalogue::Loop loop,
            double speed, const Scaling& scaling);

// One cycle of dt seconds: the output for this error, offset + P + I + D, within
// ±limit. The integral grows by I · error · dt within ±clipping, and holds while the output
// is at its bound and the error would drive it further (no wind-up against the bound).
double update(State& state, const Gains& gains, double error, double dt, double offset,
              double limit);

} // namespace ControlLoop

#pragma once

#include "sim/ControlLoop.h"

#include <chrono>
#include <cstdint>

// The constants of the simulated motor and its drive (see MotorModel and
// docs/simulator.md, which derives the figures from them).
namespace MotorConstants {

// The drive runs its velocity and position loops, and the motor model, in steps of a
// millisecond; the current loop ten times a step.
constexpr double StepSeconds = 0.001;
constexpr std::int64_t StepNanoseconds = 1000000;
constexpr int CurrentCycles = 10;
constexpr double CurrentCycleSeconds = StepSeconds / CurrentCycles;

// The motor and its load. Torque current accelerates the rotor; friction and a viscous
// load brake it. At full PWM the standing motor draws the stall current and the free
// running one reaches the no-load velocity.
constexpr double AccelerationPerMilliampere = 15.0; // rpm/s for every mA of torque current
constexpr double FrictionCurrent = 50.0;            // mA
constexpr double FrictionBand = 10.0;               // rpm over which friction builds up
constexpr double ViscousCurrent = 0.25;             // mA per rpm
constexpr double StallCurrent = 10000.0;            // mA
constexpr double NoLoadVelocity = 5000.0;           // rpm
constexpr double PwmFull = 1000.0;

// The winding as the current loop sees it (the drive adds the back-EMF to its output
// itself): a resistance and an inductance with a time constant of a millisecond, across
// which one thousandth of the supply drives 10 mA (24 V over 2.4 ohm: 10 A at full duty).
constexpr double CoilTimeConstant = 0.001; // s
constexpr double MilliamperePerDuty = 10.0;

// The loops see the velocity through a filter of 10 ms (the encoder's counts, smoothed).
constexpr double MeasurementTimeConstant = 0.01; // s

// What the PID parameters are worth (ControlLoop::Scaling): output per unit of P, I, D
// and I-clipping. Current loop: error in mA, output in 1/1000 of the supply, ten cycles a
// step. Velocity loop: error in rpm, output in mA. Position loop: error in steps, output
// in rpm (added to the profile's own velocity).
constexpr ControlLoop::Scaling CurrentScaling{1.0 / 2048, 2.5, 1.0 / 2048, 0.01};
constexpr ControlLoop::Scaling VelocityScaling{1.0 / 1024, 1.0 / 16, 1.0 / 1024, 0.01};
constexpr ControlLoop::Scaling PositionScaling{1.0 / 256, 1.0 / 256, 1.0 / 256, 0.01};

// The drive gives up to twice the max. current (6) for a short while: the time integral of
// I² - max² may reach max² · I2tSeconds, then the limit drops to the max. current itself
// until the integral has run down to zero again.
constexpr double PeakFactor = 2.0;
constexpr double I2tSeconds = 2.0;

// A ramp that is switched off (146 = 0) accelerates as fast as this.
constexpr double UnlimitedAcceleration = 1e9; // rpm/s

constexpr std::chrono::milliseconds InitialisationTime{500};

} // namespace MotorConstants

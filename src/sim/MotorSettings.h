#pragma once

#include "sim/MotorConstants.h"

// The motor a simulated module drives, and how its firmware scales the gains of its
// velocity and position loops: chosen by whoever starts the module (ziro-bldc-sim --motor,
// --gain-scale; tests), so that identification and tuning can be checked against a truth
// the tool does not know. Plain C++, like the motor model.
struct MotorSettings
{
    // rpm/s for every mA of torque current (the inverse of the inertia seen through the
    // torque constant).
    double acceleration = MotorConstants::AccelerationPerMilliampere;
    // Coulomb friction, mA (building up over ±MotorConstants::FrictionBand rpm).
    double friction = MotorConstants::FrictionCurrent;
    // Viscous load, mA per rpm.
    double viscous = MotorConstants::ViscousCurrent;
    // Multiplies the P, I and D of the velocity and position loops.
    double gainScale = 1.0;

    // The ranges a module may be given (the explicit model stays stable and the loops
    // within their figures throughout).
    static constexpr double MinAcceleration = 4.0;
    static constexpr double MaxAcceleration = 40.0;
    static constexpr double MinFriction = 20.0;
    static constexpr double MaxFriction = 150.0;
    static constexpr double MinViscous = 0.05;
    static constexpr double MaxViscous = 0.8;
    static constexpr double MinGainScale = 0.25;
    static constexpr double MaxGainScale = 4.0;
};

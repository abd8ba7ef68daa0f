#pragma once

#include "config/MotorIdentification.h"
#include "config/StepMetrics.h"
#include "config/VelocityLoopModel.h"

#include <QString>
#include <QtGlobal>

#include <optional>

class MotorAccess;

// Velocity-loop gains for this motor on this module, found from the host. The module's
// gains are integers whose worth the firmware decides; the run measures it:
//
//  1. identifies the motor (MotorIdentification);
//  2. with the ramp off (146 = 0) and P alone in the loop, holds a velocity: the current
//     that holds it over the error left is the worth of P; then with I added, the current
//     the integral builds over the error's integral is the worth of I;
//  3. steps the loop with gains placed on the model, and fits the lag of the module's
//     velocity measurement to that step;
//  4. places the gains on the model with the measured lag, for the goal.
//
// The gains (140, 141, 234, 235) and the ramp switch are put back as they were on every way
// out, after the stop; with apply, P and I go to the chosen set(s) and a verifying step is
// measured. Every motion write goes through the access (and so through the motion guard).
namespace VelocityTuning {

struct Request
{
    // The closed-loop −3 dB bandwidth wanted, Hz; none: the fastest settling.
    std::optional<double> bandwidthHz;
    // 1 or 2; 0: both sets.
    int set = 0;
    bool apply = false;
    MotorIdentification::Limits limits;
    // The step the goal is about, rpm.
    int step = 300;
};

struct Result
{
    bool ok = false;
    bool cancelled = false;
    QString error;
    // The gains and the ramp switch are as they were (or, applied, as the request says).
    bool restored = false;
    MotorIdentification::Motor motor;
    // What a unit of P and of I is worth: mA per rpm, mA per rpm and second.
    double pWorth = 0;
    double iWorth = 0;
    double lagSeconds = 0;
    qint32 p = 0;
    qint32 i = 0;
    VelocityLoopModel::Prediction predicted;
    // The gains the module had, on the same model.
    qint32 formerP = 0;
    qint32 formerI = 0;
    VelocityLoopModel::Prediction formerPredicted;
    // With apply: the verifying step.
    std::optional<StepMetrics::Metrics> measured;
    double durationSeconds = 0;
};

Result run(MotorAccess& access, const Request& request);

} // namespace VelocityTuning

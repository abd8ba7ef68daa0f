#pragma once

#include "config/StepMetrics.h"

#include <optional>
#include <vector>

// The velocity loop as the tuning sees it: the identified motor, a PI loop on the velocity
// the module measures through a lag, and the gains in the loop's own units (mA per rpm of
// error, and mA per rpm of error and second). Plain arithmetic, no Qt: it predicts the step
// response of gains and finds the gains for a goal.
namespace VelocityLoopModel {

struct Plant
{
    double accel = 0;    // rpm/s per mA
    double friction = 0; // mA
    double viscous = 0;  // mA per rpm
    // The lag of the module's velocity measurement, s (a first-order filter).
    double lagSeconds = 0;
};

struct Gains
{
    double kp = 0; // mA per rpm
    double ki = 0; // mA per rpm and second
};

struct Prediction
{
    StepMetrics::Metrics step;
    // The closed loop's −3 dB bandwidth, Hz; none when it has none (or no gain).
    std::optional<double> bandwidthHz;
    // The loop's output went beyond the current limit: the step leaves the linear range.
    bool saturated = false;
};

// The response to a step from rest to `step` rpm, sampled every millisecond over windowMs.
Prediction predict(const Plant& plant, const Gains& gains, double step, double currentLimit,
                   int windowMs, std::vector<StepMetrics::Sample>* samples = nullptr);

// The −3 dB bandwidth of the closed loop, linearised (friction left out).
std::optional<double> bandwidthHz(const Plant& plant, const Gains& gains);

struct Goal
{
    // Without: the fastest settling (±2 %). With: this bandwidth, as fast as it settles.
    std::optional<double> bandwidthHz;
    double maxOvershootPercent = 10;
    double step = 300;
    double currentLimit = 0;
    // The gains searched, mA per rpm: 0 < kp <= maxKp.
    double maxKp = 0;
};

// The gains that meet the goal best; false, with *why, when none does (for a bandwidth, the
// highest any gains within the overshoot and the current limit reach, in *reachableHz).
bool place(const Plant& plant, const Goal& goal, Gains* gains, Prediction* prediction,
           const char** why, double* reachableHz = nullptr);

// The lag (s, 0 to 0.05) with which the model's step with these gains is closest to the
// measured one (velocity samples after a step from rest to `step`).
double fitLag(Plant plant, const Gains& gains, double step,
              const std::vector<StepMetrics::Sample>& measured);

} // namespace VelocityLoopModel

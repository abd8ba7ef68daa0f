#pragma once

#include <optional>
#include <vector>

// The figures of a step response: how a loop answers a step of its target, measured from
// sampled actual values. No Qt: plain arithmetic on the samples.
namespace StepMetrics {

// One sample: the time since the step in milliseconds and the value read then.
struct Sample
{
    double timeMs = 0;
    double value = 0;
};

struct Metrics
{
    // From 10 % to 90 % of the step; none when the response never reaches 90 %.
    std::optional<double> riseTimeMs;
    // The peak beyond the target in % of the step; 0 when it never goes beyond.
    double overshootPercent = 0;
    // From the step until the response stays within ±2 % of the step around the target
    // for the rest of the window; none when it is outside at the window's end.
    std::optional<double> settlingTimeMs;
    // The mean over the last 10 % of the window minus the target.
    double steadyStateError = 0;
    int samples = 0;
    // Samples a second over the time they span.
    double sampleRateHz = 0;
};

// The band around the target within which the response counts as settled, in % of the
// step.
constexpr double SettlingBandPercent = 2.0;

// The figures of a step from start to target, sampled over a window of windowMs (the
// samples in time order). A step of zero height has no rise, overshoot or settling: those
// stay none and 0.
Metrics measure(const std::vector<Sample>& samples, double start, double target, double windowMs);

} // namespace StepMetrics

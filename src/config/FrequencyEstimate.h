#pragma once

#include <vector>

// Gain and phase of a loop at one frequency, from what went over the line: the targets as
// they were written, each held by the module from the moment its exchange was on the wire
// until the next (a staircase, not a sine), and the actual values read back at the moments
// of their own exchanges, irregularly spaced. Plain C++; times in ms, on one clock.
namespace FrequencyEstimate {

struct Sample
{
    double timeMs = 0;
    double value = 0;
};

struct Estimate
{
    // false when the window holds too little to fit a sine (or the target did not move).
    bool ok = false;
    double gain = 0;     // actual amplitude over target amplitude
    double gainDb = 0;   // 20 log10(gain)
    double phaseDeg = 0; // of actual against target, in (-180, 180]
    int readings = 0;    // readings within the window
};

struct Window
{
    double frequencyHz = 0;
    // Over whole periods, so that a constant offset does not leak into the fit.
    double startMs = 0;
    double endMs = 0;
    // A reading shows the actual value as of the module's last control cycle, so it is on
    // average half a cycle old (0: readings are taken as current).
    double readingHoldMs = 0;
};

// targets: in time order, each the value held from its time on; the first one written at
// or before the window's start. readings: in any order; those outside the window are left
// out. The target's component at the frequency is that of the staircase itself (its exact
// integral), the actual value's a least-squares fit of offset, drift and sine.
Estimate estimate(const std::vector<Sample>& targets, const std::vector<Sample>& readings,
                  const Window& window);

} // namespace FrequencyEstimate

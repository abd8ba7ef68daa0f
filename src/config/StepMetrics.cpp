#include "config/StepMetrics.h"

#include <algorithm>
#include <cmath>

namespace StepMetrics {

Metrics measure(const std::vector<Sample>& samples, double start, double target, double windowMs)
{
    Metrics metrics;
    metrics.samples = static_cast<int>(samples.size());
    if (samples.empty())
        return metrics;
    const double span = samples.back().timeMs - samples.front().timeMs;
    if (samples.size() > 1 && span > 0)
        metrics.sampleRateHz = (static_cast<double>(samples.size()) - 1.0) * 1000.0 / span;

    // The steady state: the last tenth of the window (at least the last sample).
    const double tailFrom = windowMs * 0.9;
    double sum = 0;
    int count = 0;
    for (const Sample& sample : samples) {
        if (sample.timeMs >= tailFrom) {
            sum += sample.value;
            ++count;
        }
    }
    if (count == 0) {
        sum = samples.back().value;
        count = 1;
    }
    metrics.steadyStateError = sum / count - target;

    const double step = target - start;
    if (step == 0)
        return metrics;
    // Progress along the step: 0 at the start, 1 on the target, whichever its direction.
    const auto progress = [&](const Sample& sample) { return (sample.value - start) / step; };

    std::optional<double> at10;
    double peak = 0;
    for (const Sample& sample : samples) {
        const double p = progress(sample);
        peak = std::max(peak, p);
        if (!at10 && p >= 0.1)
            at10 = sample.timeMs;
        if (at10 && !metrics.riseTimeMs && p >= 0.9)
            metrics.riseTimeMs = sample.timeMs - *at10;
    }
    metrics.overshootPercent = std::max(0.0, (peak - 1.0) * 100.0);

    // Settled from the first sample after the last one outside the band; from the step
    // itself when none was ever outside.
    // Compared without a division: a sample exactly on the band's edge (1020 for a step of
    // 1000) is inside it, as the integers say, not outside by a rounding of 1020/1000.
    auto outside = std::find_if(samples.rbegin(), samples.rend(), [&](const Sample& sample) {
        return std::abs(sample.value - target) * 100.0 > SettlingBandPercent * std::abs(step);
    });
    if (outside == samples.rend())
        metrics.settlingTimeMs = 0.0;
    else if (outside != samples.rbegin())
        metrics.settlingTimeMs = std::prev(outside)->timeMs;
    return metrics;
}

} // namespace StepMetrics

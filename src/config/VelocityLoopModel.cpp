#include "config/VelocityLoopModel.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace VelocityLoopModel {

namespace {

// The loop runs, and the model steps, every millisecond.
constexpr double StepSeconds = 0.001;
// Friction builds up over at least this velocity, rpm (a motor at rest is held by it).
constexpr double FrictionBand = 2.0;
// The settling the search allows for, ms: a design that has not settled by then is out.
constexpr int SearchWindowMs = 1500;
// The overshoot the search keeps below the goal's, %: the module's response differs from
// the model's by a little.
constexpr double OvershootMargin = 1.5;
// A bandwidth counts as met within this share.
constexpr double BandwidthShare = 0.04;

// The search settles into a band of half the goal's (±1 %): a design that only just
// settles into ±2 % in the model may creep along outside it on the module.
constexpr double SearchBandShare = 0.01;

struct Candidate
{
    Gains gains;
    Prediction prediction;
    double settlingMs = 0;
    bool valid = false;
};

// From the step until the samples stay within ±share of the step around it; none when the
// last one is outside.
std::optional<double> settledWithin(const std::vector<StepMetrics::Sample>& samples, double step,
                                    double share)
{
    for (size_t k = samples.size(); k-- > 0;)
        if (std::abs(samples[k].value / step - 1) > share)
            return k + 1 < samples.size() ? std::optional<double>(samples[k + 1].timeMs)
                                          : std::nullopt;
    return 0.0;
}

} // namespace

Prediction predict(const Plant& plant, const Gains& gains, double step, double currentLimit,
                   int windowMs, std::vector<StepMetrics::Sample>* samples)
{
    std::vector<StepMetrics::Sample> taken;
    taken.reserve(size_t(windowMs) + 1);
    taken.push_back({0, 0});
    const double lag = plant.lagSeconds > 0 ? 1 - std::exp(-StepSeconds / plant.lagSeconds) : 1.0;
    // Friction builds up over a band wide enough for the steps to stay stable in it.
    const double band = std::max(FrictionBand, 2 * plant.accel * plant.friction * StepSeconds);
    double v = 0;
    double m = 0;
    double integral = 0;
    Prediction prediction;
    for (int ms = 1; ms <= windowMs; ++ms) {
        const double e = step - m;
        integral += gains.ki * e * StepSeconds;
        double out = gains.kp * e + integral;
        if (std::abs(out) > currentLimit) {
            prediction.saturated = true;
            out = std::clamp(out, -currentLimit, currentLimit);
        }
        const double load = plant.friction * std::clamp(v / band, -1.0, 1.0) + plant.viscous * v;
        v += plant.accel * (out - load) * StepSeconds;
        m += (v - m) * lag;
        taken.push_back({double(ms), v});
    }
    prediction.step = StepMetrics::measure(taken, 0, step, windowMs);
    prediction.bandwidthHz = bandwidthHz(plant, gains);
    if (samples)
        *samples = std::move(taken);
    return prediction;
}

std::optional<double> bandwidthHz(const Plant& plant, const Gains& gains)
{
    if (gains.kp <= 0 && gains.ki <= 0)
        return std::nullopt;
    // T = C P / (1 + C P H): C = kp + ki/s, P = accel / (s + accel · viscous), H the lag.
    const auto closed = [&](double omega) {
        const std::complex<double> s(0, omega);
        const std::complex<double> c = gains.kp + gains.ki / s;
        const std::complex<double> p = plant.accel / (s + plant.accel * plant.viscous);
        const std::complex<double> h = 1.0 / (plant.lagSeconds * s + 1.0);
        return std::abs(c * p / (1.0 + c * p * h));
    };
    const double low = closed(1e-3);
    for (double omega = 0.01; omega < 1e5; omega *= 1.005)
        if (closed(omega) < low / std::sqrt(2.0))
            return omega / (2 * M_PI);
    return std::nullopt;
}

bool place(const Plant& plant, const Goal& goal, Gains* gains, Prediction* prediction,
           const char** why, double* reachableHz)
{
    double reachable = 0;
    const double overshootLimit = goal.maxOvershootPercent - OvershootMargin;
    const auto evaluate = [&](const Gains& g) {
        Candidate c;
        c.gains = g;
        std::vector<StepMetrics::Sample> samples;
        c.prediction = predict(plant, g, goal.step, goal.currentLimit, SearchWindowMs, &samples);
        const StepMetrics::Metrics& m = c.prediction.step;
        const std::optional<double> settled = settledWithin(samples, goal.step, SearchBandShare);
        c.settlingMs = settled.value_or(SearchWindowMs);
        c.valid = !c.prediction.saturated && settled && *settled < SearchWindowMs * 0.8 &&
                  m.overshootPercent <= overshootLimit;
        if (c.valid && c.prediction.bandwidthHz)
            reachable = std::max(reachable, *c.prediction.bandwidthHz);
        if (c.valid && goal.bandwidthHz)
            c.valid = c.prediction.bandwidthHz &&
                      std::abs(*c.prediction.bandwidthHz / *goal.bandwidthHz - 1) <= BandwidthShare;
        return c;
    };
    const auto better = [](const Candidate& a, const Candidate& b) {
        if (a.valid != b.valid)
            return a.valid;
        if (!a.valid)
            return false;
        return a.settlingMs < b.settlingMs;
    };

    // A coarse grid over the proportional gain and the integral's corner (ki / kp), then
    // two finer ones around the best.
    Candidate best;
    const int n = 28;
    for (int a = 0; a < n; ++a) {
        const double kp = goal.maxKp * std::pow(1e-3, double(a) / (n - 1));
        for (int b = 0; b < n; ++b) {
            const double corner = 0.3 * std::pow(3000.0, double(b) / (n - 1));
            const Candidate c = evaluate({kp, kp * corner});
            if (better(c, best))
                best = c;
        }
    }
    if (reachableHz)
        *reachableHz = reachable;
    if (!best.valid) {
        *why = goal.bandwidthHz ? "no gains reach that bandwidth with the overshoot allowed "
                                  "within the current limit"
                                : "no gains settle the step with the overshoot allowed within "
                                  "the current limit";
        return false;
    }
    for (double factor : {1.3, 1.08}) {
        const Candidate centre = best;
        const double corner = centre.gains.ki / centre.gains.kp;
        for (int a = -4; a <= 4; ++a) {
            for (int b = -4; b <= 4; ++b) {
                const double kp = std::min(goal.maxKp, centre.gains.kp * std::pow(factor, a));
                const Candidate c = evaluate({kp, kp * corner * std::pow(factor, b)});
                if (better(c, best))
                    best = c;
            }
        }
    }
    *gains = best.gains;
    *prediction = best.prediction;
    return true;
}

double fitLag(Plant plant, const Gains& gains, double step,
              const std::vector<StepMetrics::Sample>& measured)
{
    if (measured.empty())
        return 0;
    const int windowMs = int(std::ceil(measured.back().timeMs)) + 1;
    double bestLag = 0;
    double bestError = -1;
    for (double lag = 0; lag <= 0.05 + 1e-9; lag += 0.0005) {
        plant.lagSeconds = lag;
        std::vector<StepMetrics::Sample> model;
        predict(plant, gains, step, 1e12, windowMs, &model);
        double error = 0;
        for (const StepMetrics::Sample& sample : measured) {
            if (sample.timeMs < 0)
                continue;
            const size_t k = std::min(model.size() - 2, size_t(sample.timeMs));
            const double f = sample.timeMs - double(k);
            const double value = model[k].value + (model[k + 1].value - model[k].value) * f;
            error += (value - sample.value) * (value - sample.value);
        }
        if (bestError < 0 || error < bestError) {
            bestError = error;
            bestLag = lag;
        }
    }
    return bestLag;
}

} // namespace VelocityLoopModel

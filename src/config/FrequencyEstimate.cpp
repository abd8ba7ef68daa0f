#include "config/FrequencyEstimate.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>

namespace FrequencyEstimate {

namespace {

using Complex = std::complex<double>;
constexpr double Pi = 3.14159265358979323846;
// Offset, drift, cosine and sine.
constexpr int Terms = 4;
using Row = std::array<double, Terms>;

// The staircase's component at the frequency, as x(t) ≈ Re(U e^(jωt)) over the window.
bool staircasePhasor(const std::vector<Sample>& targets, const Window& window, double omega,
                     Complex* phasor)
{
    if (targets.empty() || targets.front().timeMs > window.startMs)
        return false;
    const double t0 = window.startMs / 1000;
    const double t1 = window.endMs / 1000;
    const auto integral = [omega](double a, double b) {
        // ∫ e^(-jωt) dt from a to b
        return (std::polar(1.0, -omega * a) - std::polar(1.0, -omega * b)) / Complex(0, omega);
    };
    Complex sum;
    for (size_t i = 0; i < targets.size(); ++i) {
        const double from = std::max(t0, targets[i].timeMs / 1000);
        const double to = std::min(t1, i + 1 < targets.size() ? targets[i + 1].timeMs / 1000 : t1);
        if (to > from)
            sum += targets[i].value * integral(from, to);
    }
    *phasor = sum * (2 / (t1 - t0));
    return true;
}

// Solves the normal equations in place (Gaussian elimination with partial pivoting).
bool solve(std::array<Row, Terms>& a, Row& b)
{
    for (int col = 0; col < Terms; ++col) {
        int pivot = col;
        for (int row = col + 1; row < Terms; ++row)
            if (std::abs(a[row][col]) > std::abs(a[pivot][col]))
                pivot = row;
        if (std::abs(a[pivot][col]) < 1e-12)
            return false;
        std::swap(a[col], a[pivot]);
        std::swap(b[col], b[pivot]);
        for (int row = col + 1; row < Terms; ++row) {
            const double factor = a[row][col] / a[col][col];
            for (int k = col; k < Terms; ++k)
                a[row][k] -= factor * a[col][k];
            b[row] -= factor * b[col];
        }
    }
    for (int col = Terms - 1; col >= 0; --col) {
        for (int k = col + 1; k < Terms; ++k)
            b[col] -= a[col][k] * b[k];
        b[col] /= a[col][col];
    }
    return true;
}

// The readings' component at the frequency, as y(t) ≈ Re(Y e^(jωt)) plus offset and drift.
bool fittedPhasor(const std::vector<Sample>& readings, const Window& window, double omega,
                  Complex* phasor, int* count)
{
    const double t0 = window.startMs / 1000;
    const double t1 = window.endMs / 1000;
    std::array<Row, Terms> normal{};
    Row right{};
    *count = 0;
    for (const Sample& sample : readings) {
        const double t = sample.timeMs / 1000;
        if (t < t0 || t > t1)
            continue;
        const Row row{1.0, (t - t0) / (t1 - t0) - 0.5, std::cos(omega * t), std::sin(omega * t)};
        for (int i = 0; i < Terms; ++i) {
            for (int k = 0; k < Terms; ++k)
                normal[i][k] += row[i] * row[k];
            right[i] += row[i] * sample.value;
        }
        ++*count;
    }
    // Fewer than a few readings a period say nothing about the sine.
    if (*count < 2 * Terms || !solve(normal, right))
        return false;
    *phasor = Complex(right[2], -right[3]);
    return true;
}

} // namespace

Estimate estimate(const std::vector<Sample>& targets, const std::vector<Sample>& readings,
                  const Window& window)
{
    Estimate result;
    if (!(window.frequencyHz > 0) || !(window.endMs > window.startMs))
        return result;
    const double omega = 2 * Pi * window.frequencyHz;
    Complex input;
    Complex output;
    if (!staircasePhasor(targets, window, omega, &input) ||
        !fittedPhasor(readings, window, omega, &output, &result.readings) || std::abs(input) < 1e-9)
        return result;
    // A value held over a cycle is, at the frequency, the sine half a cycle earlier and
    // attenuated by sinc(ωh/2).
    const double half = omega * window.readingHoldMs / 1000 / 2;
    if (half > 0)
        output *= std::polar(half / std::sin(half), half);
    const Complex response = output / input;
    result.gain = std::abs(response);
    if (!(result.gain > 0))
        return result;
    result.gainDb = 20 * std::log10(result.gain);
    result.phaseDeg = std::arg(response) * 180 / Pi;
    if (result.phaseDeg <= -180)
        result.phaseDeg += 360;
    result.ok = true;
    return result;
}

} // namespace FrequencyEstimate

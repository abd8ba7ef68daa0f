#pragma once

#include "config/FrequencyEstimate.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

class LinkController;
class SerialUSBCommandHandler;

// The velocity loop's frequency response, measured through the line: the motor holds an
// offset velocity, then at each frequency the target velocity (2) follows a sine around it,
// written and read back (3) in turn as fast as the line allows, and gain and phase of the
// actual over the target velocity are estimated from what went over the line
// (FrequencyEstimate). The ramp (146) is switched off for the sweep and back on after it;
// every motion write goes through the motion guard, which writes the stop on every way out.
namespace FrequencyResponse {

struct Request
{
    double fromHz = 1;
    double toHz = 40;
    int points = 12;        // spaced logarithmically from fromHz to toHz
    qint32 amplitude = 100; // rpm
    qint32 offset = 500;    // rpm
};

struct Point
{
    double frequencyHz = 0;
    double gainDb = 0;
    double phaseDeg = 0;
    int readings = 0;
};

struct Result
{
    // Every frequency was measured and the motor was stopped; otherwise error says why
    // (and cancelled whether the caller stopped it).
    bool ok = false;
    bool cancelled = false;
    QString error;
    // Something was moved: whether the stop went through.
    bool moved = false;
    bool stopConfirmed = false;
    // The points measured, in order of frequency, the phase continuous from the lowest.
    std::vector<Point> points;
    std::optional<double> bandwidthHz;
    double peakDb = 0;
    double durationS = 0;
};

// Told after each point is measured: the points so far (in order of frequency), and how many
// of about total are done.
using Progress = std::function<void(const std::vector<Point>& points, int done, int total)>;

// Limits of a request: above this the line cannot write a sine often enough.
constexpr double MaxFrequencyHz = 100;
constexpr int MaxPoints = 100;

// Checks the request before anything is sent: an empty string, or why it cannot run.
QString check(const Request& request);
// The frequencies of the sweep, in Hz, lowest first.
std::vector<double> frequencies(const Request& request);

// Runs the sweep. cancelled is asked before every motion write and between reads; link may
// be null (see MotionGuard).
Result run(SerialUSBCommandHandler& handler, LinkController* link, const Request& request,
           const std::function<bool()>& cancelled = {}, const Progress& progress = {});

// Where the gain first falls through -3 dB (between two points: in log frequency), if it
// does; the highest gain.
std::optional<double> bandwidth(const std::vector<Point>& points);
double peak(const std::vector<Point>& points);

} // namespace FrequencyResponse

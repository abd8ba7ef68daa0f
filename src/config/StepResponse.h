#pragma once

#include "config/ParameterNumbers.h"
#include "config/StepMetrics.h"

#include <QString>

#include <array>
#include <functional>
#include <vector>

class SerialUSBCommandHandler;

// One step on the module, measured: the motor is told a new target, its actual value is
// polled as fast as the line allows for the window, and the motor is stopped again. The
// step is the user's own action; it always ends by writing target velocity 0, on success,
// failure and cancel alike.
namespace StepResponse {

enum class Mode
{
    // Target velocity (2) = target at t = 0; actual velocity (3) polled. In rpm.
    Velocity,
    // A relative move (command 4, type 1) by target steps; actual position (1) polled.
    Position,
};

struct Request
{
    Mode mode = Mode::Velocity;
    qint32 target = 0; // rpm, or the steps of the move
    int durationMs = 2000;
};

struct Result
{
    // The step ran and was measured; otherwise error says why (and cancelled whether the
    // caller stopped it).
    bool ok = false;
    bool cancelled = false;
    // Target velocity 0 was written at the end (false also when the step never started).
    bool stopped = false;
    QString error;
    // Where the step started and where it was to go, in rpm or steps.
    double start = 0;
    double target = 0;
    // Times in ms from the step, taken from a monotonic clock at each reply.
    std::vector<StepMetrics::Sample> samples;
    StepMetrics::Metrics metrics;
};

// Told after each sample; answering false cancels the run (the motor is stopped).
using Progress = std::function<bool(const StepMetrics::Sample&)>;

// The loop whose response a mode measures.
ParameterCatalogue::Loop loopOf(Mode mode);

// Checks the request before anything is sent: an empty string, or why it cannot run.
QString check(const Request& request);

// Runs the step. A velocity target beyond the module's max. velocity (4) is refused before
// the motor moves.
Result run(SerialUSBCommandHandler& handler, const Request& request, const Progress& progress = {});

// The nine PID values of a loop as the module holds them, in pidNumbers() order; false with
// *error when one could not be read.
bool readGains(SerialUSBCommandHandler& handler, ParameterCatalogue::Loop loop,
               std::array<qint32, 9>* values, QString* error);

} // namespace StepResponse

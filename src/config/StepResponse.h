#pragma once

#include "config/ParameterNumbers.h"
#include "config/StepMetrics.h"

#include <QString>

#include <array>
#include <functional>
#include <vector>

class LinkController;
class SerialUSBCommandHandler;

// One step on the module, measured: the motor is told a new target, its actual value is
// polled as fast as the line allows for the window, and the motor is stopped again. The
// step is the user's own action; its motion goes through a MotionGuard, so it always ends
// by writing target velocity 0, on success, failure and cancel alike, and through a link
// closed by a time-out meanwhile.
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
    // The step's target was written (or may have reached the module).
    bool moved = false;
    // The module confirmed target velocity 0 at the end (false also when the step never
    // started).
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

// Asked before every exchange until the step is written, and before it: true cancels the
// run, and nothing that moves the motor is sent.
using Cancelled = std::function<bool()>;

// Runs the step. A velocity target beyond the module's max. velocity (4) is refused before
// the motor moves, and so is a line on which more than one module answers. link, if given,
// is opened again for the stop when a time-out closed it.
Result run(SerialUSBCommandHandler& handler, const Request& request, const Progress& progress = {},
           LinkController* link = nullptr, const Cancelled& cancelled = {});

// The nine PID values of a loop as the module holds them, in pidNumbers() order; false with
// *error when one could not be read.
bool readGains(SerialUSBCommandHandler& handler, ParameterCatalogue::Loop loop,
               std::array<qint32, 9>* values, QString* error);

} // namespace StepResponse

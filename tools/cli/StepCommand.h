#pragma once

#include "cli/Link.h"

#include <QString>

namespace cli {

struct Invocation;

// step velocity TARGET | step position DELTA [--duration MS] [--csv FILE]: one step
// response, measured.
Action prepareStep(const Invocation& invocation, QString* error);

} // namespace cli

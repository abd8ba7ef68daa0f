#pragma once

#include "cli/Link.h"

#include <QString>

namespace cli {

struct Invocation;

// bode velocity [--from HZ] [--to HZ] [--points N] [--amplitude RPM] [--offset RPM]
// [--csv FILE]: the velocity loop's frequency response, measured.
Action prepareBode(const Invocation& invocation, QString* error);

} // namespace cli

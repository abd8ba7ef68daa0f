#pragma once

#include "cli/Link.h"

#include <QString>

namespace cli {

struct Invocation;

// identify [--max-velocity RPM] [--max-current MA]: the motor's acceleration per mA,
// friction and viscous load, measured in torque mode.
Action prepareIdentify(const Invocation& invocation, QString* error);

// tune velocity [--bandwidth HZ] [--set 1|2] [--apply]: velocity-loop gains for this motor
// and module, with their predicted (and, applied, measured) step.
Action prepareTune(const Invocation& invocation, QString* error);

} // namespace cli

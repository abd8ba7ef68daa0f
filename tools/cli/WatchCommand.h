#pragma once

#include "cli/Link.h"

#include <QString>
#include <QStringList>

namespace cli {

struct Invocation;

// watch's cycles follow one another this many milliseconds apart unless --interval says
// otherwise.
constexpr int DefaultIntervalMs = 100;

// watch [--interval MS] [--count N] [--csv FILE]: the window's live values, polled.
Action prepareWatch(const Invocation& invocation, QString* error);

} // namespace cli

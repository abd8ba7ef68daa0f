#pragma once

#include "cli/Link.h"

#include <QString>

namespace cli {

struct Invocation;

// commission GOLDEN_FILE (--addresses A[,B...] | --scan [--from A] [--to B]) [--store]
// [--records DIR] [--keep-going] [--turnaround MS]: brings every module of the line to the
// golden settings, proves it, stores them and keeps a record of each. Prints
// address<TAB>verdict<TAB>changed<TAB>seconds per module, then "commissioned N of M modules
// in S s". The exit status: 0 when every module is ok, 1 otherwise, 2 for bad usage or a
// golden file that is not one (nothing sent).
Action prepareCommission(const Invocation& invocation, QString* error);

} // namespace cli

#pragma once

namespace cli {

struct Invocation;

// scan [--baud N[,N...]] [--from A] [--to B]: finds the modules on the line of --port (or
// the simulated one of --sim) and prints each as address<TAB>baud, each address at which
// more than one module answers as address<TAB>baud<TAB>conflict. It opens the port itself,
// once for each rate. The exit status: 0 when any answered, 1 when none did, 2 for bad
// usage, 3 when the port opened at no rate.
int runScan(const Invocation& invocation);

} // namespace cli

#pragma once

#include <functional>

// The whole-module operations (settings file, command script, store and restore) talk to
// the module one parameter at a time through the handler's exchange(), not through its
// slots, so that they see the reply's status and know when none came. Each is told how far
// it got through a Progress.
namespace ModuleExchange {

// Told after each parameter of a whole-module operation how many of how many are done;
// answering false cancels the operation before its next exchange. An empty one never
// cancels, and the operation runs as if there were none.
using Progress = std::function<bool(int done, int total)>;

// Reports one more parameter done: false when the operation is to stop here.
bool carryOn(const Progress& progress, int done, int total);

} // namespace ModuleExchange

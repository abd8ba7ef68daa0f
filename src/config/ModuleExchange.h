#pragma once

#include <functional>
#include <memory>

class SerialUSBCommandHandler;
class VOKTUSBReply;

// The whole-module operations (settings file, command script, store and restore) talk to
// the module one parameter at a time through the handler's sendRequest and receiveReply,
// not through its slots, so that they see the reply's status and know when none came.
namespace ModuleExchange {

// Told after each parameter of a whole-module operation how many of how many are done;
// answering false cancels the operation before its next exchange. An empty one never
// cancels, and the operation runs as if there were none.
using Progress = std::function<bool(int done, int total)>;

// Reports one more parameter done: false when the operation is to stop here.
bool carryOn(const Progress& progress, int done, int total);

// One exchange for an axis parameter of motor/bank 0 at the handler's module address: the
// request (command, type, value) goes out and the reply comes back; nullptr when none came.
std::unique_ptr<VOKTUSBReply> axisParameter(SerialUSBCommandHandler& handler, int command, int type,
                                            int value = 0);

} // namespace ModuleExchange

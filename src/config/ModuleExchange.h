#pragma once

#include <memory>

class SerialUSBCommandHandler;
class VOKTUSBReply;

// The whole-module operations (settings file, command script, store and restore) talk to
// the module one parameter at a time through the handler's sendRequest and receiveReply,
// not through its slots, so that they see the reply's status and know when none came.
namespace ModuleExchange {

// One exchange for an axis parameter of motor/bank 0 at the handler's module address: the
// request (command, type, value) goes out and the reply comes back; nullptr when none came.
std::unique_ptr<VOKTUSBReply> axisParameter(SerialUSBCommandHandler& handler, int command, int type,
                                            int value = 0);

} // namespace ModuleExchange

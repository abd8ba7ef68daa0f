#include "ParameterStore.h"

#include "DebugLine.h"
#include "ModuleExchange.h"
#include "SerialUSBCommandHandler.h"
#include "VOKTUSBReply.h"

namespace ParameterStore {

namespace {

bool walk(SerialUSBCommandHandler& handler, int command)
{
    // The walk always runs to 255: after a lost link every remaining number says so.
    bool complete = true;
    for (int type = 0; type <= 255; ++type)
        complete = storeOrRestore(handler, command, static_cast<char>(type)) && complete;
    return complete;
}

} // namespace

bool storeAll(SerialUSBCommandHandler& handler)
{
    DebugLine() << "store actual values on module";
    return walk(handler, StoreCommand);
}

bool restoreAll(SerialUSBCommandHandler& handler)
{
    DebugLine() << "restore values on module";
    return walk(handler, RestoreCommand);
}

bool storeOrRestore(SerialUSBCommandHandler& handler, int command, char type)
{
    const int number = static_cast<quint8>(type);
    std::unique_ptr<VOKTUSBReply> reply;
    if (handler.isOpen())
        reply = ModuleExchange::axisParameter(handler, command, number);
    if (!reply) {
        DebugLine() << (command == RestoreCommand ? "could not restore parameter "
                                                  : "could not store parameter ")
                    << QString::number(number);
        return false;
    }
    DebugLine() << QString::number(number) << ": "
                << QString::number(static_cast<qint8>(reply->status()));
    // Read back, so that every panel showing the parameter shows the restored value.
    if (command == RestoreCommand)
        handler.getAxisParameter(0, type);
    return true;
}

} // namespace ParameterStore

#include "ParameterStore.h"

#include "DebugLine.h"
#include "ModuleExchange.h"
#include "SerialUSBCommandHandler.h"
#include "VOKTUSBReply.h"

namespace ParameterStore {

namespace {

constexpr int Numbers = 256;

bool walk(SerialUSBCommandHandler& handler, int command, const ModuleExchange::Progress& progress)
{
    // The walk runs to 255 unless it is cancelled: after a lost link every remaining number
    // says so.
    bool complete = true;
    for (int type = 0; type < Numbers; ++type) {
        complete = storeOrRestore(handler, command, static_cast<char>(type)) && complete;
        const int done = type + 1;
        if (!ModuleExchange::carryOn(progress, done, Numbers) && done < Numbers) {
            DebugLine() << (command == RestoreCommand ? "restore cancelled after "
                                                      : "store cancelled after ")
                        << QString::number(done) << " of " << QString::number(Numbers)
                        << " parameters";
            return false;
        }
    }
    return complete;
}

} // namespace

bool storeAll(SerialUSBCommandHandler& handler, const ModuleExchange::Progress& progress)
{
    DebugLine() << "store actual values on module";
    return walk(handler, StoreCommand, progress);
}

bool restoreAll(SerialUSBCommandHandler& handler, const ModuleExchange::Progress& progress)
{
    DebugLine() << "restore values on module";
    return walk(handler, RestoreCommand, progress);
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

#include "config/ModuleExchange.h"

#include "comm/SerialUSBCommandHandler.h"
#include "comm/VOKTRequest.h"
#include "comm/VOKTUSBReply.h"

namespace ModuleExchange {

bool carryOn(const Progress& progress, int done, int total)
{
    return !progress || progress(done, total);
}

std::unique_ptr<VOKTUSBReply> axisParameter(SerialUSBCommandHandler& handler, int command, int type,
                                            int value)
{
    VOKTRequest request(static_cast<quint8>(handler.moduleAddress()), static_cast<quint8>(command),
                        static_cast<quint8>(type), 0, value);
    handler.sendRequest(&request);
    return std::unique_ptr<VOKTUSBReply>(handler.receiveReply());
}

} // namespace ModuleExchange

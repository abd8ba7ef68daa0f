#include "config/ModuleExchange.h"

namespace ModuleExchange {

bool carryOn(const Progress& progress, int done, int total)
{
    return !progress || progress(done, total);
}

} // namespace ModuleExchange

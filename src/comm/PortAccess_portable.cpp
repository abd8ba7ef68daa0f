#include "comm/PortAccess.h"

// Without a POSIX system the node's rights and its holders are not looked at: the system's
// own reason is all there is.
namespace PortAccess {

std::optional<Ownership> ownershipOf(const QString&)
{
    return std::nullopt;
}

bool permissionRefused(const QString&)
{
    return false;
}

QList<Holder> holdersOf(const QString&)
{
    return {};
}

} // namespace PortAccess

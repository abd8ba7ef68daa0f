#include "comm/PortAccess.h"

#include <QStringList>

namespace PortAccess {

QString permissionAdvice(const QString& reason, const std::optional<Ownership>& ownership)
{
    if (!ownership)
        return reason + QStringLiteral(" — the user may not open this port");
    if (!ownership->groupMayUse)
        // Joining the group would not help: only the owner may use the node.
        return reason + QStringLiteral(" — only its owner %1 may open this port; a udev rule "
                                       "can give a group read and write access")
                            .arg(ownership->owner);
    if (ownership->userInGroup && !ownership->sessionInGroup)
        return reason + QStringLiteral(" — your user is in the group %1 that owns the port, "
                                       "but this session began before: log in again")
                            .arg(ownership->group);
    return reason + QStringLiteral(" — add your user to the group that owns the port "
                                   "(`sudo usermod -aG %1 $USER`, then log in again)")
                        .arg(ownership->group);
}

QString busyAdvice(const QString& reason, const QList<Holder>& holders)
{
    if (holders.isEmpty())
        return reason + QStringLiteral(" — in use by another program");
    QStringList named;
    for (const Holder& holder : holders)
        named << (holder.name.isEmpty()
                      ? QStringLiteral("process %1").arg(holder.pid)
                      : QStringLiteral("%1 (process %2)").arg(holder.name).arg(holder.pid));
    return reason + QStringLiteral(" — in use by ") + named.join(QStringLiteral(", "));
}

QString explainPermissionError(const QString& path, const QString& reason)
{
    const std::optional<Ownership> ownership = ownershipOf(path);
    if (!ownership)
        return reason; // nothing more to say than the system's own reason
    if (permissionRefused(path))
        return permissionAdvice(reason, ownership);
    return busyAdvice(reason, holdersOf(path));
}

} // namespace PortAccess

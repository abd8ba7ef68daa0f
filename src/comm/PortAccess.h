#pragma once

#include <QList>
#include <QString>

#include <optional>

// Why a serial port would not open, said so that the user knows what to do about it: a port
// the user may not open names the group that owns it and the command that admits the user;
// a port held by another program names the program where the system tells.
namespace PortAccess {

// Who owns a port's device node, as the file system says.
struct Ownership
{
    QString owner;       // the owning user's name
    QString group;       // the owning group's name
    bool groupMayUse;    // the group may read and write it
    bool userInGroup;    // the user is listed as a member of that group
    bool sessionInGroup; // this process runs with that group already
};

// A program that holds a port open.
struct Holder
{
    qint64 pid;
    QString name; // the program's name; empty where the system does not say
};

// The device node's ownership; nothing where the system cannot tell (or does not have the
// notion).
std::optional<Ownership> ownershipOf(const QString& path);
// Whether the user may not read and write the node, judged from its access rights alone.
bool permissionRefused(const QString& path);
// The programs that hold the port: the one named in its lock file, else every process
// whose open files include it (as far as this user may look).
QList<Holder> holdersOf(const QString& path);

// The reason with what to do about a refusal for lack of permission.
QString permissionAdvice(const QString& reason, const std::optional<Ownership>& ownership);
// The reason with who holds a busy port.
QString busyAdvice(const QString& reason, const QList<Holder>& holders);
// The open failure of the port at path explained: permission or busy, judged from the node.
QString explainPermissionError(const QString& path, const QString& reason);

} // namespace PortAccess

#include "comm/PortAccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace PortAccess {

namespace {

QString userName(uid_t uid)
{
    const passwd* entry = ::getpwuid(uid);
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(uid);
}

// Whether the process runs with the group, as its own or a supplementary one.
bool sessionHasGroup(gid_t gid)
{
    if (::getegid() == gid)
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    const int got = ::getgroups(count, groups.data());
    for (int i = 0; i < got; ++i)
        if (groups[static_cast<size_t>(i)] == gid)
            return true;
    return false;
}

// Whether the group database lists the user in the group (a membership given after this
// session began shows here and not in the session's groups).
bool userListedIn(const group* entry, uid_t uid)
{
    const passwd* user = ::getpwuid(uid);
    if (!user)
        return false;
    if (user->pw_gid == entry->gr_gid)
        return true;
    for (char** member = entry->gr_mem; member && *member; ++member)
        if (qstrcmp(*member, user->pw_name) == 0)
            return true;
    return false;
}

QString programName(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

// The process named in a lock file: the first number in it (the old binary-free format
// writes it padded with blanks, newer ones on the first line), if that process lives.
std::optional<qint64> lockHolder(const QString& lockPath)
{
    QFile lock(lockPath);
    if (!lock.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray first = lock.read(128).trimmed().split('\n').value(0).trimmed();
    bool ok = false;
    const qint64 pid = first.toLongLong(&ok);
    if (!ok || pid <= 0)
        return std::nullopt;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
        return std::nullopt; // a stale lock
    return pid;
}

} // namespace

std::optional<Ownership> ownershipOf(const QString& path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    Ownership ownership;
    ownership.owner = userName(info.st_uid);
    const group* entry = ::getgrgid(info.st_gid);
    ownership.group = entry ? QString::fromLocal8Bit(entry->gr_name) : QString::number(info.st_gid);
    ownership.groupMayUse = (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    ownership.userInGroup = entry && userListedIn(entry, ::geteuid());
    ownership.sessionInGroup = sessionHasGroup(info.st_gid);
    return ownership;
}

bool permissionRefused(const QString& path)
{
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) != 0 &&
           (errno == EACCES || errno == EPERM);
}

QList<Holder> holdersOf(const QString& path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    if (target.isEmpty())
        return {};
    // The lock file is named after the port as it was opened (a link's own path) or as it
    // is: "LCK..ttyUSB0", "LCK..pts_3", "LCK.._tmp_motor".
    QStringList lockNames;
    for (QString name : {path, target}) {
        if (name.startsWith(QLatin1String("/dev/")))
            name.remove(0, 5);
        name.replace(QLatin1Char('/'), QLatin1Char('_'));
        if (!lockNames.contains(name))
            lockNames << name;
    }
    for (const char* folder : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
                               "/tmp", "/var/tmp", "/var/lock/lockdev", "/run/lock"}) {
        for (const QString& name : std::as_const(lockNames)) {
            const QString lock = QStringLiteral("%1/LCK..%2").arg(QLatin1String(folder), name);
            if (const auto pid = lockHolder(lock))
                return {{*pid, programName(*pid)}};
        }
    }
    // As fuser does: every process's open files, as far as this user may look.
    QList<Holder> holders;
    const QDir proc(QStringLiteral("/proc"));
    const QStringList entries = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number)
            continue;
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(entry));
        const QStringList open =
            fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& fd : open) {
            if (QFileInfo(fds.filePath(fd)).symLinkTarget() == target) {
                holders.append({pid, programName(pid)});
                break;
            }
        }
    }
    return holders;
}

} // namespace PortAccess

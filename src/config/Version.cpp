#include "config/Version.h"

// Generated at build time: ZIRO_GIT_DESCRIBE.
#include "git_describe.h"

namespace Version {

QString number()
{
    return QStringLiteral(ZIRO_VERSION);
}

int majorVersion()
{
    return ZIRO_VERSION_MAJOR;
}

int minorVersion()
{
    return ZIRO_VERSION_MINOR;
}

int buildNumber()
{
    return ZIRO_VERSION_BUILD;
}

QString full()
{
    const QString described = QStringLiteral(ZIRO_GIT_DESCRIBE);
    return described.isEmpty() ? number() : QStringLiteral("%1 (git %2)").arg(number(), described);
}

QString of(const QString& program)
{
    return program + QLatin1Char(' ') + full();
}

} // namespace Version

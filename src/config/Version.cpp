#include "config/Version.h"

namespace Version {

QString number()
{
    return QStringLiteral(ZIRO_VERSION);
}

QString full()
{
    const QString described = QStringLiteral(ZIRO_GIT_DESCRIBE);
    return described.isEmpty() ? number() : QStringLiteral("%1 (git %2)").arg(number(), described);
}

} // namespace Version

#include "support/TemporaryConfig.h"

#include <QtGlobal>

TemporaryConfig::TemporaryConfig()
    : m_saved(qgetenv("XDG_CONFIG_HOME")), m_wasSet(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"))
{
    qputenv("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit());
}

TemporaryConfig::~TemporaryConfig()
{
    if (m_wasSet)
        qputenv("XDG_CONFIG_HOME", m_saved);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

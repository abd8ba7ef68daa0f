#pragma once

#include <QByteArray>
#include <QTemporaryDir>

// Points the user's configuration directory at a fresh temporary directory while it lives,
// so what the window remembers never touches the real user's settings, and every test
// starts as on a first start.
class TemporaryConfig
{
public:
    TemporaryConfig();
    ~TemporaryConfig();
    TemporaryConfig(const TemporaryConfig&) = delete;
    TemporaryConfig& operator=(const TemporaryConfig&) = delete;

    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QByteArray m_saved;
    bool m_wasSet;
};

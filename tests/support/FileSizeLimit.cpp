#include "support/FileSizeLimit.h"

#include <QProcess>

#include <csignal>

namespace {

void limit(qint64 bytes)
{
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

} // namespace

FileSizeLimit::FileSizeLimit(qint64 bytes)
{
    ::getrlimit(RLIMIT_FSIZE, &m_saved);
    m_savedHandler = ::signal(SIGXFSZ, SIG_IGN);
    limit(bytes);
}

FileSizeLimit::~FileSizeLimit()
{
    ::setrlimit(RLIMIT_FSIZE, &m_saved);
    ::signal(SIGXFSZ, m_savedHandler);
}

void FileSizeLimit::applyTo(QProcess& process, qint64 bytes)
{
    // Runs in the child between fork and exec; an ignored signal stays ignored after exec.
    process.setChildProcessModifier([bytes] { limit(bytes); });
}

#include "sim/PtyPeer.h"

// A system without pseudo-terminals: the peer cannot start, so the simulated module is not
// served (the window lists none, the command line's --sim says why).

bool PtyPeer::start(QString* error)
{
    if (error)
        *error = QStringLiteral("this system has no pseudo-terminals");
    return false;
}

void PtyPeer::stop()
{
    m_running = false;
}

void PtyPeer::writeAll(const QByteArray&) {}

void PtyPeer::run() {}

int PtyPeer::speedOf(int)
{
    return 0;
}

bool PtyPeer::setSpeed(int, int)
{
    return false;
}

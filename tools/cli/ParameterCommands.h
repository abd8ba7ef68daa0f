#pragma once

#include "cli/Link.h"

#include <QString>
#include <QStringList>

// The commands that read and write single values: ports, get, set, stop and raw. Each
// checks its arguments and returns what it will do with the link, or sets *error: nothing
// is sent before every argument has been checked.
namespace cli {

// Lists the ports the window would offer; the exit status.
int listPorts();
Action prepareGet(const QStringList& args, QString* error);
Action prepareSet(const QStringList& args, QString* error);
// Target velocity 0, the write of the window's "Stop motor".
Action prepareStop(const QStringList& args, QString* error);
Action prepareRaw(const QStringList& args, QString* error);

} // namespace cli

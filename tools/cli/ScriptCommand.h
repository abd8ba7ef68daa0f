#pragma once

#include "cli/Link.h"

#include <QString>
#include <QStringList>

namespace cli {

// run-script [--keep-going] FILE: the whole file is checked before anything is sent.
Action prepareRunScript(const QStringList& args, bool keepGoing, QString* error);

} // namespace cli

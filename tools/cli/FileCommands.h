#pragma once

#include "cli/Link.h"

#include <QString>
#include <QStringList>

// The commands of the window's file menu: export-ini, export-script, import-ini, store and
// restore, through the same operations of the core.
namespace cli {

// export-ini and export-script: the module's configuration to a file, written only when
// every parameter was read (answered with status 100). A file of another kind (a settings
// file for a script and the other way round, an HTML page) is replaced only with force.
Action prepareExport(const QString& command, const QStringList& args, QString* error,
                     bool force = false);
// import-ini: every key the file holds that is an integer, each written and read back; 1
// when any key of the configuration was not written or not taken.
Action prepareImport(const QStringList& args, QString* error);
// store and restore: every axis parameter number, 0 to 255, as the window walks them.
Action prepareStoreOrRestore(const QString& command, const QStringList& args, QString* error);

} // namespace cli

#pragma once

#include "cli/Link.h"

#include <QString>
#include <QStringList>

// Does a module hold its golden settings? diff compares the module with a settings file,
// or two files with each other; report writes the commissioning record.
namespace cli {

struct Invocation;

// diff FILE_A FILE_B: two settings files, no module needed. Prints one line per parameter
// that differs, "group/key<TAB>first<TAB>second"; the exit status: 0 identical, 1 they
// differ, 2 a file that is not a settings file.
int diffFiles(const QStringList& args);
// diff FILE: the module against the file, lines and statuses as above; 1 also when the
// module does not answer or the line is not clean.
Action prepareDiff(const QStringList& args, QString* error);
// report FILE.html [--against GOLDEN.ini]: the commissioning record; exits 1 when the
// module differs from the golden file.
Action prepareReport(const Invocation& invocation, QString* error);

} // namespace cli

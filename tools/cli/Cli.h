#pragma once

#include <QStringList>

// ziro-bldc-cli: commissions a ZIRO-BLDC module from the command line. It speaks to the
// module through the same handler, serial device, link, catalogue and file operations as
// the window, so both send the same bytes.
//
// Results go to standard output, diagnostics (and, with a terminal, progress) to standard
// error. Exit status (cli::ExitCode): 0 success, 1 the module refused something or did not
// answer, or the line was not clean, 2 bad usage or a malformed file (nothing sent), 3 the
// port could not be opened.
namespace cli {

// Runs one command line (the arguments without the program's name); the exit status. The
// command line's message handler (cli::messageHandler) is the caller's to install.
int run(const QStringList& arguments);

} // namespace cli

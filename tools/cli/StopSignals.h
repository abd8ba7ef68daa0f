#pragma once

// Ctrl-C, kill and a closed terminal, the one place the commands meet the system's
// signals. A command that must not be cut in half takes them as a request to stop when
// that is safe; the simulator waits for one to end cleanly.
//
// The POSIX implementation takes SIGINT, SIGTERM and SIGHUP; elsewhere Ctrl-C and
// termination as the C library reports them.
namespace StopSignals {

// From now on the first signal does not end the process: it is noted (requested()) and,
// if notice is given (a text that lives as long as the process), written to standard
// error. A second signal ends the process at once.
void catchAll(const char* notice);
// For a command that moves the motor: from now on no signal ends the process, the first
// and every later one is only noted (requested()), so that the motor's stop is written and
// answered before the command ends. A pipe closed under the command does not end it either.
void holdAll();
// Whether a signal came since catchAll().
bool requested();

// For a program that only waits for a signal: holds the signals in this thread and in
// every thread started after (so call it before starting any), for waitFor() to take.
void holdForWait();
// Blocks until a held signal comes.
void waitFor();

} // namespace StopSignals

#pragma once

#include <QString>
#include <QtGlobal>

// What the command line says: results to standard output, diagnostics (and, with a
// terminal, progress) to standard error, and the exit status.
namespace cli {

enum ExitCode
{
    ExitOk = 0,
    // The module refused something or did not answer, or the line was not clean.
    ExitRefused = 1,
    // Bad usage or a malformed file: nothing was sent.
    ExitUsage = 2,
    // The port could not be opened.
    ExitPort = 3,
};

// One result line on standard output; false when it did not arrive there (a full disk).
bool printOut(const QString& line);
// The exit status once every result is out: 1 at least when standard output did not take
// all of them, which is then said on standard error.
int checkedOutput(int status);
// "ziro-bldc-cli: <text>" on standard error.
void printError(const QString& text);

// With quiet, the tool's debug lines (every frame sent and received) are not written.
void setQuiet(bool quiet);
// The message handler of the command line: each message as one line on standard error,
// prefixed as the window prefixes it; debug lines only unless quiet.
void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

// A percentage on standard error while a long command runs, only when a person watches
// (standard error is a terminal). Any line written meanwhile takes it away first.
class Progress
{
public:
    Progress(const QString& label, int total);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Leaves the last percentage standing on its own line.
    void finish();
    void setDone(int done);

    // The progress shown now, if any.
    static Progress* current() { return s_current; }
    // Takes the line away before another line is written; the next step draws it again.
    void clear();

private:
    void show(int percent);

    static Progress* s_current;
    QString m_label;
    int m_total;
    int m_shown;
    bool m_enabled;
};

} // namespace cli

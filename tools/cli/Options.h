#pragma once

#include "comm/Protocol.h"
#include "config/FileKind.h"

#include <QString>
#include <QStringList>

#include <optional>

// The command line as the user typed it: the options of the tool and of its command, the
// command and its arguments, and the rule every number on it follows.
namespace cli {

struct Invocation
{
    QString port;
    bool sim = false;
    std::optional<int> baud;
    int address = 1;
    bool quiet = false;
    bool help = false;
    bool version = false;
    QString command;
    QStringList arguments;
    // Options of the command itself.
    std::optional<QString> interval;
    std::optional<QString> count;
    std::optional<QString> csv;
    bool keepGoing = false;
    // Replace a file of another kind than the command writes (a settings file, a script,
    // an HTML page).
    bool force = false;
    // scan: the rates of --baud, which takes a list there, and the range of addresses.
    QList<int> baudRates;
    std::optional<QString> from;
    std::optional<QString> to;
    std::optional<QString> turnaround;
    std::optional<QString> against;
    std::optional<QString> duration;
    // bode: the sweep (--from and --to are its frequencies there).
    std::optional<QString> points;
    std::optional<QString> amplitude;
    std::optional<QString> offset;
    // identify and tune: the limits of the motion, the bandwidth asked for, the PID set
    // and whether the gains are written.
    std::optional<QString> maxVelocity;
    std::optional<QString> maxCurrent;
    std::optional<QString> bandwidth;
    std::optional<QString> pidSet;
    bool apply = false;
    // commission: the modules (--addresses, or --scan with --from/--to), what to do with
    // each.
    std::optional<QString> addresses;
    bool scanLine = false;
    bool store = false;
    std::optional<QString> records;
};

// Reads the arguments (without the program's name). Options may stand before or after the
// command; an argument that does not begin with "--" (a negative value, for one) is an
// argument, and "--" makes every later one an argument. false, with *error, for an unknown
// option, a missing or needless value, an option of another command, or a --baud or
// --address out of range. For scan, --baud takes a list of rates (115200,9600).
bool parseCommandLine(const QStringList& args, Invocation* invocation, QString* error);

// A whole decimal number within [minimum, maximum]; otherwise *error says what is wrong,
// naming it as `what`.
std::optional<qint64> parseNumber(const QString& text, qint64 minimum, qint64 maximum,
                                  const QString& what, QString* error);
// A number 0 to 255.
std::optional<quint8> parseByte(const QString& text, const QString& what, QString* error);
// A 32-bit value.
std::optional<qint32> parseValue(const QString& text, QString* error);
// A parameter by number or by a name of the catalogue.
std::optional<vokt::ParameterNumber> parseParameter(const QString& text, QString* error);
// A file the command is to write: a regular file or a new one in a folder that takes it.
bool checkWritable(const QString& fileName, QString* error);
// checkWritable(), and, unless force, not a file that reads as another of the tool's kinds
// than the command writes (FileKind::targetProblem): "golden.ini: reads as a settings file;
// not replaced (--force replaces it)".
bool checkTarget(const QString& fileName, FileKind::Kind writes, bool force, QString* error);
// The file of --csv, checked as a target for a recording: empty when none was given;
// nothing, with *error, when it was given empty or may not be written.
std::optional<QString> csvTarget(const Invocation& invocation, QString* error);

} // namespace cli

#pragma once

#include "config/ModuleExchange.h"
#include "config/SettingsComparison.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

class SerialUSBCommandHandler;

// The commissioning record: one HTML page that proves what a module held at a moment: when,
// on which port (and whether it was a simulated module), the module's address and firmware
// version as it reports them, read by which version of the tool; the 44 parameters of the
// configuration by section, the live values and the status word in words, and, against a
// golden settings file, its values beside the module's with every difference marked and a
// verdict at the top. The page needs nothing but itself (no external style, script, font
// or picture), is well-formed XML as well as HTML, and prints on A4.
namespace CommissioningRecord {

// A golden settings file: its name as the user gave it, and its values.
struct Golden
{
    QString fileName;
    QList<SettingsComparison::Value> values;
};

// What the record shows.
struct Snapshot
{
    QDateTime taken;
    QString port;
    // The address the tool sent its requests to.
    int address = 1;
    // The port was a simulated module's (the caller knows).
    bool simulated = false;
    // As the module reports them (global parameters 0 and 2); nothing where it does not.
    std::optional<qint32> reportedAddress;
    std::optional<qint32> firmwareVersion;
    QString version;
    // The 44 values of the configuration, in the catalogue's order.
    QList<qint32> configuration;
    // One per ParameterCatalogue::liveValues(); nothing for a value the module did not
    // report.
    QList<std::optional<qint32>> liveValues;
    std::optional<Golden> golden;

    // The configuration against the golden file (empty without one).
    SettingsComparison::Rows rows() const;
    // Whether the module holds every value of the golden file (true without one).
    bool matches() const;
};

// Reads the configuration, the live values, then the module's firmware version and address
// from the module as one batch, with the time, port, address and the tool's version. The progress
// counts the configuration and the live values. Nothing when a parameter of the configuration could
// not be read or the line was not clean; *why says why (empty for a cancel).
std::optional<Snapshot> take(SerialUSBCommandHandler& handler,
                             const ModuleExchange::Progress& progress, QString* why);
// How many exchanges take() makes.
int exchanges();

// The page, UTF-8.
QByteArray html(const Snapshot& snapshot);

// Why fileName cannot take the record: a FileTarget::problem(), or, unless force, an
// existing settings file or command script (a golden file named by mistake is never written
// over; see FileKind::targetProblem); empty when it can.
QString targetProblem(const QString& fileName, bool force = false);

// Writes the page to fileName in place of what it holds (config/FileTarget): true when it
// is all there; otherwise the file is as it was and *why says why.
bool write(const QString& fileName, const Snapshot& snapshot, QString* why);

} // namespace CommissioningRecord

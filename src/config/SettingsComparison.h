#pragma once

#include "config/ModuleExchange.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

class SerialUSBCommandHandler;

// Does a module hold the values of a settings file, or do two files hold the same? The 44
// parameters of the configuration, side by side: the module's values (or a first file's)
// and a settings file's, read by the rule an import reads them with (SettingsFile::valueOf),
// so that a row the comparison calls equal is one an import leaves as it is.
namespace SettingsComparison {

// What one side holds for a parameter: a whole number, no key at all, or text that is no
// whole number (which an import skips, so the module keeps its own value).
struct Value
{
    enum State
    {
        Number,
        Missing,
        NotANumber
    };
    State state = Missing;
    qint32 number = 0;
    // The file's text, for NotANumber.
    QString text;

    static Value of(qint32 number) { return {Number, number, QString()}; }
    bool isNumber() const { return state == Number; }
    // As a row shows it: "1000", "(missing)", "(not a whole number: "12x")".
    QString shown() const;
};

// How the two sides of a row stand to each other. Two sides that both lack the key, or
// both hold the same text that is no number, are the same: a file is identical to itself.
enum class Kind
{
    Same,
    Differs,
    // A side has no key for the parameter.
    Missing,
    // A side's text is not a whole number (and none is missing).
    NotANumber
};

// "same", "differs", "missing", "not a whole number".
QString kindText(Kind kind);

// One parameter of the configuration on both sides.
struct Row
{
    int index = 0; // into ParameterCatalogue::configuration()
    Value first;
    Value second;

    Kind kind() const;
    bool differs() const { return kind() != Kind::Same; }
    QString group() const;
    QString key() const;
    vokt::ParameterNumber number() const;
    // "motion_settings/Acceleration"
    QString name() const;
};

// The 44 rows in the catalogue's order.
using Rows = QList<Row>;

// The rows of two sides, each 44 values in the catalogue's order.
Rows compare(const QList<Value>& first, const QList<Value>& second);
// The rows that differ (every kind but Same).
int differences(const Rows& rows);
// The rows whose values are both numbers and differ: what an import of the second side
// changes on a module that holds the first.
int changes(const Rows& rows);
// The rows that differ, then the others, each in the catalogue's order.
Rows differencesFirst(const Rows& rows);
// "matches golden.ini" for none, otherwise "1 difference", "7 differences".
QString verdict(const Rows& rows, const QString& fileName);
// One line per row that differs: "group/key<TAB>first<TAB>second".
QStringList differenceLines(const Rows& rows);

// The values of a settings file. A file that is no settings file of the tool's (it cannot
// be read, does not read as one by SettingsFile::readsAsSettings or to the settings class,
// or holds none of the 44 keys) has none: nothing, and *why says why ("is not a settings
// file").
std::optional<QList<Value>> readFile(const QString& fileName, QString* why);

// Reads the 44 parameters from the module, one exchange each, as one batch. Nothing when
// one is not answered or refused, or the line was not clean (a value read may be another
// parameter's): *why says why. A cancel through the progress stops after the parameter in
// progress and leaves *why empty.
std::optional<QList<qint32>> readModule(SerialUSBCommandHandler& handler,
                                        const ModuleExchange::Progress& progress, QString* why);

// A value to write to the module.
struct Assignment
{
    vokt::ParameterNumber number;
    qint32 value;
};

// Writes each value to its parameter and reads the parameter back through the handler's
// getAxisParameter(), so that every panel shows what the module took. The values read back,
// one per assignment (nothing for one not answered); stops at a write that was not
// answered, and after the assignment in progress when the progress cancels. The module's
// status of each write goes to *statuses (if given): nothing for one not answered.
QList<std::optional<qint32>> writeValues(SerialUSBCommandHandler& handler,
                                         const QList<Assignment>& assignments,
                                         const ModuleExchange::Progress& progress = {},
                                         QList<std::optional<quint8>>* statuses = nullptr);

// The rows as CSV: a header "section,key,number,<firstTitle>,<secondTitle>,result", then
// one line per row in the order given.
QByteArray csv(const Rows& rows, const QString& firstTitle, const QString& secondTitle);

} // namespace SettingsComparison

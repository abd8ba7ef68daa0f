#pragma once

#include "config/ModuleExchange.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

class QSettings;
class SerialUSBCommandHandler;

// The settings file: the module's configuration (the 44 parameters of the catalogue, in
// six groups) as an INI file of integer keys. Export reads every parameter from the module
// and writes the file; import writes every key the file holds to the module and reads it
// back, so that whatever shows the parameter shows the module's value.
//
// Both run one exchange after the other in the caller's thread and report through the log.
namespace SettingsFile {

// A file larger than this is no settings file of the tool's.
constexpr qint64 MaxFileSize = 1024 * 1024;

// Whether text reads as a settings file: no NUL byte, at most MaxFileSize bytes, and every
// line (blanks around it and a line feed or carriage return at its end aside) is empty, a
// comment (";" or "#" first), a group header ("[group]") or a key and its value
// ("key=value", a key before the "="), with at least one group header or key. A command
// script, a text note or a binary file does not; an export never merges into those.
bool readsAsSettings(const QByteArray& content);

// Why an export cannot go to fileName: it cannot take a file at all (see
// FileTarget::problem), cannot be read, or exists, is not empty (blanks aside) and does
// not read as a settings file (above) or as INI text ("reads as a command script", "is not
// a settings file"), or the settings class would not read the merged file back. With
// force, a file that is no settings file is replaced whole instead. Empty when it can.
QString targetProblem(const QString& fileName, bool force = false);

// Reads the 44 parameters and writes them under their groups and keys; other content of an
// existing file stays, its comments and the order of its lines among it. A file that cannot take
// the export (targetProblem()) is refused before anything is read. The file is written only when
// every parameter was read, through a copy beside it that replaces it only when complete:
// otherwise, and on any write error, it is left exactly as it was. true when the file was written;
// otherwise *error (if given) says why, and stays empty for a cancel. The progress counts the
// parameters read; a cancel stops after the parameter in progress and, as an incomplete export,
// leaves the file as it was. So does a line that was not clean (SerialUSBCommandHandler::Batch): a
// value read may be another parameter's.
bool exportTo(const QString& fileName, SerialUSBCommandHandler& handler,
              const ModuleExchange::Progress& progress = {}, QString* error = nullptr,
              bool force = false);

// What an import came to, parameter by parameter.
struct ImportReport
{
    // Keys sent and answered.
    int written = 0;
    // "motion_settings/Acceleration (11)": keys the file lacks or holds no integer for;
    // nothing was sent for them.
    QStringList skipped;
    // "MaxCurrent = 2000: the module answers 1500": written, but refused (a status other
    // than 100) or read back with another value, or not answered.
    QStringList notTaken;
    // Keys of the configuration the import did not get to (a cancel, a lost link).
    int notReached = 0;

    // Every key of the configuration written, taken and read back as the file holds it.
    bool complete() const { return skipped.isEmpty() && notTaken.isEmpty() && notReached == 0; }
};

// Writes every key of the file that holds an integer to its parameter and reads the
// parameter back. A key that is missing or not an integer is skipped (and logged); a file
// that holds none of the keys writes nothing. A file that is not a regular file (a pipe, a
// device) is refused before anything is sent. true when all 44 were written, taken (status
// 100) and read back with the file's value; *report (if given) says what was not. The progress
// counts the keys processed; a cancel stops after the key in progress (logged with how far
// it got), and the module keeps its own values for the later ones.
bool importFrom(const QString& fileName, SerialUSBCommandHandler& handler,
                const ModuleExchange::Progress& progress = {}, ImportReport* report = nullptr);

// Reads one parameter for its key: the value, or nothing (logged, and the reason in *why)
// when it cannot be read or the module refused it.
std::optional<qint32> exportKey(SerialUSBCommandHandler& handler, vokt::ParameterNumber number,
                                const QString& key, QString* why = nullptr);

// The value of a key of the group the settings object has open: a whole number of 32 bits
// as InputText::wholeNumber reads it, or nothing (a missing key, text with anything else
// in it, NUL bytes of a damaged file among them).
std::optional<qint32> valueOf(const QSettings& settings, const QString& key);

// Writes one key of the group the settings object has open to its parameter and reads the
// parameter back. false (logged) when the key holds no integer or the write went unanswered.
// The value written goes to *written, the status of the write to *status (if given).
bool importKey(QSettings& settings, SerialUSBCommandHandler& handler, vokt::ParameterNumber number,
               const QString& key, qint32* written = nullptr, quint8* status = nullptr);

} // namespace SettingsFile

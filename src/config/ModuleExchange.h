#pragma once

#include "config/ParameterCatalogue.h"

#include <QString>

#include <functional>
#include <optional>

class SerialUSBCommandHandler;

// The whole-module operations (settings file, command script, store and restore) talk to
// the module one parameter at a time through the handler's exchange(), not through its
// slots, so that they see the reply's status and know when none came. Each is told how far
// it got through a Progress.
namespace ModuleExchange {

// Told after each parameter of a whole-module operation how many of how many are done;
// answering false cancels the operation before its next exchange. An empty one never
// cancels, and the operation runs as if there were none.
using Progress = std::function<bool(int done, int total)>;

// Reports one more parameter done: false when the operation is to stop here.
bool carryOn(const Progress& progress, int done, int total);

// Reads one parameter of the configuration for an export; false, with the reason in *why,
// when it could not be read or the module refused it (a refusal's value field is no value).
using ReadParameter =
    std::function<bool(const ParameterCatalogue::ConfigurationParameter&, QString* why)>;

// The value of a read: the module answered this request with status 100 and nothing else
// came with it. Nothing otherwise, and *why (if given) says why: "no reply within 510 ms",
// "refused by the module (status 4)", "the line is not clean", "the link is closed".
std::optional<qint32> valueRead(SerialUSBCommandHandler& handler, quint8 number,
                                QString* why = nullptr);

// "MaxCurrent (6): refused by the module (status 4), StartCurrent (177): ..." for the
// parameters a walk could not read, the first few of them and how many more.
QString failedParameters(const QStringList& failures);

// An export's walk: reads every parameter of the configuration in table order, each
// counted by the progress, as one batch of exchanges. true when every parameter was read on
// a clean line. Otherwise logged as "export cancelled after <n> of <total> parameters;
// <outcome>: <fileName>" or "export failed: <why>; <outcome>: <fileName>" (outcome says
// what became of the file, e.g. "no script written"), and *why says why: not every
// parameter could be read (naming those that were not, and why), or the line was not clean (a value
// read may be another parameter's); it stays empty for a cancel, which stops after the parameter in
// progress.
bool readConfiguration(SerialUSBCommandHandler& handler, const ReadParameter& read,
                       const Progress& progress, const char* outcome, const QString& fileName,
                       QString* why);

} // namespace ModuleExchange

#pragma once

#include "config/ModuleExchange.h"

#include <QString>

class SerialUSBCommandHandler;

// The command script: the module's configuration (the 44 parameters of the catalogue) as
// VOKT commands that set each parameter (SAP) and store it (STAP), in six commented
// sections. ASCII text, every line ending in a single line feed:
//
//     //=== motor/module settings ===
//     SAP 253, 0, 8 <tab>// motor poles
//     STAP 253, 0 <blank>
//     ...
namespace CommandScript {

// Reads the 44 parameters and writes the script. The file is put in place only when every
// parameter was read and the whole script was written beside it: until then an existing
// file keeps its content, and an incomplete export or a write error leaves nothing behind.
// Nothing is read when the link is closed or the file cannot be written (see
// FileTarget::problem), or, unless force, when it exists and is not empty and not a
// command script (FileKind::targetProblem). A parameter the module refuses is not read:
// *error names it. true when the script was written; otherwise *error (if given) says
// why, and stays empty for a cancel. The progress counts the parameters read; a cancel
// stops after the parameter in progress and, as an incomplete export, leaves no file.
// So does a line that was not clean (SerialUSBCommandHandler::Batch): a value read may be
// another parameter's.
bool exportTo(const QString& fileName, SerialUSBCommandHandler& handler,
              const ModuleExchange::Progress& progress = {}, QString* error = nullptr,
              bool force = false);

// Reads one parameter and gives its two lines ("SAP ...\n" and "STAP ...\n"), or an empty
// text (logged, and the reason in *why) when it cannot be read or the module refused it.
QString scriptLines(SerialUSBCommandHandler& handler, vokt::ParameterNumber number,
                    const QString& comment, QString* why = nullptr);

} // namespace CommandScript

#pragma once

#include "config/ModuleExchange.h"

#include <QList>
#include <QtGlobal>

class SerialUSBCommandHandler;

// Store and restore on the module: the module keeps a copy of its parameters in
// non-volatile memory. Store copies the values it holds into that memory, restore brings
// the copy back. Both walk every axis parameter number, 0 to 255, whether or not the
// module knows it; the module's status for each is logged.
namespace ParameterStore {

// What a walk came to. A module refuses the numbers it does not know, and those it keeps
// no copy of (targets, actual values); a refused parameter of the configuration (the
// catalogue's settings) means its value is not kept.
struct Tally
{
    struct Refusal
    {
        vokt::ParameterNumber number;
        quint8 status;
    };

    int walked = 0;
    // Answered with status 100.
    int accepted = 0;
    // Answered with another status.
    int refused = 0;
    // The configuration parameters among the refused, in walk order.
    QList<Refusal> refusedSettings;
};

// Stores every parameter. true when the module answered all 256. The progress counts the
// numbers walked; a cancel stops the walk after the number in progress (logged), and the
// later numbers are not sent. The tally (if given) counts what the module took and refused.
bool storeAll(SerialUSBCommandHandler& handler, const ModuleExchange::Progress& progress = {},
              Tally* tally = nullptr);
// Restores every parameter and reads each one back, so that whatever shows it shows the
// restored value. true when the module answered all 256 restores. Progress and tally as
// for storeAll.
bool restoreAll(SerialUSBCommandHandler& handler, const ModuleExchange::Progress& progress = {},
                Tally* tally = nullptr);

// The same for the parameters of the configuration alone (the catalogue's 44 settings, in
// its order): what commissioning stores and checks, in a sixth of the exchanges. true when
// the module answered all of them; the tally counts only these.
bool storeSettings(SerialUSBCommandHandler& handler, const ModuleExchange::Progress& progress = {},
                   Tally* tally = nullptr);
bool restoreSettings(SerialUSBCommandHandler& handler,
                     const ModuleExchange::Progress& progress = {}, Tally* tally = nullptr);

// One store (vokt::StoreAxisParameter) or restore (vokt::RestoreAxisParameter) of one
// parameter number; a restore reads the parameter back. false (logged) when the module did
// not answer; otherwise the module's status goes to *status (if given).
bool storeOrRestore(SerialUSBCommandHandler& handler, int command, vokt::ParameterNumber number,
                    quint8* status = nullptr);

} // namespace ParameterStore

#pragma once

#include "ModuleExchange.h"

class SerialUSBCommandHandler;

// Store and restore on the module: the module keeps a copy of its parameters in
// non-volatile memory. Store copies the values it holds into that memory, restore brings
// the copy back. Both walk every axis parameter number, 0 to 255, whether or not the
// module knows it; the module's status for each is logged.
namespace ParameterStore {

constexpr int StoreCommand = 7;
constexpr int RestoreCommand = 8;

// Stores every parameter. true when the module answered all 256. The progress counts the
// numbers walked; a cancel stops the walk after the number in progress (logged), and the
// later numbers are not sent.
bool storeAll(SerialUSBCommandHandler& handler, const ModuleExchange::Progress& progress = {});
// Restores every parameter and reads each one back, so that whatever shows it shows the
// restored value. true when the module answered all 256 restores. Progress as for storeAll.
bool restoreAll(SerialUSBCommandHandler& handler, const ModuleExchange::Progress& progress = {});

// One store (StoreCommand) or restore (RestoreCommand) of one parameter number; a restore
// reads the parameter back. false (logged) when the module did not answer.
bool storeOrRestore(SerialUSBCommandHandler& handler, int command, char type);

} // namespace ParameterStore

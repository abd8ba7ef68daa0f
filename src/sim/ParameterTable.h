#pragma once

#include <QList>
#include <QtGlobal>

// The axis parameters of the simulated module: which numbers it has, where each value
// lives, its range and its value at power-up. Its settings are the configuration of the
// catalogue (numbered, and for the PID loops bounded, as the catalogue has them) and the
// commutation mode; its command values and actual values are those the motor model acts
// on.
namespace ParameterTable {

// Where a parameter's value lives.
enum class Access
{
    // No such parameter: every request for it is answered with vokt::StatusWrongType.
    Unknown,
    // A setting: read, written and kept in non-volatile memory by store and restore.
    Setting,
    // A command value (targets, clear flags): read and written, never stored.
    Command,
    // An actual value the module reports; writes are refused.
    ReadOnly,
};

struct Info
{
    Access access = Access::Unknown;
    qint32 minimum = 0;
    qint32 maximum = 0;
    qint32 defaultValue = 0;
};

// The parameter's entry; Access::Unknown for a number the module does not have (or one
// outside 0 to 255).
Info info(int type);
// Every axis parameter number the module knows, ascending.
QList<int> known();

} // namespace ParameterTable

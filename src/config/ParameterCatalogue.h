#pragma once

#include "comm/Protocol.h"
#include "config/ParameterNumbers.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>

// The one list of the module's axis parameters that the tool knows: which number stands
// behind which field, the module configuration that the settings file and the command
// script carry (groups, keys, comments and their order), and the names by which the
// command line and recordings refer to a parameter. Every parameter lives on motor/bank 0.
namespace ParameterCatalogue {

// One PID loop: the nine parameter numbers (P, I, D and I-clipping of set 1, the same of
// set 2, the threshold speed), the title of the panel that edits them, and the bound of
// that panel's I-clipping fields.
struct PidLoop
{
    const char* title; // "Current PID control"
    std::array<vokt::ParameterNumber, 9> numbers;
    int iClippingMaximum;
};

// P, I and D of either set run from 0 to GainMaximum, the threshold speed from 0 to
// ThresholdMaximum (the I-clipping to the loop's own bound).
constexpr int GainMaximum = 60000;
constexpr int ThresholdMaximum = 1000000;

const PidLoop& pidLoop(Loop loop);

// One section of the configuration: a group of the settings file, a commented section of
// the command script.
struct Section
{
    const char* group;        // settings group, e.g. "motor_and_module_settings"
    const char* scriptHeader; // e.g. "\n//=== encoder/initialization settings ===\n"
};

// One parameter of the configuration: a key of the settings file and two lines (SAP and
// STAP) of the command script.
struct ConfigurationParameter
{
    int section;     // index into sections()
    const char* key; // settings key within the section's group
    vokt::ParameterNumber number;
    const char* comment; // script comment, beginning with a tab: "\t// motor poles"
    // The command script puts an empty line after this parameter (the end of a PID set).
    bool blankLineAfter;
};

// The field a parameter is shown or edited in: its range and step, and the unit of its
// value (UTF-8, empty for a plain number). The panels take them from here when they are
// set up.
struct Field
{
    vokt::ParameterNumber number;
    int minimum;
    int maximum;
    int step;
    const char* unit = "";
};

// A name for a parameter number: the command line accepts it, recordings head their
// columns with it.
struct Name
{
    vokt::ParameterNumber number;
    QString name;
};

// The six sections, in file order.
const QList<Section>& sections();
// The 44 parameters of the configuration, in the order both files hold them.
const QList<ConfigurationParameter>& configuration();
// The field of every parameter a panel shows or writes from a field.
const QList<Field>& fields();
// The field of a parameter; nullptr for one no panel field shows.
const Field* field(vokt::ParameterNumber number);
// The names of every parameter the tool shows, writes or polls, one name a number. A
// configuration parameter is named by its settings key, made unique with its group where
// the key is used in more than one group ("velocity_PID_values/P_set_1").
const QList<Name>& names();

// The live values the window polls in each cycle, in the order its trace list holds them:
// actual velocity, ramp velocity, actual and target position, actual PWM and current, the
// status word.
const QList<vokt::ParameterNumber>& liveValues();

// One meaningful bit of the status word (StatusFlags): its number (0 is the least
// significant), the words the status flags panel and the commissioning record show, whether
// a set bit is a fault (the module protects itself) rather than a state, and what it means.
struct StatusFlag
{
    int bit;
    const char* label; // UTF-8: "I²t exceeded"
    bool fault;
    const char* meaning; // UTF-8
};

// The twelve meaningful bits of the status word, in the order the panel shows them: the
// error conditions, the active control mode, position end, I²t exceeded.
const QList<StatusFlag>& statusFlags();
// The labels of the bits set in a status word, in that order; the other bits carry
// nothing.
QStringList statusWords(quint32 word);

// The parameter a name stands for: a name of names(), a settings key that is used in one
// group only ("MaxCurrent"), "group/key", or a number 0 to 255 written in decimal. -1 when
// the text names no parameter; *error (if given) then says why.
int numberOf(const QString& name, QString* error = nullptr);
// The name of a parameter number; the number in decimal for a number without a name.
QString nameOf(vokt::ParameterNumber number);

} // namespace ParameterCatalogue

#include "config/ParameterCatalogue.h"

#include "config/InputText.h"

#include <QHash>

namespace ParameterCatalogue {

namespace {

enum SectionIndex
{
    MotorSection,
    EncoderSection,
    MotionSection,
    CurrentPidSection,
    VelocityPidSection,
    PositionPidSection
};

// The nine parameters of one PID loop: set 1 (P, I, D, I-clipping), set 2, threshold.
void addPid(QList<ConfigurationParameter>& list, int section, Loop loop, const char* thresholdKey,
            const char* thresholdComment)
{
    static const char* const keys[8] = {"P_set_1", "I_set_1", "D_set_1", "I-Clipping_set_1",
                                        "P_set_2", "I_set_2", "D_set_2", "I-Clipping_set_2"};
    static const char* const comments[8] = {
        "\t// P set 1", "\t// I set 1", "\t// D set 1", "\t// I-Clipping set 1",
        "\t// P set 2", "\t// I set 2", "\t// D set 2", "\t// I-Clipping set 2"};
    const std::array<vokt::ParameterNumber, 9>& numbers = pidLoop(loop).numbers;
    for (int i = 0; i < 8; ++i)
        list.append(
            {section, keys[i], numbers[static_cast<size_t>(i)], comments[i], i == 3 || i == 7});
    list.append({section, thresholdKey, numbers[8], thresholdComment, false});
}

QList<ConfigurationParameter> buildConfiguration()
{
    QList<ConfigurationParameter> list = {
        {MotorSection, "MotorPoles", MotorPoles, "\t// motor poles", false},
        {MotorSection, "MaxCurrent", MaxCurrent, "\t// max current", false},
        {MotorSection, "StartCurrent", StartCurrent, "\t// start current", false},
        {MotorSection, "MotorCoilResistance", MotorCoilResistance, "\t// motor coil resistance",
         false},
        {MotorSection, "BEMFConstant", BEMFConstant, "\t// BEMF constant", false},
        {EncoderSection, "EncoderSteps", EncoderSteps, "\t// encoder steps", false},
        {EncoderSection, "EncoderDirection", EncoderDirection, "\t// encoder direction", false},
        {EncoderSection, "InitSineMode", InitSineMode, "\t// init sine mode", false},
        {EncoderSection, "InitSineSpeed", InitSineSpeed, "\t// init sine speed", false},
        {EncoderSection, "EncoderCommutationOffset", EncoderCommutationOffset,
         "\t// encoder commutation offset", false},
        {EncoderSection, "HallSensorInvert", HallSensorInvert, "\t// hall sensor invert", false},
        {EncoderSection, "PhaseQSpeedThreshold", PhaseQSpeedThreshold,
         "\t// phaseQ switch velocity", false},
        {MotionSection, "MaxRampVelocity", MaxRampVelocity, "\t// max ramp velocity", false},
        {MotionSection, "Acceleration", Acceleration, "\t// acceleration", false},
        {MotionSection, "EnableVelocityRamp", EnableVelocityRamp, "\t// enable velocity ramp",
         false},
        {MotionSection, "TargetReachedVelocity", TargetReachedVelocity,
         "\t// target reached velocity", false},
        {MotionSection, "TargetReachedDistance", TargetReachedDistance,
         "\t// target reached distance", false},
    };
    addPid(list, CurrentPidSection, CurrentLoop, "threshold_speed_for_current_PID",
           "\t// threshold speed for current PID");
    addPid(list, VelocityPidSection, VelocityLoop, "threshold_speed_for_velocity_PID",
           "\t// threshold speed for velocity PID");
    addPid(list, PositionPidSection, PositionLoop, "threshold_speed_for_position_PID",
           "\t// threshold speed for position PID");
    return list;
}

// The fields of a PID loop: P, I and D of either set, the I-clipping to the loop's bound,
// the threshold speed.
void addPidFields(QList<Field>& list, Loop loop)
{
    const PidLoop& pid = pidLoop(loop);
    for (int i = 0; i < 9; ++i) {
        const bool clipping = i == IClippingSet1 || i == IClippingSet2;
        const bool threshold = i == ThresholdSpeed;
        list.append({pid.numbers[static_cast<size_t>(i)], 0,
                     threshold ? ThresholdMaximum : (clipping ? pid.iClippingMaximum : GainMaximum),
                     clipping || threshold ? 100 : 10});
    }
}

QList<Field> buildFields()
{
    QList<Field> list = {
        {MotorPoles, 0, 100000, 2},
        {MaxCurrent, 0, 100000, 100, "mA"},
        {MotorCoilResistance, 0, 100000, 1},
        {BEMFConstant, 0, 100000, 1},
        {EncoderSteps, 0, 1000000000, 100},
        {EncoderDirection, 0, 1, 1},
        {InitSineMode, 0, 2, 1},
        {EncoderCommutationOffset, 0, 1000000000, 1},
        // The mode values of the three choices: 0, 1 and 3.
        {CommutationMode, 0, 3, 1},
        {MaxRampVelocity, 0, 100000, 100, "rpm"},
        {Acceleration, 1, 20000, 100, "rpm/s"},
        // The ramp panels' check box writes 0 or 1.
        {EnableVelocityRamp, 0, 1, 1},
        {ActualCurrent, -99999, 99999, 1, "mA"},
        // A jog panel's magnitude: the buttons write it with either sign.
        {TargetCurrent, 0, 99999, 100, "mA"},
        {ActualPWM, -99999, 99999, 1},
        {TargetPWM, 0, 99999, 100},
        {ActualVelocity, -100000, 100000, 100, "rpm"},
        {TargetVelocity, 0, 100000, 100, "rpm"},
        {ActualPosition, -2147483647, 2147483647, 1},
    };
    addPidFields(list, CurrentLoop);
    addPidFields(list, VelocityLoop);
    addPidFields(list, PositionLoop);
    return list;
}

QList<Name> buildNames()
{
    QList<Name> list;
    const QList<ConfigurationParameter>& config = configuration();
    for (const ConfigurationParameter& p : config) {
        int uses = 0;
        for (const ConfigurationParameter& other : config)
            uses += qstrcmp(other.key, p.key) == 0 ? 1 : 0;
        const QString key = QLatin1String(p.key);
        list.append({p.number, uses == 1 ? key
                                         : QLatin1String(sections().at(p.section).group) +
                                               QLatin1Char('/') + key});
    }
    const struct
    {
        vokt::ParameterNumber number;
        const char* name;
    } others[] = {
        {TargetPosition, "TargetPosition"},
        {ActualPosition, "ActualPosition"},
        {TargetVelocity, "TargetVelocity"},
        {ActualVelocity, "ActualVelocity"},
        {RampVelocity, "RampVelocity"},
        {ActualCurrent, "ActualCurrent"},
        {ActualPWM, "ActualPWM"},
        {TargetPWM, "TargetPWM"},
        {TargetCurrent, "TargetCurrent"},
        {StatusFlags, "StatusFlags"},
        {CommutationMode, "CommutationMode"},
        {SineInitialisation, "SineInitialisation"},
        {ClearOnce, "ClearOnce"},
        {ClearOnNull, "ClearOnNull"},
    };
    for (const auto& other : others)
        list.append({other.number, QLatin1String(other.name)});
    return list;
}

} // namespace

const PidLoop& pidLoop(Loop loop)
{
    static const PidLoop loops[] = {
        {"Current PID control", pidNumbers(CurrentLoop), 5000000},
        {"Velocity PID control", pidNumbers(VelocityLoop), 5000000},
        {"Position PID control", pidNumbers(PositionLoop), 500000},
    };
    return loops[loop];
}

const QList<Section>& sections()
{
    static const QList<Section> list = {
        {"motor_and_module_settings", "//=== motor/module settings ===\n"},
        {"encoder_settings", "\n//=== encoder/initialization settings ===\n"},
        {"motion_settings", "\n//=== motion settings ===\n"},
        {"current_PID_values", "\n//=== current PID values ===\n"},
        {"velocity_PID_values", "\n//=== velocity PID values ===\n"},
        {"position_PID_values", "\n//=== position PID values ===\n"},
    };
    return list;
}

const QList<ConfigurationParameter>& configuration()
{
    static const QList<ConfigurationParameter> list = buildConfiguration();
    return list;
}

const QList<Field>& fields()
{
    static const QList<Field> list = buildFields();
    return list;
}

const Field* field(vokt::ParameterNumber number)
{
    static const QHash<int, const Field*> byNumber = [] {
        QHash<int, const Field*> map;
        for (const Field& entry : fields())
            map.insert(entry.number, &entry);
        return map;
    }();
    return byNumber.value(number);
}

const QList<Name>& names()
{
    static const QList<Name> list = buildNames();
    return list;
}

const QList<vokt::ParameterNumber>& liveValues()
{
    static const QList<vokt::ParameterNumber> list = {ActualVelocity, RampVelocity, ActualPosition,
                                                      TargetPosition, ActualPWM,    ActualCurrent,
                                                      StatusFlags};
    return list;
}

const QList<StatusFlag>& statusFlags()
{
    static const QList<StatusFlag> list = {
        {0, "Overcurrent", true, "Fault: the motor current went beyond what the module allows"},
        {1, "Undervoltage", true, "Fault: the supply voltage is below the module's minimum"},
        {2, "Overvoltage", true,
         "Fault: the supply voltage is above the module's maximum (a braking motor feeds "
         "energy back)"},
        {3, "Overtemperature", true, "Fault: the driver stage is too hot"},
        {4, "Motor halted", false, "The motor stands still"},
        {5, "Hall/PhaseQ error", true,
         "Fault: the commutation sensor (hall sensors or phase Q) reports no valid state"},
        {8, "PWM mode", false, "The last motion command set PWM mode: open loop, a duty cycle"},
        {9, "Velocity mode", false,
         "The last motion command set velocity mode: the ramp leads the velocity loop"},
        {10, "Position mode", false,
         "The last motion command was a move: the position loop leads the motor"},
        {11, "Torque mode", false,
         "The last motion command set torque mode: the current loop follows the target "
         "current"},
        {14, "Position end", false,
         "The motor stands at its target position: within the target reached distance and "
         "slower than the target reached velocity"},
        {17, "I\xC2\xB2t exceeded", true,
         "Fault: the current stayed above the max. current for too long; the module now "
         "limits it to the max. current until it has run down"},
    };
    return list;
}

QStringList statusWords(quint32 word)
{
    QStringList words;
    for (const StatusFlag& flag : statusFlags())
        if ((word >> flag.bit) & 1u)
            words << QString::fromUtf8(flag.label);
    return words;
}

int numberOf(const QString& name, QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return -1;
    };
    if (name.isEmpty())
        return fail(QStringLiteral("no parameter given"));
    if (InputText::isWholeNumber(name)) {
        QString why;
        const std::optional<qint64> number = InputText::wholeNumber(name, 0, 255, &why);
        if (!number)
            return fail(QStringLiteral("parameter number %1").arg(why));
        return static_cast<int>(*number);
    }
    for (const Name& entry : names())
        if (name == entry.name)
            return entry.number;
    QStringList qualified;
    int found = -1;
    for (const ConfigurationParameter& p : configuration()) {
        const QString key =
            QLatin1String(sections().at(p.section).group) + QLatin1Char('/') + QLatin1String(p.key);
        if (name == key)
            return p.number;
        if (name == QLatin1String(p.key)) {
            qualified << key;
            found = p.number;
        }
    }
    if (qualified.size() == 1)
        return found;
    if (qualified.size() > 1)
        return fail(QStringLiteral("%1 is a key of several groups; name one of: %2")
                        .arg(name, qualified.join(QStringLiteral(", "))));
    return fail(QStringLiteral("unknown parameter: %1").arg(InputText::shown(name)));
}

QString nameOf(vokt::ParameterNumber number)
{
    for (const Name& entry : names())
        if (entry.number == number)
            return entry.name;
    return QString::number(number);
}

} // namespace ParameterCatalogue

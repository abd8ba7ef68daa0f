#include "config/ParameterCatalogue.h"

#include "config/InputText.h"

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
void addPid(QList<ConfigurationParameter>& list, int section, const int (&numbers)[9],
            const char* thresholdKey, const char* thresholdComment)
{
    static const char* const keys[8] = {"P_set_1", "I_set_1", "D_set_1", "I-Clipping_set_1",
                                        "P_set_2", "I_set_2", "D_set_2", "I-Clipping_set_2"};
    static const char* const comments[8] = {
        "\t// P set 1", "\t// I set 1", "\t// D set 1", "\t// I-Clipping set 1",
        "\t// P set 2", "\t// I set 2", "\t// D set 2", "\t// I-Clipping set 2"};
    for (int i = 0; i < 8; ++i)
        list.append({section, keys[i], numbers[i], comments[i], i == 3 || i == 7});
    list.append({section, thresholdKey, numbers[8], thresholdComment, false});
}

QList<ConfigurationParameter> buildConfiguration()
{
    QList<ConfigurationParameter> list = {
        {MotorSection, "MotorPoles", 253, "\t// motor poles", false},
        {MotorSection, "MaxCurrent", 6, "\t// max current", false},
        {MotorSection, "StartCurrent", 177, "\t// start current", false},
        {MotorSection, "MotorCoilResistance", 240, "\t// motor coil resistance", false},
        {MotorSection, "BEMFConstant", 239, "\t// BEMF constant", false},
        {EncoderSection, "EncoderSteps", 250, "\t// encoder steps", false},
        {EncoderSection, "EncoderDirection", 251, "\t// encoder direction", false},
        {EncoderSection, "InitSineMode", 249, "\t// init sine mode", false},
        {EncoderSection, "InitSineSpeed", 241, "\t// init sine speed", false},
        {EncoderSection, "EncoderCommutationOffset", 165, "\t// encoder commutation offset", false},
        {EncoderSection, "HallSensorInvert", 254, "\t// hall sensor invert", false},
        {EncoderSection, "PhaseQSpeedThreshold", 14, "\t// phaseQ switch velocity", false},
        {MotionSection, "MaxRampVelocity", 4, "\t// max ramp velocity", false},
        {MotionSection, "Acceleration", 11, "\t// acceleration", false},
        {MotionSection, "EnableVelocityRamp", 146, "\t// enable velocity ramp", false},
        {MotionSection, "TargetReachedVelocity", 7, "\t// target reached velocity", false},
        {MotionSection, "TargetReachedDistance", 10, "\t// target reached distance", false},
    };
    addPid(list, CurrentPidSection, {168, 169, 170, 171, 172, 173, 174, 175, 176},
           "threshold_speed_for_current_PID", "\t// threshold speed for current PID");
    addPid(list, VelocityPidSection, {140, 141, 142, 143, 234, 235, 236, 237, 8},
           "threshold_speed_for_velocity_PID", "\t// threshold speed for velocity PID");
    addPid(list, PositionPidSection, {130, 131, 132, 135, 230, 231, 232, 233, 12},
           "threshold_speed_for_position_PID", "\t// threshold speed for position PID");
    return list;
}

// The three PID panels as the central panel configures them.
void addPidFields(QList<PanelField>& list, const char* title, const int (&numbers)[9],
                  int clippingMaximum)
{
    static const char* const fields[9] = {"sbPSet1",         "sbISet1",         "sbDSet1",
                                          "sbIClippingSet1", "sbPSet2",         "sbISet2",
                                          "sbDSet2",         "sbIClippingSet2", "sbThreshold"};
    for (int i = 0; i < 9; ++i) {
        const bool clipping = i == 3 || i == 7;
        const bool threshold = i == 8;
        list.append({title, fields[i], numbers[i], 0,
                     threshold ? 1000000 : (clipping ? clippingMaximum : 60000),
                     clipping || threshold ? 100 : 10});
    }
}

QList<PanelField> buildPanelFields()
{
    QList<PanelField> list = {
        {"WMotorSettings", "sbMotorPoles", 253, 0, 100000, 2},
        {"WMotorSettings", "sbMaxCurrent", 6, 0, 100000, 100},
        {"WMotorSettings", "sbCoilResistance", 240, 0, 100000, 1},
        {"WMotorSettings", "sbBEMFConstant", 239, 0, 100000, 1},
        {"WEncoderSettings", "sbEncoderSteps", 250, 0, 1000000000, 100},
        {"WEncoderSettings", "sbEncoderDirection", 251, 0, 1, 1},
        {"WEncoderSettings", "sbSineInitMode", 249, 0, 2, 1},
        {"WEncoderSettings", "sbCommutationOffset", 165, 0, 1000000000, 1},
        // The mode values of the three choices: 0, 1 and 3.
        {"WCommutationMode", "cbCommutationMode", 159, 0, 3, 1},
        // Both ramp panels; the check box of the group box writes 0 or 1.
        {"WVelocityRampControl", "sbMaxVelocity", 4, 0, 100000, 100},
        {"WVelocityRampControl", "sbAcceleration", 11, 1, 20000, 100},
        {"WVelocityRampControl", "gbRampEnabler", 146, 0, 1, 1},
        {"WCurrentControl", "sbActualCurrent", 150, -99999, 99999, 1},
        {"WCurrentControl", "sbTargetCurrent", 155, 0, 99999, 100},
        {"WPWMControl", "sbActualPWM", 153, -99999, 99999, 1},
        {"WPWMControl", "sbTargetPWM", 154, 0, 99999, 100},
        {"WVelocityControl", "sbActualVelocity", 3, -100000, 100000, 100},
        {"WVelocityControl", "sbTargetVelocity", 2, 0, 100000, 100},
        {"WPositionControl", "sbActualPosition", 1, -2147483647, 2147483647, 1},
    };
    addPidFields(list, "Current PID control", {168, 169, 170, 171, 172, 173, 174, 175, 176},
                 5000000);
    addPidFields(list, "Velocity PID control", {140, 141, 142, 143, 234, 235, 236, 237, 8},
                 5000000);
    addPidFields(list, "Position PID control", {130, 131, 132, 135, 230, 231, 232, 233, 12},
                 500000);
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
        int number;
        const char* name;
    } others[] = {
        {0, "TargetPosition"}, {1, "ActualPosition"},    {2, "TargetVelocity"},
        {3, "ActualVelocity"}, {13, "RampVelocity"},     {150, "ActualCurrent"},
        {153, "ActualPWM"},    {154, "TargetPWM"},       {155, "TargetCurrent"},
        {156, "StatusFlags"},  {159, "CommutationMode"}, {160, "SineInitialisation"},
        {161, "ClearOnce"},    {163, "ClearOnNull"},
    };
    for (const auto& other : others)
        list.append({other.number, QLatin1String(other.name)});
    return list;
}

} // namespace

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

const QList<PanelField>& panelFields()
{
    static const QList<PanelField> list = buildPanelFields();
    return list;
}

const QList<Name>& names()
{
    static const QList<Name> list = buildNames();
    return list;
}

const QList<int>& liveValues()
{
    static const QList<int> list = {3, 13, 1, 0, 153, 150, 156};
    return list;
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

QString nameOf(int number)
{
    for (const Name& entry : names())
        if (entry.number == number)
            return entry.name;
    return QString::number(number);
}

} // namespace ParameterCatalogue

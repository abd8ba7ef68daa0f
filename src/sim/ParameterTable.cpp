#include "sim/ParameterTable.h"

#include "comm/Protocol.h"
#include "config/ParameterCatalogue.h"

#include <array>
#include <limits>

namespace ParameterTable {

namespace {

using namespace ParameterCatalogue;

constexpr qint32 Int32Min = std::numeric_limits<qint32>::min();
constexpr qint32 Int32Max = std::numeric_limits<qint32>::max();

// The module's own bounds and power-up values of its settings outside the PID loops.
struct Setting
{
    int number;
    qint32 minimum;
    qint32 maximum;
    qint32 value;
};

const Setting settings[] = {
    // Motor and module.
    {MotorPoles, 0, 100000, 8},
    {MaxCurrent, 0, 100000, 2000},         // mA
    {StartCurrent, 0, 100000, 1000},       // mA
    {MotorCoilResistance, 0, 100000, 500}, // mOhm
    {BEMFConstant, 0, 100000, 30},
    {CommutationMode, 0, 3, 3},          // 0, 1 or 3 (sine, encoder)
    {EncoderSteps, 1, 1000000000, 4096}, // steps per rotation
    {EncoderDirection, 0, 1, 0},
    {InitSineMode, 0, 2, 0},
    {InitSineSpeed, 0, 100000, 200}, // rpm
    {EncoderCommutationOffset, 0, 1000000000, 0},
    {HallSensorInvert, 0, 1, 0},
    {PhaseQSpeedThreshold, 0, 100000, 1000}, // rpm
    // Ramp and positioning.
    {MaxRampVelocity, 0, 100000, 2000}, // rpm
    {Acceleration, 1, 100000, 1000},    // rpm/s
    {EnableVelocityRamp, 0, 1, 1},
    {TargetReachedVelocity, 0, 100000, 10}, // rpm
    {TargetReachedDistance, 0, 100000, 5},  // steps
};

// The power-up values of each PID loop: P, I, D and I-clipping of either set, then the
// threshold speed.
const std::array<qint32, 5> pidValues[] = {
    {600, 100, 0, 100000, 1000},  // current
    {2000, 200, 0, 500000, 1000}, // velocity
    {300, 0, 0, 10000, 1000},     // position
};

// A setting of a PID loop as the catalogue bounds it; false for a number of no loop.
bool pidSetting(int number, Info* info)
{
    for (Loop loop : {CurrentLoop, VelocityLoop, PositionLoop}) {
        const PidLoop& pid = pidLoop(loop);
        for (size_t i = 0; i < pid.numbers.size(); ++i) {
            if (pid.numbers[i] != number)
                continue;
            const size_t kind = i == 8 ? 4 : i % 4; // P, I, D, I-clipping, threshold
            const qint32 maximum =
                kind == 4 ? ThresholdMaximum : (kind == 3 ? pid.iClippingMaximum : GainMaximum);
            *info = Info{Access::Setting, 0, maximum, pidValues[loop][kind]};
            return true;
        }
    }
    return false;
}

std::array<Info, vokt::ParameterNumbers> buildTable()
{
    std::array<Info, vokt::ParameterNumbers> table{};
    const auto at = [&table](int type) -> Info& { return table[static_cast<size_t>(type)]; };

    // Motion: targets and actual values.
    at(TargetPosition) = {Access::Command, Int32Min, Int32Max, 0};
    at(ActualPosition) = {Access::Command, 0, 0, 0};            // may only be cleared
    at(TargetVelocity) = {Access::Command, -100000, 100000, 0}; // rpm
    at(TargetPWM) = {Access::Command, -1000, 1000, 0};          // 1/1000
    at(TargetCurrent) = {Access::Command, -100000, 100000, 0};  // mA
    at(SineInitialisation) = {Access::Command, 0, 1, 1};        // 0 starts a new one
    at(ClearOnce) = {Access::Command, 0, 1, 0};
    at(ClearOnNull) = {Access::Command, 0, 1, 0}; // on the encoder's null channel
    for (int type : {ActualVelocity, RampVelocity, ActualCurrent, ActualPWM, StatusFlags})
        at(type) = {Access::ReadOnly, Int32Min, Int32Max, 0};

    // The settings: the configuration of the catalogue, and the commutation mode.
    for (const Setting& setting : settings)
        at(setting.number) = {Access::Setting, setting.minimum, setting.maximum, setting.value};
    for (const ConfigurationParameter& parameter : configuration()) {
        Info pid;
        if (pidSetting(parameter.number, &pid))
            at(parameter.number) = pid;
        Q_ASSERT(at(parameter.number).access == Access::Setting);
    }
    return table;
}

const std::array<Info, vokt::ParameterNumbers>& table()
{
    static const std::array<Info, vokt::ParameterNumbers> instance = buildTable();
    return instance;
}

} // namespace

Info info(int type)
{
    if (type < 0 || type >= vokt::ParameterNumbers)
        return {};
    return table()[static_cast<size_t>(type)];
}

QList<int> known()
{
    QList<int> numbers;
    for (int type = 0; type < vokt::ParameterNumbers; ++type) {
        if (table()[static_cast<size_t>(type)].access != Access::Unknown)
            numbers << type;
    }
    return numbers;
}

} // namespace ParameterTable

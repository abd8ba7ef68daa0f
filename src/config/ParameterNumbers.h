#pragma once

#include <array>
#include <cstdint>

// The numbers of the axis parameters the tool, the command line and the simulated module
// refer to by name: the catalogue's own (see ParameterCatalogue.h), in a header without Qt
// so that the simulated module's motor model can name them too.

namespace ParameterCatalogue {

// The parameters the tool and the simulated module refer to by name, each named as names()
// names it.
enum Number : int
{
    TargetPosition = 0,
    ActualPosition = 1,
    TargetVelocity = 2,
    ActualVelocity = 3,
    MaxRampVelocity = 4,
    MaxCurrent = 6,
    TargetReachedVelocity = 7,
    TargetReachedDistance = 10,
    Acceleration = 11,
    RampVelocity = 13,
    PhaseQSpeedThreshold = 14,
    EnableVelocityRamp = 146,
    ActualCurrent = 150,
    ActualPWM = 153,
    TargetPWM = 154,
    TargetCurrent = 155,
    StatusFlags = 156,
    CommutationMode = 159,
    SineInitialisation = 160,
    ClearOnce = 161,
    ClearOnNull = 163,
    EncoderCommutationOffset = 165,
    StartCurrent = 177,
    BEMFConstant = 239,
    MotorCoilResistance = 240,
    InitSineSpeed = 241,
    InitSineMode = 249,
    EncoderSteps = 250,
    EncoderDirection = 251,
    MotorPoles = 253,
    HallSensorInvert = 254,
};

// The module's three PID loops, each with two parameter sets and a threshold speed.
enum Loop
{
    CurrentLoop,
    VelocityLoop,
    PositionLoop
};

// Where each of the nine numbers of a loop stands in pidNumbers().
enum PidField
{
    PSet1,
    ISet1,
    DSet1,
    IClippingSet1,
    PSet2,
    ISet2,
    DSet2,
    IClippingSet2,
    ThresholdSpeed
};

// The nine parameter numbers of a loop: P, I, D and I-clipping of set 1, the same of set 2,
// the threshold speed. std::uint8_t is the core's parameter number (vokt::ParameterNumber).
constexpr std::array<std::uint8_t, 9> pidNumbers(Loop loop)
{
    switch (loop) {
    case CurrentLoop:
        return {168, 169, 170, 171, 172, 173, 174, 175, 176};
    case VelocityLoop:
        return {140, 141, 142, 143, 234, 235, 236, 237, 8};
    case PositionLoop:
        break;
    }
    return {130, 131, 132, 135, 230, 231, 232, 233, 12};
}

} // namespace ParameterCatalogue

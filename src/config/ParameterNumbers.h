#pragma once

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

} // namespace ParameterCatalogue

#pragma once

#include "app/BLDC.h"
#include "sim/ServedModule.h"

// The central panel as the window sets it up: a simulated module served on a
// pseudo-terminal, listed last by the USB panel, which outlives the panel.
struct SimulatedPanel
{
    SimulatedPanel() : bldc(nullptr, started(module)) {}

    ServedModule module;
    BLDC bldc;

private:
    static ServedModule* started(ServedModule& module)
    {
        module.start();
        return &module;
    }
};

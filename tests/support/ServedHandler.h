#pragma once

#include "comm/SerialUSBCommandHandler.h"
#include "comm/SerialUSBDevice.h"
#include "sim/ServedModule.h"

#include <QString>

#include <memory>

// A simulated module served on a pseudo-terminal of the test's own, and an open handler
// talking to it through a serial device, as the window's link does.
class ServedHandler
{
public:
    // Serves the module and opens the link; false (and why) when either fails.
    bool start(QString* error)
    {
        if (!m_served.start(error))
            return false;
        m_device = std::make_unique<SerialUSBDevice>(m_served.portName(), QString());
        m_handler.setDevice(m_device.get());
        if (m_handler.open())
            return true;
        *error = QStringLiteral("could not open %1").arg(m_served.portName());
        return false;
    }

    ServedModule& served() { return m_served; }
    SerialUSBDevice& device() { return *m_device; }
    SerialUSBCommandHandler& handler() { return m_handler; }

private:
    // The handler goes before the device it uses, the device before the module's port.
    ServedModule m_served;
    std::unique_ptr<SerialUSBDevice> m_device;
    SerialUSBCommandHandler m_handler;
};

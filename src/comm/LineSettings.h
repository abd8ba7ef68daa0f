#pragma once

#include <QSerialPort>
#include <QString>

#include <optional>

// The line settings of a port. A USB virtual COM port keeps the ones it has: whatever rate
// and framing its driver reports is what the module speaks.
struct LineSettings
{
    qint32 baudRate;
    QSerialPort::DataBits dataBits;
    QSerialPort::Parity parity;
    QSerialPort::StopBits stopBits;
    QSerialPort::FlowControl flowControl;

    // The settings the port at location has before the tool opens it (software flow control
    // always off). Read through the system's terminal interface where there is one (POSIX);
    // nothing where they cannot be read, or elsewhere: the port then opens with the serial
    // port's defaults.
    static std::optional<LineSettings> ofPort(const QString& location);
};

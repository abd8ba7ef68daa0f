#include "PortDiscovery.h"

#include "DebugLine.h"

#include <QSerialPort>
#include <QSerialPortInfo>

QStringList PortDiscovery::usbPortEntries()
{
    QStringList entries;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& port : ports)
        if (port.hasVendorIdentifier())
            entries << usbEntry(port.portName(), port.description());
    return entries;
}

QStringList PortDiscovery::serialPortNames()
{
    QStringList names;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& port : ports)
        if (!port.hasVendorIdentifier())
            names << port.portName();
    return names;
}

QStringList PortDiscovery::openablePorts(const QStringList& names)
{
    QStringList openable;
    for (const QString& name : names) {
        QSerialPort port;
        port.setPortName(name);
        if (port.open(QIODevice::ReadWrite)) {
            port.close();
            openable << name;
        } else if (port.error() == QSerialPort::PermissionError) {
            // Most often the user is not yet in the group that owns the serial ports.
            DebugLine().plain(
                QStringLiteral("could not open: %1 (%2)").arg(name, port.errorString()));
        }
    }
    return openable;
}

QString PortDiscovery::usbEntry(const QString& portName, const QString& description)
{
    return portName + QStringLiteral("   [") + descriptionWord(description) + QStringLiteral("]");
}

QString PortDiscovery::descriptionWord(const QString& description)
{
    const QStringList parts = description.split(QLatin1Char(' '));
    return parts.size() > 1 ? parts.at(1) : QString();
}

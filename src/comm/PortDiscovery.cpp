#include "comm/PortDiscovery.h"

#include "comm/DebugLine.h"
#include "comm/PortAccess.h"

#include <QFile>
#include <QSerialPort>
#include <QSerialPortInfo>

#include <cerrno>
#include <cstring>
#ifndef Q_OS_WIN
#include <unistd.h>
#endif

QList<PortDiscovery::Port> PortDiscovery::systemPorts()
{
    QList<Port> ports;
    const auto available = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& port : available)
        ports.append({port.portName(), port.description(), port.hasVendorIdentifier()});
    return ports;
}

QStringList PortDiscovery::usbPortEntries()
{
    QStringList entries;
    const QList<Port> ports = systemPorts();
    for (const Port& port : ports)
        if (port.usb)
            entries << usbEntry(port.name, port.description);
    return entries;
}

QStringList PortDiscovery::serialPortNames()
{
    QStringList names;
    const QList<Port> ports = systemPorts();
    for (const Port& port : ports)
        if (!port.usb)
            names << port.name;
    return names;
}

QStringList PortDiscovery::openablePorts(const QStringList& names)
{
    QStringList openable;
    for (const QString& name : names) {
        bool permission = false;
        const QString problem = openProblem(name, &permission);
        if (problem.isEmpty()) {
            openable << name;
        } else if (permission) {
            // Most often the user is not yet in the group that owns the serial ports.
            DebugLine().plain(QStringLiteral("could not open: %1 (%2)").arg(name, problem));
        }
    }
    return openable;
}

QString PortDiscovery::openProblem(const QString& name, bool* permission)
{
    QSerialPort port;
    port.setPortName(name);
    const bool opened = port.open(QIODevice::ReadWrite);
    if (permission)
        *permission = !opened && port.error() == QSerialPort::PermissionError;
    if (opened) {
        port.close();
        return QString();
    }
    if (port.error() == QSerialPort::PermissionError)
        return PortAccess::explainPermissionError(
            name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name,
            port.errorString());
    return port.errorString();
}

QString PortDiscovery::permissionProblem(const QString& name)
{
#ifdef Q_OS_WIN
    // A port's access rights are not the user's business there: opening it tells.
    Q_UNUSED(name);
    return QString();
#else
    const QString path = name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
    if (::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0 ||
        (errno != EACCES && errno != EPERM))
        return QString();
    return PortAccess::permissionAdvice(QString::fromLocal8Bit(std::strerror(errno)),
                                        PortAccess::ownershipOf(path));
#endif
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

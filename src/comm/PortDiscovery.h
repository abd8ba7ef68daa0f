#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Finds the ports the two connection panels offer. USB virtual COM ports are the ports the
// system reports with a USB vendor id; every other port is a plain serial port, offered
// only if it can be opened for reading and writing right now.
class PortDiscovery
{
public:
    // One port the system reports.
    struct Port
    {
        QString name; // bare name, e.g. ttyUSB0
        QString description;
        bool usb;
    };

    // Every port the system reports, in the system's order.
    static QList<Port> systemPorts();
    // The USB port list, one "<port name>   [<word>]" entry per port.
    static QStringList usbPortEntries();
    // The bare names (ttyS0, ...) of the ports that are not USB ports.
    static QStringList serialPortNames();
    // Those of the names that can be opened for reading and writing at this moment. A
    // port refused for lack of permission is logged with the reason.
    static QStringList openablePorts(const QStringList& names);
    // Opens the port for reading and writing and closes it again at once. Empty when it
    // opens, otherwise why not; *permission (if given) tells a refusal for lack of
    // permission.
    static QString openProblem(const QString& name, bool* permission = nullptr);
    // Why the user may not open the port, judged from its access rights alone (the port is
    // not opened); empty when nothing stands in the way.
    static QString permissionProblem(const QString& name);

    // "<port name>   [<word>]", the word being the second blank-separated part of the
    // description (empty when it has no blank).
    static QString usbEntry(const QString& portName, const QString& description);
    static QString descriptionWord(const QString& description);
};

#pragma once

#include <QString>
#include <QStringList>

// Finds the ports the two connection panels offer. USB virtual COM ports are the ports the
// system reports with a USB vendor id; every other port is a plain serial port, offered
// only if it can be opened for reading and writing right now.
class PortDiscovery
{
public:
    // The USB port list, one "<port name>   [<word>]" entry per port.
    static QStringList usbPortEntries();
    // The bare names (ttyS0, ...) of the ports that are not USB ports.
    static QStringList serialPortNames();
    // Those of the names that can be opened for reading and writing at this moment. A
    // port refused for lack of permission is logged with the reason.
    static QStringList openablePorts(const QStringList& names);

    // "<port name>   [<word>]", the word being the second blank-separated part of the
    // description (empty when it has no blank).
    static QString usbEntry(const QString& portName, const QString& description);
    static QString descriptionWord(const QString& description);
};

#pragma once

#include "comm/Protocol.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class SerialUSBCommandHandler;
class SerialUSBDevice;

// The link to the module, for the window and the command line alike: which port it is
// opened on and how, the serial device of each connection, opening a new link in place of
// the old one, closing it, opening the last one again (Reconnect), and why it is not open.
//
// The handler is the caller's; the controller attaches to it a new device for every open
// and owns that device until the next open replaces it (the old one is closed and released
// first, so that a link opened again on the same port finds it free) or the controller
// goes.
//
//     LinkController link(handler);
//     if (!link.open({QStringLiteral("ttyUSB0"), QString(), 115200, 1}))
//         report(link.closeReason());
class LinkController : public QObject
{
    Q_OBJECT

public:
    // What a link is opened with.
    struct Request
    {
        QString port;
        // The port's description, as a list of USB ports shows it; kept for display.
        QString description;
        // 0: the port keeps its own line settings (a USB virtual COM port); otherwise the
        // line runs at this rate, 8 data bits, one stop bit, no parity, no flow control.
        int baudRate = 0;
        int address = vokt::DefaultModuleAddress;
        // Who asked, for the caller's own use (the window: which connection panel).
        int origin = 0;
    };

    // Makes the device of a new connection; the default makes a SerialUSBDevice.
    using DeviceFactory = std::function<std::unique_ptr<SerialUSBDevice>(
        const QString& port, const QString& description)>;

    explicit LinkController(SerialUSBCommandHandler& handler, QObject* parent = nullptr);
    // Closes the link and releases its device.
    ~LinkController() override;
    LinkController(const LinkController&) = delete;
    LinkController& operator=(const LinkController&) = delete;

    void setDeviceFactory(DeviceFactory factory);

    // Opens a link in place of the one there is. true when its port opened; otherwise the
    // device stays attached, closed, and closeReason() says why.
    bool open(const Request& request);
    // Opens the link last asked for again, with the same settings. false when none was
    // asked for, or it did not open.
    bool reconnect();
    // Closes the link. Its device stays attached until the next open.
    void close();

    // For the motor's stop alone, after a time-out or a lost port closed the link: opens the
    // last link's port again on a new device, with the same settings, without announcing it (closeReason()
    // goes on saying why the link closed). true when it opened; endStopOnly() closes it
    // again. false when the link is open, none was asked for, the user closed it, or the
    // port did not open (*error says why).
    bool reopenForStop(QString* error);
    void endStopOnly();

    bool isOpen() const;
    // Whether a link was asked for, and which one was last.
    bool hasRequest() const { return m_hasRequest; }
    const Request& lastRequest() const { return m_request; }
    SerialUSBCommandHandler& handler() const { return m_handler; }
    // The device of the last link; nullptr before the first open.
    SerialUSBDevice* device() const { return m_device.get(); }
    // Why the link is not open: why its port did not open, why the handler lost it (the
    // module did not answer in time, the port failed), or ClosedByUser. Empty before the
    // first open and while the link is open.
    QString closeReason() const;

    static const QString ClosedByUser;

private:
    void linkLost(const QString& reason);

    SerialUSBCommandHandler& m_handler;
    DeviceFactory m_factory;
    std::unique_ptr<SerialUSBDevice> m_device;
    Request m_request;
    bool m_hasRequest = false;
    QString m_closeReason;
    // The close reason kept while the port is open for the stop alone.
    std::optional<QString> m_stopOnlyReason;
};

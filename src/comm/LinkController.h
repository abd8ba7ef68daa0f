#pragma once

#include "comm/Protocol.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class SerialUSBCommandHandler;
class SerialUSBDevice;

// The link to the module, for the window and the command line alike, and its one owner:
// which port it is opened on and how, the serial device of each connection, opening a new
// link in place of the old one, closing it, opening the last one again (Reconnect), and why
// it is not open. Every change of the link (opened, not opened, closed by the user, lost
// under the handler, opened for the stop alone) is told once, by stateChanged(), with the
// whole state; whoever shows or follows the link (the connection panels, the status line,
// polling, the charts, the stop) reads it there and keeps no copy of its own.
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

    // What the link is.
    struct State
    {
        enum Kind
        {
            // Never opened, or closed by the user.
            Closed,
            Open,
            // The port of the link asked for did not open (reason says why).
            OpenFailed,
            // The handler closed it: the module did not answer in time, the port failed.
            Lost,
            // Lost, and its port open again for the motor's stop alone; shown as lost.
            StopOnly
        };
        Kind kind = Closed;
        // Why it is not open (ClosedByUser after close()); for StopOnly why it was lost.
        QString reason;
        // The link last asked for: its port, settings and origin.
        Request request;

        bool isOpen() const { return kind == Open; }
        // Lost, or open for the stop alone: the link shown as down that a stop may still
        // reach through its port.
        bool isLost() const { return kind == Lost || kind == StopOnly; }
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
    // last link's port again on a new device, with the same settings (the state is StopOnly:
    // closeReason() goes on saying why the link was lost). true when it opened; endStopOnly()
    // closes it again (the state is Lost again). false when the link is open, none was asked for,
    // the user closed it, or the port did not open (*error says why).
    bool reopenForStop(QString* error);
    void endStopOnly();

    bool isOpen() const;
    const State& state() const { return m_state; }
    // Whether a link was asked for, and which one was last.
    bool hasRequest() const { return m_hasRequest; }
    const Request& lastRequest() const { return m_state.request; }
    SerialUSBCommandHandler& handler() const { return m_handler; }
    // The device of the last link; nullptr before the first open.
    SerialUSBDevice* device() const { return m_device.get(); }
    // Why the link is not open: why its port did not open, why the handler lost it (the
    // module did not answer in time, the port failed), or ClosedByUser. Empty before the
    // first open and while the link is open.
    QString closeReason() const;

    static const QString ClosedByUser;

signals:
    // The link changed; emitted once for every change, after it is made.
    void stateChanged(const LinkController::State& state);

private:
    void handlerLostLink(const QString& reason);
    void setState(State::Kind kind, const QString& reason);

    SerialUSBCommandHandler& m_handler;
    DeviceFactory m_factory;
    std::unique_ptr<SerialUSBDevice> m_device;
    bool m_hasRequest = false;
    State m_state;
};

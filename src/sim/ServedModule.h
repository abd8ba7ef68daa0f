#pragma once

#include "sim/PtyPeer.h"

#include <QString>

#include <functional>
#include <memory>

class SimulatedModule;

// A simulated module served on a pseudo-terminal: the slave end's path is a port name that
// SerialUSBDevice (or any serial tool) opens, and the peer's worker thread answers every
// request frame through the simulated module. Used by the app (the "[Simulated]" entry of
// the USB port list), by the ziro-bldc-sim command and by tests.
//
//     ServedModule served;
//     if (served.start())
//         ports << served.portName() + "   [Simulated]";
//
// The module keeps running (its motor moves on its monotonic clock) between requests and
// across connections, until the served module is destroyed.
class ServedModule
{
public:
    // A broken request (bytes of less than a frame) is dropped after this long without
    // more, as a module on a real line does.
    static constexpr int FrameTimeoutMs = 100;
    // The peer keeps at most this many requests in its log.
    static constexpr int RequestLogLimit = 4096;

    // The module answers frames that carry this address.
    explicit ServedModule(int address = 1);
    // Stops serving.
    ~ServedModule();
    ServedModule(const ServedModule&) = delete;
    ServedModule& operator=(const ServedModule&) = delete;

    // Opens the pty and starts answering; false (with the reason) if no pty could be had.
    // Starting a running module does nothing and succeeds.
    bool start(QString* error = nullptr);
    // Stops answering and closes the pty; to a tool that has it open the port goes away.
    // The module keeps its state; start() serves it again on a new pty.
    void stop();
    bool isRunning() const;
    // The slave end, e.g. /dev/pts/4; empty before the first start().
    QString portName() const;

    // The line itself: baud pacing, reply delay, silence and garbage, for tests and the
    // command. Its setters may be used while the module is served.
    PtyPeer& peer();
    // The module behind the line. Not thread-safe on its own: while the module is served
    // the worker thread uses it, so reach it through withModule() then.
    SimulatedModule& module();
    // Runs f with the module while no request is being answered. Any thread.
    void withModule(const std::function<void(SimulatedModule&)>& f);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

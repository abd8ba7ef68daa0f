#pragma once

#include "sim/MotorSettings.h"
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
// It may also play a whole RS-485 bus: several modules on the one line, each with its own
// parameters and motor. Every module hears every request and only those addressed answer,
// in their order, each DuplicateGapMinMs to DuplicateGapMaxMs after the one before: two
// modules set to the same address look to the tool as such a conflict does on a real line.
//
// The modules keep running (their motors move on the monotonic clock) between requests and
// across connections, until the served module is destroyed.
class ServedModule
{
public:
    // A broken request (bytes of less than a frame) is dropped after this long without
    // more, as a module on a real line does.
    static constexpr int FrameTimeoutMs = 100;
    // The peer keeps at most this many requests in its log.
    static constexpr int RequestLogLimit = 4096;

    // How much later than the one before a second module at the same address answers.
    static constexpr int DuplicateGapMinMs = 1;
    static constexpr int DuplicateGapMaxMs = 3;

    // The module answers frames that carry this address.
    explicit ServedModule(int address = 1);
    // A bus: one module for each address, in this order; an address may repeat. Every
    // module drives a motor of the settings.
    explicit ServedModule(const QList<int>& addresses, const MotorSettings& motor = {});
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

    // The rate the modules' serial interfaces run at: the line is paced to it, starts at
    // it, and a module hears (and answers) only while the tool has set the line to it; a
    // request sent at another rate is noise to it. 0, the default: any rate, unpaced.
    // Before start().
    void setBaudRate(int baudRate);
    int baudRate() const;

    // The line itself: baud pacing, reply delay, silence and garbage, for tests and the
    // command. Its setters may be used while the module is served.
    PtyPeer& peer();
    int moduleCount() const;
    // A module behind the line (the first by default). Not thread-safe on its own: while
    // the module is served the worker thread uses it, so reach it through withModule() then.
    SimulatedModule& module(int index = 0);
    // Runs f with the (first) module while no request is being answered. Any thread.
    void withModule(const std::function<void(SimulatedModule&)>& f);
    void withModule(int index, const std::function<void(SimulatedModule&)>& f);
    // Told every request frame that reaches the modules (at their rate), on the peer's
    // thread, before any module answers it. Before start().
    void setRequestObserver(std::function<void(const QByteArray& request)> observer);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

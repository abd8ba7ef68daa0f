#pragma once

#include "comm/SerialUSBCommandHandler.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// Finds the modules on a serial line (an RS-485 bus) whose addresses and rates nobody
// remembers. For each rate asked it opens the port once, and sends every address of the
// range one harmless read (get axis parameter 0 of motor/bank 0) with a deadline of a few
// frame times instead of the usual half second. Who answers is a module; an address whose
// request draws more bytes than one reply, or a broken one, has more than one module on it
// (their answers follow or garble each other): a conflict.
//
// The scan goes one step at a time, so that a window keeps serving its events and a
// Cancel or Ctrl-C ends it within one exchange:
//
//     ModuleScanner scanner({port, {115200, 57600}, 1, 255});
//     while (scanner.step() && !cancelled)
//         showProgress(scanner.probesDone(), scanner.probeCount());
//
// The scanner opens the port itself (through a LinkController of its own), so the port
// must not be open elsewhere; it is closed when the scan ends or the scanner goes.
class ModuleScanner
{
public:
    struct Plan
    {
        QString port;
        // In the order tried; empty: every rate of vokt::SerialBaudRates, fastest first.
        QList<int> baudRates;
        int from = 1;
        int to = 255;
        // The time a module (and the adapters on the way) has to turn a request round, on
        // top of the frames' time on the line: more for slow adapters.
        int turnaroundMs = TurnaroundMarginMs;
    };
    struct Found
    {
        int address;
        int baudRate;
        // More than one module answers at the address.
        bool conflict;
    };

    // The time a module has to answer (two frame times on the line, request and reply,
    // and TurnaroundMarginMs for the module and the adapters), and how long the line must
    // then stay quiet for the answer to be the only one (one frame time and the margin).
    static constexpr int TurnaroundMarginMs = 12;
    static int deadlineMs(int baudRate, int turnaroundMs = TurnaroundMarginMs);
    static int quietMs(int baudRate, int turnaroundMs = TurnaroundMarginMs);
    // Every rate the serial panel offers, fastest first.
    static QList<int> allBaudRates();

    // Who answers at one address of a line the handler has open, asked as a scan asks
    // (get axis parameter 0, the scan's short deadline at baudRate): nobody, one module, more
    // than one (more bytes than one reply, or a broken one), or the port failed.
    enum class Presence
    {
        Absent,
        Module,
        Conflict,
        LinkLost
    };
    // What the handler's probe saw goes to *seen (if given).
    static Presence probe(SerialUSBCommandHandler& handler, int address, int baudRate,
                          int turnaroundMs = TurnaroundMarginMs,
                          SerialUSBCommandHandler::Probe* seen = nullptr);

    explicit ModuleScanner(const Plan& plan);
    ~ModuleScanner();
    ModuleScanner(const ModuleScanner&) = delete;
    ModuleScanner& operator=(const ModuleScanner&) = delete;

    // Whether every frame is logged (as the handler does; on by default).
    void setDebug(bool debug);
    // Told of every module and conflict as soon as it is found.
    void setOnFound(std::function<void(const Found&)> onFound);

    // One step: opens the port at the next rate, or probes the next address. false once
    // the scan is over (every address tried, or the port failed); then finished().
    bool step();
    bool finished() const;

    const Plan& plan() const;
    // Probes of the whole scan, and those done.
    int probeCount() const;
    int probesDone() const;
    // The rate and address of the next probe.
    int baudRate() const;
    int address() const;
    // What was found so far, in the order found.
    QList<Found> found() const;
    // A rate at which the port did not open, and why ("could not open P at N baud:
    // reason"), one text each; such a rate is skipped.
    QStringList problems() const;
    // Whether the line gave requests back as they were sent (an RS-485 adapter that hears
    // its own transmission). Such an echo is no answer and no conflict: only modules that
    // answered are found.
    bool lineEchoes() const;
    // Whether the port opened at at least one rate.
    bool portOpened() const;
    // The port failed during the scan (a USB adapter pulled out), which ended it; why.
    QString failure() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

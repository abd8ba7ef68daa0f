#pragma once

#include "comm/SerialUSBCommandHandler.h"
#include "comm/SerialUSBDevice.h"
#include "sim/PtyPeer.h"

#include <cstdio>
#include <cstdlib>

// A module end and a handler with its serial device, joined by a pseudo-terminal: the
// module answers every request with status 100, the request's command and the value 1000,
// at once or as a line of the given baud rate would carry request and reply. A benchmark
// that cannot have one ends at once.
struct BenchLink
{
    explicit BenchLink(int baudRate)
    {
        QString error;
        if (!peer.start(&error)) {
            std::fprintf(stderr, "no pseudo-terminal: %s\n", qPrintable(error));
            std::exit(1);
        }
        peer.setBaudRate(baudRate);
        // A benchmark runs for many thousand exchanges; the peer need not keep them.
        peer.setRequestLogLimit(16);
        peer.setResponder(PtyPeer::answeringWith(1000));
        device = new SerialUSBDevice(peer.portName(), QString());
        handler.setDevice(device);
        if (!handler.open()) {
            std::fprintf(stderr, "could not open %s\n", qPrintable(peer.portName()));
            std::exit(1);
        }
    }
    ~BenchLink()
    {
        handler.close();
        delete device;
    }
    BenchLink(const BenchLink&) = delete;
    BenchLink& operator=(const BenchLink&) = delete;

    PtyPeer peer;
    SerialUSBDevice* device = nullptr;
    SerialUSBCommandHandler handler;
};

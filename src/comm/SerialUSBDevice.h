#pragma once

#include <QIODevice>
#include <QRecursiveMutex>
#include <QString>

class QSerialPort;

// The byte pipe to the module over one serial port: a USB virtual COM port (the port keeps
// its own line settings) or a plain serial line (the chosen baud rate, 8 data bits, one
// stop bit, no parity, no flow control). It knows nothing of frames.
//
// One device serves one connection. After close() the port is released for good: a
// second open() reports the device as open but isPortOpen() stays false, so the command
// handler will not send through it.
//
// Every failure (an open refused, a port that went away, a write that did not go out)
// leaves its reason in errorString(); the device reports none of them itself.
class SerialUSBDevice : public QIODevice
{
public:
    // How long a write may take before the bytes not yet on the line are dropped.
    static constexpr int WriteTimeoutMs = 1000;
    // The most input the device holds. A line that streams bytes faster than they are
    // looked at leaves the rest in the system's buffer, so memory stays bounded whatever
    // arrives.
    static constexpr qint64 InputLimit = 4096;

    SerialUSBDevice(const QString& portName, const QString& description);
    ~SerialUSBDevice() override;

    void setBaudRate(int baudRate);
    int baudRate() const { return m_baudRate; }
    bool isBaudRateSet() const { return m_baudRateSet; }

    bool open(OpenMode mode) override;
    void close() override;
    bool isPortOpen() const { return m_portOpened; }

    // 0 before the first open, -1 once the port is released or reports an error (a USB
    // adapter pulled out), otherwise the number of bytes waiting. Takes in whatever has
    // arrived on the line, so it works without a running event loop.
    qint64 bytesAvailable();
    // Blocks until more input arrives or msecs pass; true if input arrived. Sleeps the
    // whole time when the port is not open.
    bool waitForInput(int msecs);
    // Drops everything waiting in the input and returns how many bytes that was.
    qint64 discardInput();
    // Drops whatever arrives until the line has been quiet for quietMs, or limitMs have
    // passed; returns how many bytes that was. Returns at once when the port is not open.
    qint64 drainUntilQuiet(int quietMs, int limitMs);
    // The time one frame of `bytes` bytes takes on the line at the set baud rate (10 bits a
    // byte), rounded up; 0 for a port that keeps its own line settings.
    int frameTimeMs(int bytes) const;
    // Copies up to maxSize waiting bytes into data without taking them from the input.
    qint64 peekData(char* data, qint64 maxSize);

    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

    QString portName() const { return m_portName; }
    QString description() const { return m_description; }

private:
    // Whether the port reports an error that ends the connection; records its reason.
    bool portHasFailed();
    void pullArrivedInput();

    QString m_portName;
    QString m_description;
    QRecursiveMutex m_mutex;
    bool m_baudRateSet;
    bool m_portOpened;
    int m_baudRate;
    QSerialPort* m_port;
};

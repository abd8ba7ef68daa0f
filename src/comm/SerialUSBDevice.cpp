#include "comm/SerialUSBDevice.h"

#include "comm/LineSettings.h"
#include "comm/PortAccess.h"

#include <QElapsedTimer>
#include <QMutexLocker>
#include <QSerialPort>
#include <QThread>

namespace {

// A bare name (ttyUSB0) stands for the device of that name; a path for itself.
QString systemLocation(const QString& portName)
{
#ifdef Q_OS_WIN
    return portName;
#else
    return portName.startsWith(QLatin1Char('/')) ? portName : QStringLiteral("/dev/") + portName;
#endif
}

} // namespace

SerialUSBDevice::SerialUSBDevice(const QString& portName, const QString& description)
    : m_portName(portName), m_description(description), m_baudRateSet(false), m_portOpened(false),
      m_baudRate(0), m_port(nullptr)
{
    setOpenMode(NotOpen);
}

SerialUSBDevice::~SerialUSBDevice()
{
    close();
}

void SerialUSBDevice::setBaudRate(int baudRate)
{
    m_baudRate = baudRate;
    m_baudRateSet = true;
}

bool SerialUSBDevice::open(OpenMode mode)
{
    if (mode == NotOpen)
        return QIODevice::isOpen();
    // A device that was open once is not opened again: its port stays released.
    if (QIODevice::isOpen())
        return true;

    auto* port = new QSerialPort;
    port->setPortName(systemLocation(m_portName));
    if (m_baudRateSet) {
        port->setBaudRate(m_baudRate);
        port->setDataBits(QSerialPort::Data8);
        port->setStopBits(QSerialPort::OneStop);
        port->setParity(QSerialPort::NoParity);
        port->setFlowControl(QSerialPort::NoFlowControl);
    } else if (const auto line = LineSettings::ofPort(systemLocation(m_portName))) {
        port->setBaudRate(line->baudRate);
        port->setDataBits(line->dataBits);
        port->setStopBits(line->stopBits);
        port->setParity(line->parity);
        port->setFlowControl(line->flowControl);
    }

    if (!port->open(QIODevice::ReadWrite)) {
        // The reason tells a missing port from a busy one or a file that is no serial port;
        // the caller reports it. A refusal says what to do: join the port's group, or which
        // program holds it.
        if (port->error() == QSerialPort::PermissionError)
            setErrorString(PortAccess::explainPermissionError(systemLocation(m_portName),
                                                              port->errorString()));
        else
            setErrorString(port->errorString());
        delete port;
        close();
        return QIODevice::isOpen();
    }

    // Input beyond the limit waits in the system's buffer until this is looked at.
    port->setReadBufferSize(InputLimit);
    QIODevice::open(mode);
    m_port = port;
    m_portOpened = true;
    return QIODevice::isOpen();
}

void SerialUSBDevice::close()
{
    QMutexLocker lock(&m_mutex);
    if (!m_portOpened)
        return;
    m_port->close();
    delete m_port;
    m_port = nullptr;
    m_portOpened = false;
    // The open mode stays as it was: this device is done with, a new connection takes a
    // new device.
}

bool SerialUSBDevice::portHasFailed()
{
    if (!m_port)
        return true;
    const auto error = m_port->error();
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError)
        return false;
    // The system's text alone can be misleading (a line that hung up reads as a failed
    // ioctl), so the kind of failure goes first.
    QString kind;
    switch (error) {
    case QSerialPort::ReadError:
        kind = QStringLiteral("read failed: ");
        break;
    case QSerialPort::WriteError:
        kind = QStringLiteral("write failed: ");
        break;
    case QSerialPort::ResourceError:
        kind = QStringLiteral("port unavailable: ");
        break;
    default:
        break;
    }
    setErrorString(kind + m_port->errorString());
    return true;
}

void SerialUSBDevice::pullArrivedInput()
{
    // QSerialPort fills its buffer from the event loop or its wait functions; a zero wait
    // takes in what is there without blocking.
    m_port->waitForReadyRead(0);
    if (m_port->error() == QSerialPort::TimeoutError)
        m_port->clearError();
}

qint64 SerialUSBDevice::bytesAvailable()
{
    QMutexLocker lock(&m_mutex);
    if (openMode() == NotOpen)
        return 0;
    if (!m_portOpened)
        return -1;
    pullArrivedInput();
    if (portHasFailed())
        return -1;
    return m_port->bytesAvailable() + QIODevice::bytesAvailable();
}

bool SerialUSBDevice::waitForInput(int msecs)
{
    QMutexLocker lock(&m_mutex);
    if (!m_portOpened || portHasFailed()) {
        lock.unlock();
        QThread::msleep(static_cast<unsigned long>(msecs));
        return false;
    }
    const bool arrived = m_port->waitForReadyRead(msecs);
    if (m_port->error() == QSerialPort::TimeoutError)
        m_port->clearError();
    return arrived;
}

qint64 SerialUSBDevice::discardInput()
{
    QMutexLocker lock(&m_mutex);
    if (!m_portOpened || portHasFailed())
        return 0;
    pullArrivedInput();
    const qint64 dropped = m_port->readAll().size();
    return dropped;
}

qint64 SerialUSBDevice::drainUntilQuiet(int quietMs, int limitMs)
{
    QElapsedTimer total;
    total.start();
    QElapsedTimer quiet;
    quiet.start();
    qint64 drained = 0;
    while (m_portOpened && !portHasFailed()) {
        const qint64 dropped = discardInput();
        if (dropped > 0) {
            drained += dropped;
            quiet.restart();
        }
        const qint64 quietLeft = quietMs - quiet.elapsed();
        const qint64 limitLeft = limitMs - total.elapsed();
        if (quietLeft <= 0 || limitLeft <= 0)
            break;
        waitForInput(static_cast<int>(qMin(quietLeft, limitLeft)));
    }
    return drained;
}

int SerialUSBDevice::frameTimeMs(int bytes) const
{
    if (!m_baudRateSet || m_baudRate <= 0)
        return 0;
    return static_cast<int>((qint64(bytes) * 10 * 1000 + m_baudRate - 1) / m_baudRate);
}

qint64 SerialUSBDevice::peekData(char* data, qint64 maxSize)
{
    QMutexLocker lock(&m_mutex);
    if (!m_portOpened || maxSize <= 0)
        return 0;
    pullArrivedInput();
    return qMax<qint64>(m_port->peek(data, maxSize), 0);
}

qint64 SerialUSBDevice::readData(char* data, qint64 maxSize)
{
    QMutexLocker lock(&m_mutex);
    if (!m_portOpened || maxSize <= 0)
        return 0;
    pullArrivedInput();
    return qMax<qint64>(m_port->read(data, maxSize), 0);
}

qint64 SerialUSBDevice::writeData(const char* data, qint64 size)
{
    QMutexLocker lock(&m_mutex);
    if (!m_portOpened || size <= 0)
        return 0;
    if (portHasFailed())
        return 0;
    const qint64 queued = m_port->write(data, size);
    if (queued <= 0) {
        portHasFailed();
        return 0;
    }
    QElapsedTimer timer;
    timer.start();
    while (m_port->bytesToWrite() > 0 && !portHasFailed()) {
        const qint64 left = WriteTimeoutMs - timer.elapsed();
        if (left <= 0)
            break;
        m_port->waitForBytesWritten(static_cast<int>(left));
    }
    if (m_port->error() == QSerialPort::TimeoutError)
        m_port->clearError();
    const qint64 unwritten = m_port->bytesToWrite();
    if (unwritten > 0) {
        // What did not go out in time must not follow later as the tail of a frame.
        if (!portHasFailed())
            setErrorString(QStringLiteral("%1 of %2 bytes not written within %3 ms")
                               .arg(unwritten)
                               .arg(size)
                               .arg(WriteTimeoutMs));
        m_port->clear(QSerialPort::Output);
    }
    return qMax<qint64>(queued - unwritten, 0);
}

#include "app/RememberedSettings.h"

#include "panels/connection/WConnection.h"
#include "panels/connection/WSerialConnection.h"
#include "trace/WTraceController.h"

#include <QStandardPaths>

namespace {

const QString UsbPortKey = QStringLiteral("usb/port");
const QString SerialPortKey = QStringLiteral("serial/port");
const QString BaudRateKey = QStringLiteral("serial/baudrate");
const QString AddressKey = QStringLiteral("serial/address");
const QString DelayKey = QStringLiteral("trace/delay");
const QString GeometryKey = QStringLiteral("window/geometry");
const QString StateKey = QStringLiteral("window/state");
const QString SplitterKey = QStringLiteral("window/splitter");

} // namespace

RememberedSettings::RememberedSettings(const QString& fileName, QObject* parent)
    : QObject(parent), m_settings(fileName, QSettings::IniFormat)
{
}

QString RememberedSettings::defaultFileName()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/ziro-bldc/ziro-bldc.conf");
}

void RememberedSettings::attach(WConnection* usb, WSerialConnection* serial,
                                WTraceController* trace)
{
    usb->selectPort(m_settings.value(UsbPortKey).toString());
    serial->selectPort(m_settings.value(SerialPortKey).toString());
    bool ok = false;
    const int baudRate = m_settings.value(BaudRateKey).toInt(&ok);
    if (ok)
        serial->selectBaudRate(baudRate);
    const int address = m_settings.value(AddressKey).toInt(&ok);
    if (ok)
        serial->setAddress(address);
    const int delay = m_settings.value(DelayKey).toInt(&ok);
    if (ok)
        trace->setDelay(delay);

    connect(usb, &WConnection::openDevice, this, &RememberedSettings::rememberUsbPort);
    connect(serial, &WSerialConnection::openDevice, this, &RememberedSettings::rememberSerialPort);
    connect(trace, &WTraceController::delayChanged, this, &RememberedSettings::rememberDelay);
}

QByteArray RememberedSettings::windowGeometry() const
{
    return m_settings.value(GeometryKey).toByteArray();
}

QByteArray RememberedSettings::windowState() const
{
    return m_settings.value(StateKey).toByteArray();
}

void RememberedSettings::rememberWindow(const QByteArray& geometry, const QByteArray& state)
{
    m_settings.setValue(GeometryKey, geometry);
    m_settings.setValue(StateKey, state);
    m_settings.sync();
}

QByteArray RememberedSettings::splitterState() const
{
    return m_settings.value(SplitterKey).toByteArray();
}

void RememberedSettings::rememberSplitter(const QByteArray& state)
{
    m_settings.setValue(SplitterKey, state);
    m_settings.sync();
}

void RememberedSettings::rememberUsbPort(const QString& name)
{
    if (name.isEmpty())
        return;
    m_settings.setValue(UsbPortKey, name);
    m_settings.sync();
}

void RememberedSettings::rememberSerialPort(const QString& port, int baudrate, int address)
{
    if (port.isEmpty())
        return;
    m_settings.setValue(SerialPortKey, port);
    m_settings.setValue(BaudRateKey, baudrate);
    m_settings.setValue(AddressKey, address);
    m_settings.sync();
}

void RememberedSettings::rememberDelay(int delayMs)
{
    m_settings.setValue(DelayKey, delayMs);
    m_settings.sync();
}

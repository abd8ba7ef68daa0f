#pragma once

#include <QByteArray>
#include <QObject>
#include <QSettings>
#include <QString>

class WConnection;
class WSerialConnection;
class WTraceController;

// What the window remembers from one run to the next, in the user's configuration
// directory: the port last connected from each connection panel (selected at start if it
// is still there), the serial panel's baud rate and address, the trace delay, the
// window's geometry and dock layout, and where the splitter between tabs and charts is. Only
// choices are restored; nothing is opened, and nothing is sent to the module, at start.
class RememberedSettings : public QObject
{
    Q_OBJECT

public:
    explicit RememberedSettings(const QString& fileName = defaultFileName(),
                                QObject* parent = nullptr);

    // <configuration directory>/ziro-bldc/ziro-bldc.conf
    static QString defaultFileName();
    QString fileName() const { return m_settings.fileName(); }

    // Shows the remembered choices in the panels, and remembers every new one: a port and
    // its settings when Connect is pressed, the delay when it changes.
    void attach(WConnection* usb, WSerialConnection* serial, WTraceController* trace);

    QByteArray windowGeometry() const;
    QByteArray windowState() const;
    void rememberWindow(const QByteArray& geometry, const QByteArray& state);
    QByteArray splitterState() const;
    void rememberSplitter(const QByteArray& state);

public slots:
    void rememberUsbPort(const QString& name);
    void rememberSerialPort(const QString& port, int baudrate, int address);
    void rememberDelay(int delayMs);

private:
    QSettings m_settings;
};

#pragma once

#include <QString>
#include <QWidget>

namespace Ui {
class WSerialConnection;
}

// The "Serial Connection" panel: lists the serial ports that can be opened (any other port
// name or path may be typed in), offers the baud rate and the module address, and asks the
// central panel to open or close the link.
class WSerialConnection : public QWidget
{
    Q_OBJECT

public:
    explicit WSerialConnection(QWidget* parent = nullptr);
    explicit WSerialConnection(const QString& title, QWidget* parent = nullptr);
    ~WSerialConnection() override;

    // Fills the port list anew with every serial port that can be opened right now.
    void refresh();
    // Selects a listed port; a path that is not listed (typed in before) is put back into
    // the field if it still exists. false if neither.
    bool selectPort(const QString& port);
    // Selects the rate if the list offers it; false otherwise.
    bool selectBaudRate(int baudRate);
    void setAddress(int address);

signals:
    void openDevice(const QString& port, int baudrate, int address);
    void closeDevice();

public slots:
    // The link is gone (closed after a time-out or a lost port, replaced by the other
    // panel's, or never opened): Connect is offered again.
    void deviceClosed();
    // The link of this panel is open (again): Disconnect is offered.
    void deviceOpened();

private slots:
    void on_btnConnect_clicked();
    void on_btnDisconnect_clicked();
    void on_btnUpdate_clicked();

private:
    void setConnected(bool connected);

    Ui::WSerialConnection* m_ui;
};

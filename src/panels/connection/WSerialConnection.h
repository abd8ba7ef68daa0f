#pragma once

#include <QList>
#include <QString>
#include <QWidget>

#include <memory>

namespace Ui {
class WSerialConnection;
}

// The "Serial Connection" panel: lists the serial ports that can be opened (any other port
// name or path may be typed in), offers the baud rate and the module address, and asks the
// central panel to open or close the link. "Find modules…" asks for a scan of the port's
// line (findModules); a module chosen from what it found comes back through chooseModule().
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
    // The port as chosen or typed in.
    QString port() const;
    // The rates the panel offers, in its order.
    QList<int> baudRates() const;

signals:
    void openDevice(const QString& port, int baudrate, int address);
    void closeDevice();
    // "Find modules…": the user wants the modules on the port's line found.
    void findModules(const QString& port);

public slots:
    // The link is gone (closed after a time-out or a lost port, replaced by the other
    // panel's, or never opened): Connect is offered again.
    void deviceClosed();
    // The link of this panel is open (again): Disconnect is offered.
    void deviceOpened();
    // A module found on the line: takes its address and baud rate and, with connectNow,
    // connects to it as Connect does.
    void chooseModule(int address, int baudRate, bool connectNow);

private slots:
    void on_btnConnect_clicked();
    void on_btnDisconnect_clicked();
    void on_btnUpdate_clicked();
    void on_btnFindModules_clicked();

private:
    void setConnected(bool connected);
    // The chosen port's path from its start, and whole in the tool tip.
    void showPortStart();

    std::unique_ptr<Ui::WSerialConnection> m_ui;
};

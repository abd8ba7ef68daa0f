#pragma once

#include <QString>
#include <QWidget>

#include <memory>

namespace Ui {
class WConnection;
}

// The "USB Connection" panel: lists the USB virtual COM ports (and the simulated module),
// and asks the central panel to open or close the chosen one.
class WConnection : public QWidget
{
    Q_OBJECT

public:
    explicit WConnection(QWidget* parent = nullptr);
    explicit WConnection(const QString& title, QWidget* parent = nullptr);
    ~WConnection() override;

    // Fills the port list anew: the USB ports, then the simulated module if there is one.
    void refresh();
    // The line of the in-process simulated module, listed last as "<path>   [Simulated]";
    // empty for none. Takes effect at the next refresh.
    void setSimulatedPort(const QString& path);
    // Selects the entry of the port with this name; false (selection unchanged) if the
    // list has none.
    bool selectPort(const QString& name);

signals:
    void openDevice(const QString& name, const QString& description);
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
    // Splits a list entry "<name>   [<description>]".
    static void splitEntry(const QString& entry, QString* name, QString* description);

    std::unique_ptr<Ui::WConnection> m_ui;
    QString m_simulatedPort;
};

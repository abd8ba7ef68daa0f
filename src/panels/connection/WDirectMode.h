#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class WDirectMode;
}

// The "VOKT" tab: sends one raw command (command, type, motor/bank, value) to the module
// and shows the fields of its reply. Enter in a request field sends, as Send does. The
// address field says which module on the line the command goes to: the link's own (the
// default, set whenever a link opens) through doRequest, any other through
// doAddressedRequest, without reconnecting.
class WDirectMode : public QWidget
{
    Q_OBJECT

public:
    explicit WDirectMode(QWidget* parent = nullptr);
    ~WDirectMode() override;

signals:
    void doRequest(char command, char type, char motorBank, int value);
    void doAddressedRequest(int address, char command, char type, char motorBank, int value);

public slots:
    void on_btnSend_clicked();
    void requestResult(char motorBank, char command, char status, int value);
    // The link's module address: the address field shows it from now on.
    void setLinkAddress(int address);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<Ui::WDirectMode> m_ui;
    int m_linkAddress;
};

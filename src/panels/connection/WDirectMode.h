#pragma once

#include <QWidget>

namespace Ui {
class WDirectMode;
}

// The "VOKT" tab: sends one raw command (command, type, motor/bank, value) to the module
// and shows the fields of its reply. Enter in a request field sends, as Send does.
class WDirectMode : public QWidget
{
    Q_OBJECT

public:
    explicit WDirectMode(QWidget* parent = nullptr);
    ~WDirectMode() override;

signals:
    void doRequest(char command, char type, char motorBank, int value);

public slots:
    void on_btnSend_clicked();
    void requestResult(char motorBank, char command, char status, int value);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Ui::WDirectMode* m_ui;
};

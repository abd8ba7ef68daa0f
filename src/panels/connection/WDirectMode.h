#pragma once

#include <QWidget>

namespace Ui {
class WDirectMode;
}

// The "VOKT" tab: sends one raw command (command, type, motor/bank, value) to the module
// and shows the fields of its reply.
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

private:
    Ui::WDirectMode* m_ui;
};

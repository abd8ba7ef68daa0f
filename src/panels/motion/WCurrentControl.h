#pragma once

#include "panels/motion/JogPanel.h"

#include <QString>

#include <memory>

namespace Ui {
class WCurrentControl;
}

// The torque mode panel: the actual current (150, polled live) and jog buttons that write the
// target current (155) in mA.
class WCurrentControl : public JogPanel
{
    Q_OBJECT

public:
    explicit WCurrentControl(QWidget* parent = nullptr);
    // The same panel with another title on its group box.
    explicit WCurrentControl(const QString& title, QWidget* parent = nullptr);
    ~WCurrentControl() override;

public slots:
    void on_btnLeft_clicked() { jog(-1); }
    void on_btnStop_clicked() { jog(0); }
    void on_btnRight_clicked() { jog(1); }

private:
    std::unique_ptr<Ui::WCurrentControl> m_ui;
};

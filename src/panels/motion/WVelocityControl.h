#pragma once

#include "panels/motion/JogPanel.h"

#include <memory>

namespace Ui {
class WVelocityControl;
}

// The velocity mode panel: the actual velocity and jog buttons that write the target
// velocity, both in rpm. The central panel sets the numbers (3 and 2).
class WVelocityControl : public JogPanel
{
    Q_OBJECT

public:
    explicit WVelocityControl(QWidget* parent = nullptr);
    ~WVelocityControl() override;

    // The actual and the target velocity's numbers, in that order.
    void setTypes(char actual, char target);

private slots:
    void on_btnLeft_clicked() { jog(-1); }
    void on_btnStop_clicked() { jog(0); }
    void on_btnRight_clicked() { jog(1); }

private:
    std::unique_ptr<Ui::WVelocityControl> m_ui;
};

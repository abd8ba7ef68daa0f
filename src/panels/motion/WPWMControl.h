#pragma once

#include "panels/motion/JogPanel.h"

#include <QString>

#include <memory>

namespace Ui {
class WPWMControl;
}

// The PWM mode panel: the actual PWM (153, polled live) and jog buttons that write the target PWM
// (154).
class WPWMControl : public JogPanel
{
    Q_OBJECT

public:
    explicit WPWMControl(QWidget* parent = nullptr);
    // The same panel with another title on its group box.
    explicit WPWMControl(const QString& title, QWidget* parent = nullptr);
    ~WPWMControl() override;

public slots:
    void on_btnLeft_clicked() { jog(-1); }
    void on_btnStop_clicked() { jog(0); }
    void on_btnRight_clicked() { jog(1); }

private:
    std::unique_ptr<Ui::WPWMControl> m_ui;
};

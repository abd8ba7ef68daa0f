#pragma once

#include "panels/motion/JogPanel.h"

#include <QString>

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
    static constexpr char ActualNumber = static_cast<char>(150);
    static constexpr char TargetNumber = static_cast<char>(155);

    Ui::WCurrentControl* m_ui;
};

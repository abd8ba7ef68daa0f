#pragma once

#include "panels/parameters/ParameterPanel.h"

#include <memory>

namespace Ui {
class WVelocityRampControl;
}

// The module's velocity ramp: maximum ramp velocity, acceleration and whether the ramp is
// used at all. The central panel shows one instance beside the velocity control and one
// beside the position control; both edit the same parameters, and the module's answer to
// an edit in one fills the other.
class WVelocityRampControl : public ParameterPanel
{
    Q_OBJECT

public:
    explicit WVelocityRampControl(QWidget* parent = nullptr);
    explicit WVelocityRampControl(const QString& title, QWidget* parent = nullptr);
    ~WVelocityRampControl() override;

    // The maximum velocity, acceleration and ramp enable numbers, in that order.
    void setTypes(char maxVelocity, char acceleration, char rampEnable);
    void setMaxVelocityLabel(const QString& text);
    void setAccelerationLabel(const QString& text);

private slots:
    void on_sbMaxVelocity_valueChanged(int value);
    void on_sbAcceleration_valueChanged(int value);
    void on_gbRampEnabler_toggled(bool toggle);

private:
    std::unique_ptr<Ui::WVelocityRampControl> m_ui;
};

#pragma once

#include "panels/parameters/ParameterPanel.h"

#include <memory>

namespace Ui {
class WMotorSettings;
}

// "Motor settings" on the Settings tab: the motor's electrical data. Its parameter numbers
// are those of the module and do not change.
class WMotorSettings : public ParameterPanel
{
    Q_OBJECT

public:
    explicit WMotorSettings(QWidget* parent = nullptr);
    ~WMotorSettings() override;

private slots:
    void on_sbMotorPoles_valueChanged(int value);
    void on_sbCoilResistance_valueChanged(int value);
    void on_sbBEMFConstant_valueChanged(int value);
    void on_sbMaxCurrent_valueChanged(int value);

private:
    std::unique_ptr<Ui::WMotorSettings> m_ui;
};

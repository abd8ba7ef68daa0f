#include "panels/parameters/WMotorSettings.h"

#include "ui_WMotorSettings.h"

WMotorSettings::WMotorSettings(QWidget* parent)
    : ParameterPanel(parent), m_ui(new Ui::WMotorSettings)
{
    m_ui->setupUi(this);
    setTitleBox(m_ui->gbMotorSettings);
    bindField(m_ui->sbMotorPoles, &MotorPoles);
    bindField(m_ui->sbMaxCurrent, &MaxCurrent);
    bindField(m_ui->sbCoilResistance, &CoilResistance);
    bindField(m_ui->sbBEMFConstant, &BEMFConstant);
    setRequestOrder({&MotorPoles, &CoilResistance, &BEMFConstant, &MaxCurrent});
}

WMotorSettings::~WMotorSettings()
{
    delete m_ui;
}

void WMotorSettings::on_sbMotorPoles_valueChanged(int value)
{
    emitChange(MotorPoles, value);
}

void WMotorSettings::on_sbCoilResistance_valueChanged(int value)
{
    emitChange(CoilResistance, value);
}

void WMotorSettings::on_sbBEMFConstant_valueChanged(int value)
{
    emitChange(BEMFConstant, value);
}

void WMotorSettings::on_sbMaxCurrent_valueChanged(int value)
{
    emitChange(MaxCurrent, value);
}

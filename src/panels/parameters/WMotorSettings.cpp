#include "panels/parameters/WMotorSettings.h"

#include "config/ParameterCatalogue.h"
#include "ui_WMotorSettings.h"

using namespace ParameterCatalogue;

WMotorSettings::WMotorSettings(QWidget* parent)
    : ParameterPanel(parent), m_ui(std::make_unique<Ui::WMotorSettings>())
{
    m_ui->setupUi(this);
    setTitleBox(m_ui->gbMotorSettings);
    // In the order a refresh reads them.
    bindField(m_ui->sbMotorPoles, MotorPoles);
    bindField(m_ui->sbCoilResistance, MotorCoilResistance);
    bindField(m_ui->sbBEMFConstant, BEMFConstant);
    bindField(m_ui->sbMaxCurrent, MaxCurrent);
}

WMotorSettings::~WMotorSettings() = default;

void WMotorSettings::on_sbMotorPoles_valueChanged(int value)
{
    ParameterPanel::editParameter(m_ui->sbMotorPoles, value);
}

void WMotorSettings::on_sbCoilResistance_valueChanged(int value)
{
    ParameterPanel::editParameter(m_ui->sbCoilResistance, value);
}

void WMotorSettings::on_sbBEMFConstant_valueChanged(int value)
{
    ParameterPanel::editParameter(m_ui->sbBEMFConstant, value);
}

void WMotorSettings::on_sbMaxCurrent_valueChanged(int value)
{
    ParameterPanel::editParameter(m_ui->sbMaxCurrent, value);
}

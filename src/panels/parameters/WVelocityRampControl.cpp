#include "panels/parameters/WVelocityRampControl.h"

#include "ui_WVelocityRampControl.h"

WVelocityRampControl::WVelocityRampControl(QWidget* parent)
    : ParameterPanel(parent), m_ui(std::make_unique<Ui::WVelocityRampControl>())
{
    m_ui->setupUi(this);
    setTitleBox(m_ui->gbVelocityRampControl);
    // Placeholders until the central panel sets the module's numbers.
    setTypes(1, 3, 4);
}

WVelocityRampControl::WVelocityRampControl(const QString& title, QWidget* parent)
    : WVelocityRampControl(parent)
{
    m_ui->gbVelocityRampControl->setTitle(title);
}

WVelocityRampControl::~WVelocityRampControl() = default;

void WVelocityRampControl::setTypes(char maxVelocity, char acceleration, char rampEnable)
{
    bindField(m_ui->sbMaxVelocity, static_cast<vokt::ParameterNumber>(maxVelocity));
    bindField(m_ui->sbAcceleration, static_cast<vokt::ParameterNumber>(acceleration));
    bindField(m_ui->gbRampEnabler, static_cast<vokt::ParameterNumber>(rampEnable));
}

void WVelocityRampControl::setMaxVelocityLabel(const QString& text)
{
    m_ui->lblMaxVelocity->setText(text);
}

void WVelocityRampControl::setAccelerationLabel(const QString& text)
{
    m_ui->lblAcceleration->setText(text);
}

void WVelocityRampControl::on_sbMaxVelocity_valueChanged(int value)
{
    ParameterPanel::editParameter(m_ui->sbMaxVelocity, value);
}

void WVelocityRampControl::on_sbAcceleration_valueChanged(int value)
{
    ParameterPanel::editParameter(m_ui->sbAcceleration, value);
}

void WVelocityRampControl::on_gbRampEnabler_toggled(bool toggle)
{
    ParameterPanel::editParameter(m_ui->gbRampEnabler, toggle ? 1 : 0);
}

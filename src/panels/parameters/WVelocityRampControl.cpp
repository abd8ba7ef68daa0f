#include "panels/parameters/WVelocityRampControl.h"

#include "ui_WVelocityRampControl.h"

WVelocityRampControl::WVelocityRampControl(QWidget* parent)
    : ParameterPanel(parent), m_ui(new Ui::WVelocityRampControl)
{
    m_ui->setupUi(this);
    setTitleBox(m_ui->gbVelocityRampControl);
    bindField(m_ui->sbMaxVelocity, &m_maxVelocity);
    bindField(m_ui->sbAcceleration, &m_acceleration);
    bindField(m_ui->gbRampEnabler, &m_rampEnable);
    setRequestOrder({&m_maxVelocity, &m_acceleration, &m_rampEnable});
}

WVelocityRampControl::WVelocityRampControl(const QString& title, QWidget* parent)
    : WVelocityRampControl(parent)
{
    m_ui->gbVelocityRampControl->setTitle(title);
}

WVelocityRampControl::~WVelocityRampControl()
{
    delete m_ui;
}

void WVelocityRampControl::setTypes(char maxVelocity, char acceleration, char rampEnable)
{
    m_maxVelocity = maxVelocity;
    m_acceleration = acceleration;
    m_rampEnable = rampEnable;
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
    emitChange(m_maxVelocity, value);
}

void WVelocityRampControl::on_sbAcceleration_valueChanged(int value)
{
    emitChange(m_acceleration, value);
}

void WVelocityRampControl::on_gbRampEnabler_toggled(bool toggle)
{
    emitChange(m_rampEnable, toggle ? 1 : 0);
}

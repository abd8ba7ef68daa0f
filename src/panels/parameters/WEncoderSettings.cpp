#include "panels/parameters/WEncoderSettings.h"

#include "ui_WEncoderSettings.h"

WEncoderSettings::WEncoderSettings(QWidget* parent)
    : ParameterPanel(parent), m_ui(new Ui::WEncoderSettings)
{
    m_ui->setupUi(this);
    setTitleBox(m_ui->gbEncoderSettings);
    bindField(m_ui->sbEncoderSteps, &EncoderSteps);
    bindField(m_ui->sbEncoderDirection, &EncoderDirection);
    bindField(m_ui->sbSineInitMode, &SineInitMode);
    bindField(m_ui->sbCommutationOffset, &CommutationOffset);
}

WEncoderSettings::~WEncoderSettings()
{
    delete m_ui;
}

void WEncoderSettings::updateValues()
{
    logUpdate("::updateValues()");
    for (char number : {CommutationOffset, SineInitMode, EncoderSteps, EncoderDirection})
        emit requestValue(0, number);
}

void WEncoderSettings::on_sbEncoderSteps_valueChanged(int value)
{
    emitChange(EncoderSteps, value);
}

void WEncoderSettings::on_sbEncoderDirection_valueChanged(int value)
{
    emitChange(EncoderDirection, value);
}

void WEncoderSettings::on_sbSineInitMode_valueChanged(int value)
{
    emitChange(SineInitMode, value);
}

void WEncoderSettings::on_sbCommutationOffset_valueChanged(int value)
{
    emitChange(CommutationOffset, value);
}

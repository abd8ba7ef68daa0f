#include "panels/parameters/WEncoderSettings.h"

#include "config/ParameterCatalogue.h"
#include "ui_WEncoderSettings.h"

using namespace ParameterCatalogue;

WEncoderSettings::WEncoderSettings(QWidget* parent)
    : ParameterPanel(parent), m_ui(std::make_unique<Ui::WEncoderSettings>())
{
    m_ui->setupUi(this);
    setTitleBox(m_ui->gbEncoderSettings);
    // In the order a refresh reads them.
    bindField(m_ui->sbCommutationOffset, EncoderCommutationOffset);
    bindField(m_ui->sbSineInitMode, InitSineMode);
    bindField(m_ui->sbEncoderSteps, EncoderSteps);
    bindField(m_ui->sbEncoderDirection, EncoderDirection);
}

WEncoderSettings::~WEncoderSettings() = default;

void WEncoderSettings::on_sbEncoderSteps_valueChanged(int value)
{
    ParameterPanel::editParameter(m_ui->sbEncoderSteps, value);
}

void WEncoderSettings::on_sbEncoderDirection_valueChanged(int value)
{
    ParameterPanel::editParameter(m_ui->sbEncoderDirection, value);
}

void WEncoderSettings::on_sbSineInitMode_valueChanged(int value)
{
    ParameterPanel::editParameter(m_ui->sbSineInitMode, value);
}

void WEncoderSettings::on_sbCommutationOffset_valueChanged(int value)
{
    ParameterPanel::editParameter(m_ui->sbCommutationOffset, value);
}

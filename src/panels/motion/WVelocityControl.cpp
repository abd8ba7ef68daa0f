#include "panels/motion/WVelocityControl.h"

#include "ui_WVelocityControl.h"

WVelocityControl::WVelocityControl(QWidget* parent)
    : JogPanel(parent), m_ui(std::make_unique<Ui::WVelocityControl>())
{
    m_ui->setupUi(this);
    setTitleBox(m_ui->gbVelocityControl);
    // Placeholders until the central panel sets the module's numbers.
    setTypes(1, 2);
    setLiveField(m_ui->sbActualVelocity);
}

WVelocityControl::~WVelocityControl() = default;

void WVelocityControl::setTypes(char actual, char target)
{
    bindField(m_ui->sbActualVelocity, static_cast<vokt::ParameterNumber>(actual));
    setJogTarget(m_ui->sbTargetVelocity, static_cast<vokt::ParameterNumber>(target));
}

#include "panels/motion/WPWMControl.h"

#include "config/ParameterCatalogue.h"
#include "ui_WPWMControl.h"

WPWMControl::WPWMControl(QWidget* parent)
    : JogPanel(parent), m_ui(std::make_unique<Ui::WPWMControl>())
{
    m_ui->setupUi(this);
    setTitleBox(m_ui->gbPWMControl);
    bindField(m_ui->sbActualPWM, ParameterCatalogue::ActualPWM);
    setLiveField(m_ui->sbActualPWM);
    setJogTarget(m_ui->sbTargetPWM, ParameterCatalogue::TargetPWM);
}

WPWMControl::WPWMControl(const QString& title, QWidget* parent) : WPWMControl(parent)
{
    m_ui->gbPWMControl->setTitle(title);
}

WPWMControl::~WPWMControl() = default;

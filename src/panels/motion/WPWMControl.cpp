#include "panels/motion/WPWMControl.h"

#include "ui_WPWMControl.h"

WPWMControl::WPWMControl(QWidget* parent) : JogPanel(parent), m_ui(new Ui::WPWMControl)
{
    m_ui->setupUi(this);
    setTitleBox(m_ui->gbPWMControl);
    bindField(m_ui->sbActualPWM, &ActualNumber);
    setRequestOrder({&ActualNumber});
    setLiveNumber(&ActualNumber);
    setJogTarget(m_ui->sbTargetPWM, &TargetNumber);
}

WPWMControl::WPWMControl(const QString& title, QWidget* parent) : WPWMControl(parent)
{
    m_ui->gbPWMControl->setTitle(title);
}

WPWMControl::~WPWMControl()
{
    delete m_ui;
}

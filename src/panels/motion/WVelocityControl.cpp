#include "panels/motion/WVelocityControl.h"

#include "ui_WVelocityControl.h"

WVelocityControl::WVelocityControl(QWidget* parent)
    : JogPanel(parent), m_ui(new Ui::WVelocityControl)
{
    m_ui->setupUi(this);
    setTitleBox(m_ui->gbVelocityControl);
    bindField(m_ui->sbActualVelocity, &m_actual);
    setRequestOrder({&m_actual});
    setLiveNumber(&m_actual);
    setJogTarget(m_ui->sbTargetVelocity, &m_target);
}

WVelocityControl::~WVelocityControl()
{
    delete m_ui;
}

void WVelocityControl::setTypes(char actual, char target)
{
    m_actual = actual;
    m_target = target;
    updateTraceTypes();
}

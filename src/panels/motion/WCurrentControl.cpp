#include "panels/motion/WCurrentControl.h"

#include "ui_WCurrentControl.h"

WCurrentControl::WCurrentControl(QWidget* parent) : JogPanel(parent), m_ui(new Ui::WCurrentControl)
{
    m_ui->setupUi(this);
    setTitleBox(m_ui->gbCurrentControl);
    bindField(m_ui->sbActualCurrent, &ActualNumber);
    setRequestOrder({&ActualNumber});
    setLiveNumber(&ActualNumber);
    setJogTarget(m_ui->sbTargetCurrent, &TargetNumber);
}

WCurrentControl::WCurrentControl(const QString& title, QWidget* parent) : WCurrentControl(parent)
{
    m_ui->gbCurrentControl->setTitle(title);
}

WCurrentControl::~WCurrentControl()
{
    delete m_ui;
}

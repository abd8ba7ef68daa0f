#include "panels/parameters/WPIDControl.h"

#include "ui_WPIDControl.h"

WPIDControl::WPIDControl(QWidget* parent) : ParameterPanel(parent), m_ui(new Ui::WPIDControl)
{
    m_ui->setupUi(this);
    setTitleBox(m_ui->gbPidControl);
    bindField(m_ui->sbPSet1, &m_pSet1);
    bindField(m_ui->sbISet1, &m_iSet1);
    bindField(m_ui->sbDSet1, &m_dSet1);
    bindField(m_ui->sbIClippingSet1, &m_iClippingSet1);
    bindField(m_ui->sbPSet2, &m_pSet2);
    bindField(m_ui->sbISet2, &m_iSet2);
    bindField(m_ui->sbDSet2, &m_dSet2);
    bindField(m_ui->sbIClippingSet2, &m_iClippingSet2);
    bindField(m_ui->sbThreshold, &m_threshold);
    setRequestOrder({&m_pSet1, &m_iSet1, &m_dSet1, &m_iClippingSet1, &m_pSet2, &m_iSet2, &m_dSet2,
                     &m_iClippingSet2, &m_threshold});
}

WPIDControl::WPIDControl(const QString& title, QWidget* parent) : WPIDControl(parent)
{
    m_ui->gbPidControl->setTitle(title);
}

WPIDControl::~WPIDControl()
{
    delete m_ui;
}

void WPIDControl::setSet1Types(char p, char i, char d, char iClipping)
{
    m_pSet1 = p;
    m_iSet1 = i;
    m_dSet1 = d;
    m_iClippingSet1 = iClipping;
}

void WPIDControl::setSet2Types(char p, char i, char d, char iClipping)
{
    m_pSet2 = p;
    m_iSet2 = i;
    m_dSet2 = d;
    m_iClippingSet2 = iClipping;
}

void WPIDControl::setIClippingMaximum(int maximum)
{
    m_ui->sbIClippingSet1->setMaximum(maximum);
    m_ui->sbIClippingSet2->setMaximum(maximum);
}

void WPIDControl::on_sbPSet1_valueChanged(int value)
{
    emitChange(m_pSet1, value);
}

void WPIDControl::on_sbISet1_valueChanged(int value)
{
    emitChange(m_iSet1, value);
}

void WPIDControl::on_sbDSet1_valueChanged(int value)
{
    emitChange(m_dSet1, value);
}

void WPIDControl::on_sbIClippingSet1_valueChanged(int value)
{
    emitChange(m_iClippingSet1, value);
}

void WPIDControl::on_sbPSet2_valueChanged(int value)
{
    emitChange(m_pSet2, value);
}

void WPIDControl::on_sbISet2_valueChanged(int value)
{
    emitChange(m_iSet2, value);
}

void WPIDControl::on_sbDSet2_valueChanged(int value)
{
    emitChange(m_dSet2, value);
}

void WPIDControl::on_sbIClippingSet2_valueChanged(int value)
{
    emitChange(m_iClippingSet2, value);
}

void WPIDControl::on_sbThreshold_valueChanged(int value)
{
    emitChange(m_threshold, value);
}

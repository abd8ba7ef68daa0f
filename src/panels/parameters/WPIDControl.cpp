#include "panels/parameters/WPIDControl.h"

#include "ui_WPIDControl.h"

namespace {

vokt::ParameterNumber number(char type)
{
    return static_cast<vokt::ParameterNumber>(type);
}

} // namespace

WPIDControl::WPIDControl(QWidget* parent)
    : ParameterPanel(parent), m_ui(std::make_unique<Ui::WPIDControl>())
{
    m_ui->setupUi(this);
    setTitleBox(m_ui->gbPidControl);
    setSet1Types(1, 2, 3, 4);
    setSet2Types(5, 6, 7, 8);
    setThresholdType(9);
}

WPIDControl::WPIDControl(const QString& title, QWidget* parent) : WPIDControl(parent)
{
    m_ui->gbPidControl->setTitle(title);
}

WPIDControl::~WPIDControl() = default;

void WPIDControl::setSet1Types(char p, char i, char d, char iClipping)
{
    bindField(m_ui->sbPSet1, number(p));
    bindField(m_ui->sbISet1, number(i));
    bindField(m_ui->sbDSet1, number(d));
    bindField(m_ui->sbIClippingSet1, number(iClipping));
}

void WPIDControl::setSet2Types(char p, char i, char d, char iClipping)
{
    bindField(m_ui->sbPSet2, number(p));
    bindField(m_ui->sbISet2, number(i));
    bindField(m_ui->sbDSet2, number(d));
    bindField(m_ui->sbIClippingSet2, number(iClipping));
}

void WPIDControl::setThresholdType(char type)
{
    bindField(m_ui->sbThreshold, number(type));
}

void WPIDControl::setIClippingMaximum(int maximum)
{
    m_ui->sbIClippingSet1->setMaximum(maximum);
    m_ui->sbIClippingSet2->setMaximum(maximum);
}

void WPIDControl::on_sbPSet1_valueChanged(int value)
{
    ParameterPanel::editParameter(m_ui->sbPSet1, value);
}

void WPIDControl::on_sbISet1_valueChanged(int value)
{
    ParameterPanel::editParameter(m_ui->sbISet1, value);
}

void WPIDControl::on_sbDSet1_valueChanged(int value)
{
    ParameterPanel::editParameter(m_ui->sbDSet1, value);
}

void WPIDControl::on_sbIClippingSet1_valueChanged(int value)
{
    ParameterPanel::editParameter(m_ui->sbIClippingSet1, value);
}

void WPIDControl::on_sbPSet2_valueChanged(int value)
{
    ParameterPanel::editParameter(m_ui->sbPSet2, value);
}

void WPIDControl::on_sbISet2_valueChanged(int value)
{
    ParameterPanel::editParameter(m_ui->sbISet2, value);
}

void WPIDControl::on_sbDSet2_valueChanged(int value)
{
    ParameterPanel::editParameter(m_ui->sbDSet2, value);
}

void WPIDControl::on_sbIClippingSet2_valueChanged(int value)
{
    ParameterPanel::editParameter(m_ui->sbIClippingSet2, value);
}

void WPIDControl::on_sbThreshold_valueChanged(int value)
{
    ParameterPanel::editParameter(m_ui->sbThreshold, value);
}

#include "panels/motion/WCurrentControl.h"

#include "config/ParameterCatalogue.h"
#include "ui_WCurrentControl.h"

WCurrentControl::WCurrentControl(QWidget* parent)
    : JogPanel(parent), m_ui(std::make_unique<Ui::WCurrentControl>())
{
    m_ui->setupUi(this);
    setTitleBox(m_ui->gbCurrentControl);
    bindField(m_ui->sbActualCurrent, ParameterCatalogue::ActualCurrent);
    setLiveField(m_ui->sbActualCurrent);
    setJogTarget(m_ui->sbTargetCurrent, ParameterCatalogue::TargetCurrent);
}

WCurrentControl::WCurrentControl(const QString& title, QWidget* parent) : WCurrentControl(parent)
{
    m_ui->gbCurrentControl->setTitle(title);
}

WCurrentControl::~WCurrentControl() = default;

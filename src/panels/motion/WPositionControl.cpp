#include "panels/motion/WPositionControl.h"

#include "ui_WPositionControl.h"

WPositionControl::WPositionControl(QWidget* parent)
    : ParameterPanel(parent), m_ui(std::make_unique<Ui::WPositionControl>())
{
    m_ui->setupUi(this);
    setTitleBox(m_ui->gbPositionControl);
    // Placeholders until the central panel sets the module's numbers.
    setTypes(1, 2, 4, 3);
    setLiveField(m_ui->sbActualPosition);
    takeTypedValueOnCommit(m_ui->sbTargetPosition);
}

WPositionControl::WPositionControl(const QString& title, QWidget* parent) : WPositionControl(parent)
{
    m_ui->gbPositionControl->setTitle(title);
}

WPositionControl::~WPositionControl() = default;

void WPositionControl::setTypes(char actual, char target, char clearOnNullSecond,
                                char clearOnNullFirst)
{
    // Only the actual position is shown; the target is read but the field keeps what the
    // user entered.
    bindField(m_ui->sbActualPosition, static_cast<vokt::ParameterNumber>(actual));
    bindNumber(&m_target, static_cast<vokt::ParameterNumber>(target), true);
    bindNumber(&m_clearOnNullSecond, static_cast<vokt::ParameterNumber>(clearOnNullSecond), false);
    bindNumber(&m_clearOnNullFirst, static_cast<vokt::ParameterNumber>(clearOnNullFirst), false);
}

void WPositionControl::on_btnClear_clicked()
{
    ParameterPanel::editParameter(m_ui->sbActualPosition, 0);
}

void WPositionControl::on_btnClearOnNull_clicked()
{
    ParameterPanel::editParameter(&m_clearOnNullFirst, 1);
    ParameterPanel::editParameter(&m_clearOnNullSecond, 1);
}

void WPositionControl::on_btnMoveAbsolute_clicked()
{
    m_ui->sbTargetPosition->interpretText();
    emit doMove(motorBank(), char(vokt::MoveToPosition), char(vokt::MoveAbsolute),
                m_ui->sbTargetPosition->value());
}

void WPositionControl::on_btnMoveRelative_clicked()
{
    m_ui->sbTargetPosition->interpretText();
    emit doMove(motorBank(), char(vokt::MoveToPosition), char(vokt::MoveRelative),
                m_ui->sbTargetPosition->value());
}

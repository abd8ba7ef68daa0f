#include "panels/motion/WPositionControl.h"

#include "ui_WPositionControl.h"

namespace {

// The VOKT command that moves the motor, and its two kinds of move.
constexpr char MoveCommand = 4;
constexpr char MoveAbsolute = 0;
constexpr char MoveRelative = 1;

} // namespace

WPositionControl::WPositionControl(QWidget* parent)
    : ParameterPanel(parent), m_ui(new Ui::WPositionControl)
{
    m_ui->setupUi(this);
    setTitleBox(m_ui->gbPositionControl);
    // Only the actual position is shown; the target is read but the field keeps what the
    // user entered.
    bindField(m_ui->sbActualPosition, &m_actual);
    setRequestOrder({&m_actual, &m_target});
    setLiveNumber(&m_actual);
    takeTypedValueOnCommit(m_ui->sbTargetPosition);
}

WPositionControl::WPositionControl(const QString& title, QWidget* parent) : WPositionControl(parent)
{
    m_ui->gbPositionControl->setTitle(title);
}

WPositionControl::~WPositionControl()
{
    delete m_ui;
}

void WPositionControl::setTypes(char actual, char target, char clearOnNullSecond,
                                char clearOnNullFirst)
{
    m_actual = actual;
    m_target = target;
    m_clearOnNullSecond = clearOnNullSecond;
    m_clearOnNullFirst = clearOnNullFirst;
    updateTraceTypes();
}

void WPositionControl::on_btnClear_clicked()
{
    emitChange(m_actual, 0);
}

void WPositionControl::on_btnClearOnNull_clicked()
{
    emitChange(m_clearOnNullFirst, 1);
    emitChange(m_clearOnNullSecond, 1);
}

void WPositionControl::on_btnMoveAbsolute_clicked()
{
    m_ui->sbTargetPosition->interpretText();
    emit doMove(motorBank(), MoveCommand, MoveAbsolute, m_ui->sbTargetPosition->value());
}

void WPositionControl::on_btnMoveRelative_clicked()
{
    m_ui->sbTargetPosition->interpretText();
    emit doMove(motorBank(), MoveCommand, MoveRelative, m_ui->sbTargetPosition->value());
}

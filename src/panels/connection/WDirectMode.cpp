#include "panels/connection/WDirectMode.h"

#include "comm/Protocol.h"
#include "ui_WDirectMode.h"

#include <QKeyEvent>

namespace {

// The byte a char carries, 0 to 255: bytes of 128 and more travel as negative chars.
int byteValue(char byte)
{
    return static_cast<unsigned char>(byte);
}

QString okMark()
{
    return QStringLiteral(" (ok)");
}

} // namespace

WDirectMode::WDirectMode(QWidget* parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::WDirectMode>()),
      m_linkAddress(vokt::DefaultModuleAddress)
{
    m_ui->setupUi(this);
    // The reply status field has room for the mark of a command carried out.
    m_ui->sbReplyType->setSuffix(okMark());
    m_ui->sbReplyType->setMinimumWidth(m_ui->sbReplyType->sizeHint().width());
    m_ui->sbReplyType->setSuffix(QString());
    // As wide as designed, or as wide as the fields need to show every value in full
    // (-2147483647 is the widest), whichever is more.
    setMaximumWidth(qMax(maximumWidth(), minimumSizeHint().width()));
    // ...and as high as the request's rows need.
    setMaximumHeight(qMax(maximumHeight(), minimumSizeHint().height()));
    m_ui->sbRequestAddress->setValue(m_linkAddress);
    for (QSpinBox* field : {m_ui->sbRequestAddress, m_ui->sbRequestCommand, m_ui->sbRequestType,
                            m_ui->sbRequestMotorBank, m_ui->sbRequestValue})
        field->installEventFilter(this);
}

WDirectMode::~WDirectMode() = default;

void WDirectMode::on_btnSend_clicked()
{
    const char command = static_cast<char>(m_ui->sbRequestCommand->value());
    const char type = static_cast<char>(m_ui->sbRequestType->value());
    const char motorBank = static_cast<char>(m_ui->sbRequestMotorBank->value());
    const int address = m_ui->sbRequestAddress->value();
    if (address == m_linkAddress)
        emit doRequest(command, type, motorBank, m_ui->sbRequestValue->value());
    else
        emit doAddressedRequest(address, command, type, motorBank, m_ui->sbRequestValue->value());
}

void WDirectMode::setLinkAddress(int address)
{
    m_linkAddress = address;
    m_ui->sbRequestAddress->setValue(address);
}

bool WDirectMode::eventFilter(QObject* watched, QEvent* event)
{
    // Enter in a request field: the field takes what was typed, then the request goes out.
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        auto* field = qobject_cast<QSpinBox*>(watched);
        if (field && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
            field->interpretText();
            field->selectAll();
            m_ui->btnSend->click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void WDirectMode::requestResult(char motorBank, char command, char status, int value)
{
    m_ui->sbReplyMotorBank->setValue(byteValue(motorBank));
    m_ui->sbReplyCommand->setValue(byteValue(command));
    m_ui->sbReplyType->setValue(byteValue(status));
    m_ui->sbReplyType->setSuffix(byteValue(status) == vokt::StatusOk ? okMark() : QString());
    m_ui->sbReplyValue->setValue(value);
}

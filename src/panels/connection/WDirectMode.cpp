#include "WDirectMode.h"

#include "ui_WDirectMode.h"

namespace {

// The byte a char carries, 0 to 255: bytes of 128 and more travel as negative chars.
int byteValue(char byte)
{
    return static_cast<unsigned char>(byte);
}

} // namespace

WDirectMode::WDirectMode(QWidget* parent) : QWidget(parent), m_ui(new Ui::WDirectMode)
{
    m_ui->setupUi(this);
}

WDirectMode::~WDirectMode()
{
    delete m_ui;
}

void WDirectMode::on_btnSend_clicked()
{
    const char command = static_cast<char>(m_ui->sbRequestCommand->value());
    const char type = static_cast<char>(m_ui->sbRequestType->value());
    const char motorBank = static_cast<char>(m_ui->sbRequestMotorBank->value());
    emit doRequest(command, type, motorBank, m_ui->sbRequestValue->value());
}

void WDirectMode::requestResult(char motorBank, char command, char status, int value)
{
    m_ui->sbReplyMotorBank->setValue(byteValue(motorBank));
    m_ui->sbReplyCommand->setValue(byteValue(command));
    m_ui->sbReplyType->setValue(byteValue(status));
    m_ui->sbReplyValue->setValue(value);
}

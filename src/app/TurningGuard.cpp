#include "app/TurningGuard.h"

#include "comm/DebugLine.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "config/ParameterNumbers.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {

QString text(const char* source)
{
    return QCoreApplication::translate("BLDC", source);
}

bool isMotorBank(char motorBank)
{
    return motorBank == 0;
}

} // namespace

TurningGuard::TurningGuard(SerialUSBCommandHandler& handler, QObject* parent)
    : QObject(parent), m_handler(handler), m_ask(&TurningGuard::askWithMessageBox)
{
}

QString TurningGuard::question()
{
    return text("The motor is turning. Stop it first?");
}

TurningGuard::Answer TurningGuard::askWithMessageBox(QWidget* parent)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("ZIRO-BLDC"), question(),
                    QMessageBox::NoButton, parent);
    box.setObjectName(QStringLiteral("turningQuestion"));
    QPushButton* stop = box.addButton(text("Stop motor"), QMessageBox::AcceptRole);
    stop->setObjectName(QStringLiteral("btnStopMotor"));
    QPushButton* leave = box.addButton(text("Leave it turning"), QMessageBox::DestructiveRole);
    leave->setObjectName(QStringLiteral("btnLeaveTurning"));
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(stop);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == stop)
        return Answer::StopMotor;
    if (box.clickedButton() == leave)
        return Answer::LeaveTurning;
    return Answer::Cancel;
}

bool TurningGuard::turning()
{
    if (m_velocityTarget || m_currentTarget || m_pwmTarget)
        return true;
    if (m_handler.isOpen()) {
        const SerialUSBCommandHandler::Outcome read =
            m_handler.exchange(vokt::GetAxisParameter, ParameterCatalogue::ActualVelocity, 0, 0);
        // No answer: what was last polled is all there is.
        if (read.reply && read.failure != SerialUSBCommandHandler::Failure::Refused)
            m_velocity = read.reply->value();
    }
    return m_velocity != 0;
}

bool TurningGuard::mayLeave(QWidget* parent, const std::function<bool(QString* why)>& stop)
{
    if (!turning())
        return true;
    DebugLine().plain(QStringLiteral("the motor is turning: asking before the link is left"));
    switch (m_ask(parent)) {
    case Answer::LeaveTurning:
        DebugLine().plain(QStringLiteral("the motor is left turning"));
        return true;
    case Answer::Cancel:
        return false;
    case Answer::StopMotor:
        break;
    }
    QString why;
    if (stop(&why))
        return true;
    QMessageBox::warning(parent, QStringLiteral("ZIRO-BLDC"),
                         text("The module did not confirm the stop: %1\n\nThe motor may still "
                              "turn.")
                             .arg(why));
    return false;
}

void TurningGuard::written(char motorBank, char type, int value)
{
    if (!isMotorBank(motorBank))
        return;
    switch (static_cast<quint8>(type)) {
    case ParameterCatalogue::TargetVelocity:
        // The stop: target velocity 0 brings the motor to rest in every mode.
        if (value == 0)
            stopped();
        else
            m_velocityTarget = true;
        break;
    case ParameterCatalogue::TargetCurrent:
        m_currentTarget = value != 0;
        break;
    case ParameterCatalogue::TargetPWM:
        m_pwmTarget = value != 0;
        break;
    default:
        break;
    }
}

void TurningGuard::directRequest(char command, char type, char motorBank, int value)
{
    if (static_cast<quint8>(command) == vokt::SetAxisParameter)
        written(motorBank, type, value);
}

void TurningGuard::valueRead(char motorBank, char type, int value)
{
    if (isMotorBank(motorBank) && static_cast<quint8>(type) == ParameterCatalogue::ActualVelocity)
        m_velocity = value;
}

void TurningGuard::stopped()
{
    m_velocityTarget = false;
    m_currentTarget = false;
    m_pwmTarget = false;
}

void TurningGuard::forget()
{
    stopped();
    m_velocity = 0;
}

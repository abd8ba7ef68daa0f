#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QWidget;
class SerialUSBCommandHandler;

// Whether the motor may be turning, for every way the window leaves a module (Disconnect,
// Exit, closing the window, a link to another port or module): a target other than 0
// written since the last stop (target velocity 2, PWM 154, torque current 155), or an
// actual velocity (3) other than 0, read fresh when the link is open, else as last polled.
// Before the window walks away from a turning motor it asks "The motor is turning. Stop
// it first?".
class TurningGuard : public QObject
{
    Q_OBJECT

public:
    enum class Answer
    {
        StopMotor,
        LeaveTurning,
        Cancel
    };
    // The question, its buttons and the answer; a test or another front end may answer
    // it in place of the message box.
    using Ask = std::function<Answer(QWidget* parent)>;

    explicit TurningGuard(SerialUSBCommandHandler& handler, QObject* parent = nullptr);

    // Whether a target other than 0 was written since the last stop, or the actual
    // velocity is not 0 (a fresh read when the link is open).
    bool turning();
    // Before the window leaves the module: true to go on. When the motor turns, the user is
    // asked; "Stop motor" (the default) stops it through stop, which says whether the module
    // confirmed the stop (not confirmed: the user is told so and the window stays),
    // "Leave it turning" goes on, "Cancel" stays.
    bool mayLeave(QWidget* parent, const std::function<bool(QString* why)>& stop);
    void setAsk(Ask ask) { m_ask = std::move(ask); }

    static QString question();
    static Answer askWithMessageBox(QWidget* parent);

public slots:
    // A write by a panel or the raw command panel (its command 5), and a value read or
    // polled.
    void written(char motorBank, char type, int value);
    void directRequest(char command, char type, char motorBank, int value);
    void valueRead(char motorBank, char type, int value);
    // The stop was confirmed by the module.
    void stopped();
    // A link to another port or module: nothing is known of its motor yet.
    void forget();

private:
    SerialUSBCommandHandler& m_handler;
    Ask m_ask;
    // The targets other than 0 written since the last stop, and the last actual velocity.
    bool m_velocityTarget = false;
    bool m_currentTarget = false;
    bool m_pwmTarget = false;
    qint32 m_velocity = 0;
};

#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

class QLabel;

// What the dialogs that move the motor for a measurement (step response, frequency
// response, tuning) share.
//
// While the motor runs, the window behind the dialog takes no input, so that nothing else
// reaches the module in between: its parts are disabled, not the window itself, which would
// disable the dialog with it. They get their state back when the run ends.
class WindowBehind
{
public:
    void setRunning(QWidget* dialog, bool running);

private:
    QList<QPointer<QWidget>> m_disabled;
};

// The dialog's status line: a failure in red.
void showStatus(QLabel* status, const QString& text, bool failure);

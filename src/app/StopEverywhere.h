#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class BLDC;
class QAction;
class QEvent;
class QWidget;

// "Stop motor" wherever the user is. Esc stops the motor in every one of the tool's
// dialogs (file choosers, message boxes, the progress of a whole-module operation, the step
// response) and popups, and still does there what it does (a dialog closes, an operation is
// cancelled); in the window itself Esc is the Stop motor action's shortcut. The action is
// shown enabled only where a click on it is taken: while a link is open, or after one was
// lost (the stop opens its port again for itself), and not while a modal dialog blocks the
// window (a progress dialog carries its own Stop motor then).
//
// It also ends the window safely: SIGINT, SIGTERM and SIGHUP close it as the user would,
// except that a turning motor is stopped without a question, and when the process ends
// without the window closing (the display went away) a turning motor is stopped on the
// way out.
class StopEverywhere : public QObject
{
    Q_OBJECT

public:
    // Lives as long as the window; the central panel does the stop.
    StopEverywhere(BLDC& bldc, QAction& stopAction, QWidget& window);
    ~StopEverywhere() override;

    // For the application's window: SIGINT, SIGTERM and SIGHUP no longer end the process
    // but emit endBySignal() (the first; later ones are held), and a turning motor is
    // stopped when the process ends with the window still open.
    void takeEndings();
    // A signal asked the window to end.
    bool endRequested() const { return m_endRequested; }

signals:
    // SIGINT, SIGTERM or SIGHUP came: the window is to close.
    void endBySignal(int signal);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showStopAvailable();
    // Esc delivered to a widget outside the window: stop, once per key press.
    void escapePressed(QWidget* receiver, QEvent* event);

    BLDC& m_bldc;
    QAction& m_stopAction;
    QWidget& m_window;
    // The window is blocked by a modal dialog.
    bool m_blocked = false;
    bool m_endRequested = false;
    // The key press last served, and the widget it was served at: the same press
    // propagating to that widget's parents is not served again.
    const QEvent* m_served = nullptr;
    QPointer<QWidget> m_servedAt;
};

// The window's signals, the one place it meets them: from now on SIGINT, SIGTERM and SIGHUP
// no longer end the process; each calls deliver(signal) from the event loop of context's
// thread (the POSIX implementation; elsewhere nothing changes and the result is false).
namespace EndSignals {
bool deliverTo(QObject* context, const std::function<void(int signal)>& deliver);
}

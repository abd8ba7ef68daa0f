#include "app/StopEverywhere.h"

#include "app/BLDC.h"
#include "comm/DebugLine.h"
#include "comm/LinkController.h"
#include "comm/SerialUSBCommandHandler.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QShortcut>
#include <QWidget>

#include <cstdlib>
#include <utility>

namespace {

// The central panel that stops a turning motor when the process ends with the window
// open: the display went away (the platform ends the process at once) or exit() was
// called. Cleared when the window goes.
BLDC* g_stopOnExit = nullptr;

void stopOnExit()
{
    if (BLDC* bldc = std::exchange(g_stopOnExit, nullptr)) {
        DebugLine().plain(
            QStringLiteral("ending with the window open: a turning motor is stopped"));
        bldc->stopIfTurning();
    }
}

} // namespace

StopEverywhere::StopEverywhere(BLDC& bldc, QAction& stopAction, QWidget& window)
    : QObject(&window), m_bldc(bldc), m_stopAction(stopAction), m_window(window)
{
    // Qt's own file choosers, whose keys pass through the application (a native one keeps
    // them to itself).
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    qApp->installEventFilter(this);
    // A lost link keeps the stop; one the user closed, or that did not open, has none.
    connect(bldc.linkController(), &LinkController::stateChanged, this,
            &StopEverywhere::showStopAvailable);
    connect(&stopAction, &QAction::triggered, &bldc, &BLDC::stopMotor);
    showStopAvailable();
}

StopEverywhere::~StopEverywhere()
{
    if (g_stopOnExit == &m_bldc)
        g_stopOnExit = nullptr;
}

void StopEverywhere::takeEndings()
{
    static bool registered = false;
    if (!registered)
        registered = std::atexit(stopOnExit) == 0;
    g_stopOnExit = &m_bldc;
    EndSignals::deliverTo(this, [this](int signal) {
        DebugLine().plain(QStringLiteral("signal %1: the window closes").arg(signal));
        // Later signals wait for the first one's end.
        if (std::exchange(m_endRequested, true))
            return;
        emit endBySignal(signal);
    });
}

void StopEverywhere::showStopAvailable()
{
    m_stopAction.setEnabled(!m_blocked && m_bldc.canStopMotor());
}

bool StopEverywhere::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
        if (watched->isWidgetType() && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            escapePressed(static_cast<QWidget*>(watched), event);
        break;
    case QEvent::Shortcut:
        // Where Esc is a dialog's shortcut (a progress dialog's Cancel), no key press comes.
        if (auto* shortcut = qobject_cast<QShortcut*>(watched)) {
            auto* owner = qobject_cast<QWidget*>(shortcut->parent());
            if (owner && static_cast<QShortcutEvent*>(event)->key() == QKeySequence(Qt::Key_Escape))
                escapePressed(owner, event);
        }
        break;
    case QEvent::WindowBlocked:
    case QEvent::WindowUnblocked:
        if (watched == &m_window) {
            m_blocked = event->type() == QEvent::WindowBlocked;
            showStopAvailable();
        }
        break;
    default:
        break;
    }
    return false;
}

void StopEverywhere::escapePressed(QWidget* receiver, QEvent* event)
{
    // In the window Esc is the action's shortcut.
    if (receiver->window() == &m_window)
        return;
    // The same press handed on to the parents of the widget that did not take it.
    if (event == m_served && m_servedAt && receiver != m_servedAt &&
        receiver->isAncestorOf(m_servedAt))
        return;
    m_served = event;
    m_servedAt = receiver;
    // First the stop, the very next exchange; then the dialog closes or the operation is
    // cancelled, as Esc does there.
    if (m_bldc.canStopMotor())
        m_bldc.stopMotor();
}

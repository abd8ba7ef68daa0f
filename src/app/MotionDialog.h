#pragma once

#include "app/WindowBehind.h"

#include <QDialog>
#include <QElapsedTimer>

class LinkController;
class QHBoxLayout;
class QPushButton;
class QTableWidget;
class QLabel;
class SerialUSBCommandHandler;
class WTraceController;

// What the dialogs that move the motor for a measurement (step response, frequency
// response, tuning) share: one run at a time, and only on an open link; while it runs the
// window behind takes no input and polling waits; Stop, Esc and the close button end a run
// (its guard stops the motor) and the dialog stays open until it has ended; a status line
// that shows a failure in red.
class MotionDialog : public QDialog
{
    Q_OBJECT

public:
    bool isRunning() const { return m_running; }

public slots:
    // The run in progress ends at its next look at stopRequested().
    void stop();
    // Esc and the close button stop a run first; the dialog closes once it has ended.
    void reject() override;

protected:
    // link may be null; traceController too (no polling to hold).
    MotionDialog(SerialUSBCommandHandler& handler, LinkController* link,
                 WTraceController* traceController, QWidget* parent);

    // false when a run is in progress, or (said in the status line) the link is not open.
    bool mayRun();
    // A run begins, saying what it does: Stop is cleared, the dialog's fields and the window
    // behind are locked, polling waits.
    void beginRun(const QString& what);
    // ...and ends: polling goes on, the fields take input again.
    void endRun();
    bool stopRequested() const { return m_stopRequested; }
    // Serves the dialog's events (Stop, Esc), at most once every few tens of milliseconds
    // when sparingly is set; whether Stop was asked.
    bool serveEvents(bool sparingly = false);

    // The red line at the top that says how the dialog moves the motor (objectName
    // "lblWarning").
    QLabel* warningLine(const QString& text);
    // The status line, for the dialog's layout (objectName "lblStatus").
    QLabel* statusLine() const { return m_status; }
    void say(const QString& text, bool failure);
    // The dialog's own buttons and fields for a run, or after it; called with the window
    // behind's lock and once more whenever the dialog's state changes.
    virtual void enableFields(bool running) = 0;
    void setRunning(bool running);

    // A button of the dialog's row: Enter in a field does not press it.
    QPushButton* addButton(const QString& text, const char* objectName);
    // The buttons added so far, left to right.
    QHBoxLayout* buttonRow() const { return m_buttons; }
    // The journal: read-only rows under these headers (objectName "twJournal").
    QTableWidget* makeJournal(const QStringList& headers);

    SerialUSBCommandHandler& m_handler;
    LinkController* m_link;
    WTraceController* m_traceController;

private:
    QLabel* m_status = nullptr;
    QHBoxLayout* m_buttons;
    WindowBehind m_windowBehind;
    bool m_running = false;
    bool m_stopRequested = false;
    QElapsedTimer m_events;
};

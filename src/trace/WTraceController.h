#pragma once

#include "comm/TraceCommand.h"

#include <QList>
#include <QWidget>

class ValueCheckerThread;

namespace Ui {
class WTraceController;
}

// The "Trace controller" panel: switches live polling on and off and sets the pause between
// two polling cycles. It owns the list of live values to poll, one TraceCommand each, and
// the thread that paces the cycles; on every tick a cycle asks the command handler for each
// value in turn (requestTraceValues).
//
// A cycle is served one exchange at a time, each in a turn of the event loop of its own:
// what the user does meanwhile (Stop motor above all) waits for the exchange in flight
// only, never for the rest of the cycle.
//
// Polling follows the link: it starts only while a link is open, and it stops, as if Stop
// had been pressed, when the link closes.
class WTraceController : public QWidget
{
    Q_OBJECT

public:
    explicit WTraceController(QWidget* parent = nullptr);
    // Stops the polling thread and waits for it, without waiting out its pause.
    ~WTraceController() override;

    // Takes the record over and lists it at the end, unless a listed record has the same
    // command, type and motor/bank number; the record is released then.
    void addTraceCommand(TraceCommand* traceCommand);
    const QList<TraceCommand*>& traceCommands() const { return m_traceCommands; }
    void clearTraceCommands();

    void setDelay(int delayMs);
    void setDelayStep(int step);
    void setDelayMinimum(int minimum);
    void setDelayMaximum(int maximum);
    // As pressing Start (true) or Stop (false).
    void setPolling(bool on);
    bool isPolling() const { return m_polling; }
    bool isLinkOpen() const { return m_linkOpen; }

    ValueCheckerThread* pollingThread() const { return m_thread; }

    // While held, no polling exchange runs: a tick that falls due, or the rest of the cycle
    // in progress, waits (and holds the next ticks back) until the last hold is released,
    // and is served then. So an operation that lets events through between its exchanges
    // has the link to itself.
    void holdPolling();
    void releasePolling();

signals:
    void start();
    void stop();
    void delayChanged(int delay);
    // A polling cycle begins; its requests and answers follow, then cycleFinished().
    void cycleStarted();
    // One exchange of the cycle is due: the list holds the record to ask for now (the
    // records of the controller's list in turn, one per emit).
    void requestTraceValues(QList<TraceCommand*>* traceCommands);
    // The cycle is over: every request done, answered or not, or the rest left out because
    // polling was stopped or the link closed meanwhile.
    void cycleFinished();

public slots:
    // Whether a link to the module is open. A link that closes ends the polling.
    void setLinkOpen(bool open);
    void linkClosed() { setLinkOpen(false); }

private slots:
    void on_btnStart_clicked();
    void on_btnStop_clicked();
    void on_sbDelay_valueChanged(int value);
    // One tick of the polling thread.
    void requestTraceValues();

private:
    void showPolling(bool on);
    // The next exchange of the cycle in progress, or its end.
    void pollNextRecord();
    // Ends the cycle in progress; the thread may tick again after one more turn of the
    // event loop.
    void endCycle();
    void tickServedLater();

    Ui::WTraceController* m_ui;
    ValueCheckerThread* m_thread;
    QList<TraceCommand*> m_traceCommands;
    bool m_polling = false;
    bool m_linkOpen = false;
    int m_holds = 0;
    // A tick came in while polling was held.
    bool m_tickHeld = false;
    // The cycle in progress: the index of the record it asks for next; -1 between cycles.
    int m_nextRecord = -1;
    // The cycle in progress was held before its next exchange.
    bool m_cycleHeld = false;
    // The one record an exchange of the cycle asks for.
    QList<TraceCommand*> m_request;
};

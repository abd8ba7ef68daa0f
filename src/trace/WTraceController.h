#pragma once

#include "comm/TraceCommand.h"

#include <QList>
#include <QWidget>

#include <memory>

class LinkController;
class Poller;

namespace Ui {
class WTraceController;
}

// The "Trace controller" panel: switches live polling on and off and sets the pause between
// two polling cycles. It owns the list of live values to poll, one TraceCommand each; the
// polling itself is the core's Poller (created by setHandler()), which this panel starts,
// stops, holds and keeps to its list and delay. The poller paces the cycles with a timer on
// the GUI thread and serves one exchange per turn of the event loop: what the user does
// meanwhile (Stop motor above all) waits for the exchange in flight only. Its samples, with
// their time and outcome, go to the charts and the recording.
//
// Polling follows the link: it starts only while a link is open, and it stops, as if Stop
// had been pressed, when the link closes.
class WTraceController : public QWidget
{
    Q_OBJECT

public:
    explicit WTraceController(QWidget* parent = nullptr);
    ~WTraceController() override;

    // Polls through this link's handler from now on, while the link is open (once; the
    // link outlives the controller).
    void setLink(LinkController& link);
    // The poller, or null before setHandler().
    Poller* poller() const { return m_poller.get(); }

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
    bool isLinkOpen() const;

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
    // Kept for callers that poll a list themselves; the controller's own cycles go through
    // the poller, which asks the handler for one record at a time.
    void requestTraceValues(QList<TraceCommand*>* traceCommands);
    // The cycle is over: every request done, answered or not, or the rest left out because
    // polling was stopped or the link closed meanwhile.
    void cycleFinished();

private slots:
    void on_btnStart_clicked();
    void on_btnStop_clicked();
    void on_sbDelay_valueChanged(int value);
    // A cycle now, if polling runs and none is in progress.
    void requestTraceValues();

private:
    void showPolling(bool on);
    void listChanged();
    // A link that is not open (any more) ends the polling.
    void followLink();

    std::unique_ptr<Ui::WTraceController> m_ui;
    LinkController* m_link = nullptr;
    std::unique_ptr<Poller> m_poller;
    QList<TraceCommand*> m_traceCommands;
    bool m_polling = false;
    // Holds taken before the poller was there.
    int m_holds = 0;
};

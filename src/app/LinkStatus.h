#pragma once

#include "comm/LinkController.h"

#include <QElapsedTimer>
#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;
class QTimer;

// The link as the status bar shows it: "Not connected"; "Connected: <port>, <n> baud,
// address <n>" (or "own line settings" for a port that keeps its own); "Link lost:
// <reason>" after a time-out or a port that went away; "Could not open <port>: <reason>".
// A lost link or a port that did not open offers Reconnect, which asks for the same port
// with the same settings once; nothing reconnects by itself. While live polling runs, the
// polling rate measured over each second is shown beside it. An operation during which the
// line was not clean is named beside the link ("Exporting settings: the line is not
// clean") until the link changes.
class LinkStatus : public QWidget
{
    Q_OBJECT

public:
    enum class State
    {
        NotConnected,
        Connected,
        Lost,
        OpenFailed
    };

    static constexpr int RateIntervalMs = 1000;

    explicit LinkStatus(QWidget* parent = nullptr);

    State state() const { return m_state; }
    QString text() const;
    // Empty while polling is off.
    QString pollingText() const;
    // Empty unless an operation found the line not clean on this link.
    QString warningText() const;
    bool offersReconnect() const;

signals:
    // The user pressed Reconnect.
    void reconnectRequested();

public slots:
    // The link as its controller has it now.
    void showLink(const LinkController::State& link);
    // Bytes arrived during the operation that answered no request.
    void showLineNotClean(const QString& operation);

    void pollingStarted();
    void pollingStopped();
    // One polling cycle has gone out.
    void cycleDone();

private slots:
    void measureRate();

private:
    void showState(State state, const QString& text);

    State m_state = State::NotConnected;
    QLabel* m_text;
    QPushButton* m_reconnect;
    QLabel* m_warning;
    QLabel* m_rate;
    QTimer* m_rateTimer;
    QElapsedTimer m_rateClock;
    int m_cycles = 0;
};

#include "trace/WTraceController.h"

#include "comm/DebugLine.h"
#include "trace/ValueCheckerThread.h"
#include "ui_WTraceController.h"

#include <QTimer>

WTraceController::WTraceController(QWidget* parent)
    : QWidget(parent), m_ui(new Ui::WTraceController)
{
    m_ui->setupUi(this);
    m_ui->btnStop->setEnabled(false);
    m_ui->sbDelay->setValue(20);
    m_ui->sbDelay->setSingleStep(1);
    // The pause the thread uses is the one the spin box shows.
    m_thread = new ValueCheckerThread(m_ui->sbDelay->value());

    connect(this, &WTraceController::start, m_thread, &ValueCheckerThread::start);
    connect(this, &WTraceController::stop, m_thread, &ValueCheckerThread::stop);
    connect(this, &WTraceController::delayChanged, m_thread, &ValueCheckerThread::changeDelay);
    // The thread object lives on the GUI thread, but it emits from its own: each tick
    // arrives as a queued call.
    connect(m_thread, &ValueCheckerThread::checkRequested, this,
            qOverload<>(&WTraceController::requestTraceValues));
}

WTraceController::~WTraceController()
{
    delete m_thread;
    qDeleteAll(m_traceCommands);
    delete m_ui;
}

void WTraceController::addTraceCommand(TraceCommand* traceCommand)
{
    for (const TraceCommand* listed : m_traceCommands) {
        if (listed->sameAs(*traceCommand)) {
            delete traceCommand;
            return;
        }
    }
    m_traceCommands.append(traceCommand);
}

void WTraceController::clearTraceCommands()
{
    qDeleteAll(m_traceCommands);
    m_traceCommands.clear();
}

void WTraceController::setDelay(int delayMs)
{
    m_ui->sbDelay->setValue(delayMs);
}

void WTraceController::setDelayStep(int step)
{
    m_ui->sbDelay->setSingleStep(step);
}

void WTraceController::setDelayMinimum(int minimum)
{
    m_ui->sbDelay->setMinimum(minimum);
}

void WTraceController::setDelayMaximum(int maximum)
{
    m_ui->sbDelay->setMaximum(maximum);
}

void WTraceController::setPolling(bool on)
{
    if (on)
        on_btnStart_clicked();
    else
        on_btnStop_clicked();
}

void WTraceController::setLinkOpen(bool open)
{
    m_linkOpen = open;
    if (!open && m_polling)
        on_btnStop_clicked();
}

void WTraceController::on_btnStart_clicked()
{
    if (!m_linkOpen) {
        // Without a link every request of a cycle would fail; say so once and stay off.
        DebugLine() << "could not send data: is device opened?";
        return;
    }
    showPolling(true);
    emit start();
}

void WTraceController::on_btnStop_clicked()
{
    showPolling(false);
    emit stop();
}

void WTraceController::showPolling(bool on)
{
    m_polling = on;
    m_ui->btnStart->setEnabled(!on);
    m_ui->btnStop->setEnabled(on);
}

void WTraceController::on_sbDelay_valueChanged(int value)
{
    emit delayChanged(value);
}

void WTraceController::holdPolling()
{
    ++m_holds;
}

void WTraceController::releasePolling()
{
    if (m_holds == 0 || --m_holds > 0)
        return;
    // Served from the event loop, once the operation that held it has returned.
    if (m_cycleHeld) {
        m_cycleHeld = false;
        QTimer::singleShot(0, this, &WTraceController::pollNextRecord);
    } else if (m_tickHeld) {
        m_tickHeld = false;
        QTimer::singleShot(0, this, qOverload<>(&WTraceController::requestTraceValues));
    }
}

void WTraceController::requestTraceValues()
{
    if (m_holds > 0) {
        // Not served yet, so the thread sends no further tick meanwhile.
        m_tickHeld = true;
        return;
    }
    // A tick that was still on its way when Stop was pressed polls nothing.
    if (!m_polling) {
        tickServedLater();
        return;
    }
    emit cycleStarted();
    m_nextRecord = 0;
    pollNextRecord();
}

void WTraceController::pollNextRecord()
{
    if (m_nextRecord < 0)
        return;
    if (m_holds > 0) {
        m_cycleHeld = true;
        return;
    }
    const auto more = [this] {
        return m_polling && m_linkOpen && m_nextRecord < m_traceCommands.size();
    };
    if (more()) {
        // The handler answers inside the emit.
        m_request = {m_traceCommands.at(m_nextRecord++)};
        emit requestTraceValues(&m_request);
    }
    if (!more()) {
        endCycle();
        return;
    }
    // Each exchange runs from a posted call, and a call posted meanwhile waits for the next
    // turn of the event loop: the input that came in during the exchange (a key, a click)
    // is served before the next exchange goes out.
    QTimer::singleShot(0, this, &WTraceController::pollNextRecord);
}

void WTraceController::endCycle()
{
    m_nextRecord = -1;
    m_request.clear();
    emit cycleFinished();
    tickServedLater();
}

void WTraceController::tickServedLater()
{
    // The next tick may go out after one more turn of the event loop, so that the input,
    // timers and repaints that came in during the cycle are served before the next cycle
    // begins.
    QTimer::singleShot(0, this, [this] { m_thread->tickServed(); });
}

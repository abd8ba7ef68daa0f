#include "trace/WTraceController.h"

#include "comm/DebugLine.h"
#include "comm/LinkController.h"
#include "config/Poller.h"
#include "ui_WTraceController.h"

WTraceController::WTraceController(QWidget* parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::WTraceController>())
{
    m_ui->setupUi(this);
    m_ui->btnStop->setEnabled(false);
    m_ui->sbDelay->setValue(20);
    m_ui->sbDelay->setSingleStep(1);
}

WTraceController::~WTraceController()
{
    m_poller.reset();
    qDeleteAll(m_traceCommands);
}

void WTraceController::setLink(LinkController& link)
{
    if (m_poller)
        return;
    m_link = &link;
    connect(m_link, &LinkController::stateChanged, this, &WTraceController::followLink);
    m_poller = std::make_unique<Poller>(link.handler());
    // The pause the poller uses is the one the spin box shows.
    m_poller->setDelay(m_ui->sbDelay->value());
    m_poller->setRequests(m_traceCommands);
    for (int i = 0; i < m_holds; ++i)
        m_poller->hold();
    if (m_polling)
        m_poller->start();
    Poller* poller = m_poller.get();
    connect(this, &WTraceController::start, poller, &Poller::start);
    connect(this, &WTraceController::stop, poller, &Poller::stop);
    connect(this, &WTraceController::delayChanged, poller, &Poller::setDelay);
    connect(poller, &Poller::cycleStarted, this, &WTraceController::cycleStarted);
    connect(poller, &Poller::cycleFinished, this, &WTraceController::cycleFinished);
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
    listChanged();
}

void WTraceController::clearTraceCommands()
{
    qDeleteAll(m_traceCommands);
    m_traceCommands.clear();
    listChanged();
}

void WTraceController::listChanged()
{
    if (m_poller)
        m_poller->setRequests(m_traceCommands);
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

bool WTraceController::isLinkOpen() const
{
    return m_link && m_link->state().isOpen();
}

void WTraceController::followLink()
{
    if (!isLinkOpen() && m_polling)
        on_btnStop_clicked();
}

void WTraceController::on_btnStart_clicked()
{
    if (!isLinkOpen()) {
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
    if (m_poller)
        m_poller->hold();
}

void WTraceController::releasePolling()
{
    if (m_holds == 0)
        return;
    --m_holds;
    if (m_poller)
        m_poller->release();
}

void WTraceController::requestTraceValues()
{
    if (m_polling && m_poller)
        m_poller->start();
}

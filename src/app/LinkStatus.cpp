#include "app/LinkStatus.h"

#include <QBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

LinkStatus::LinkStatus(QWidget* parent) : QWidget(parent)
{
    m_text = new QLabel;
    m_text->setObjectName(QStringLiteral("lblLinkStatus"));
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_reconnect = new QPushButton(tr("Reconnect"));
    m_reconnect->setObjectName(QStringLiteral("btnReconnect"));
    m_reconnect->setToolTip(tr("Open the same port with the same settings again"));
    m_reconnect->setVisible(false);
    m_warning = new QLabel;
    m_warning->setObjectName(QStringLiteral("lblLineWarning"));
    m_warning->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_warning->setVisible(false);
    m_rate = new QLabel;
    m_rate->setObjectName(QStringLiteral("lblPollingRate"));
    m_rate->setVisible(false);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_text);
    layout->addWidget(m_reconnect);
    layout->addSpacing(12);
    layout->addWidget(m_warning);
    layout->addSpacing(12);
    layout->addWidget(m_rate);
    layout->addStretch(1);

    m_rateTimer = new QTimer(this);
    m_rateTimer->setInterval(RateIntervalMs);
    connect(m_rateTimer, &QTimer::timeout, this, &LinkStatus::measureRate);
    connect(m_reconnect, &QPushButton::clicked, this, &LinkStatus::reconnectRequested);

    showState(State::NotConnected, tr("Not connected"));
}

QString LinkStatus::text() const
{
    return m_text->text();
}

QString LinkStatus::pollingText() const
{
    return m_rateTimer->isActive() ? m_rate->text() : QString();
}

QString LinkStatus::warningText() const
{
    return m_warning->isHidden() ? QString() : m_warning->text();
}

bool LinkStatus::offersReconnect() const
{
    return m_state == State::Lost || m_state == State::OpenFailed;
}

void LinkStatus::showState(State state, const QString& text)
{
    m_state = state;
    m_text->setText(text);
    m_reconnect->setVisible(offersReconnect());
    m_warning->setVisible(false);
}

void LinkStatus::showLink(const LinkController::State& link)
{
    const LinkController::Request& request = link.request;
    switch (link.kind) {
    case LinkController::State::Closed:
        showState(State::NotConnected, tr("Not connected"));
        break;
    case LinkController::State::Open: {
        // A port that keeps its own line settings has no baud rate of ours.
        const QString line =
            request.baudRate > 0 ? tr("%1 baud").arg(request.baudRate) : tr("own line settings");
        showState(State::Connected,
                  tr("Connected: %1, %2, address %3").arg(request.port, line).arg(request.address));
        break;
    }
    case LinkController::State::OpenFailed:
        showState(State::OpenFailed, tr("Could not open %1: %2").arg(request.port, link.reason));
        break;
    case LinkController::State::Lost:
    case LinkController::State::StopOnly:
        // Opened again for the stop alone, the link is still down, for the first reason.
        showState(State::Lost, tr("Link lost: %1").arg(link.reason));
        break;
    }
}

void LinkStatus::showLineNotClean(const QString& operation)
{
    m_warning->setText(tr("%1: the line is not clean").arg(operation));
    m_warning->setVisible(true);
}

void LinkStatus::pollingStarted()
{
    m_cycles = 0;
    m_rateClock.start();
    m_rateTimer->start();
    m_rate->setText(tr("Polling"));
    m_rate->setVisible(true);
}

void LinkStatus::pollingStopped()
{
    m_rateTimer->stop();
    m_rate->setVisible(false);
}

void LinkStatus::cycleDone()
{
    ++m_cycles;
}

void LinkStatus::measureRate()
{
    const qint64 elapsedMs = m_rateClock.restart();
    if (elapsedMs <= 0)
        return;
    const double rate = m_cycles * 1000.0 / static_cast<double>(elapsedMs);
    m_cycles = 0;
    m_rate->setText(tr("Polling: %1 cycles/s").arg(rate, 0, 'f', 1));
}

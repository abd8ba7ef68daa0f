#include "app/MotionDialog.h"

#include "comm/SerialUSBCommandHandler.h"
#include "trace/WTraceController.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

namespace {

// How often a long run lets the dialog's events through when asked to be sparing.
constexpr qint64 EventsMs = 50;

} // namespace

MotionDialog::MotionDialog(SerialUSBCommandHandler& handler, LinkController* link,
                           WTraceController* traceController, QWidget* parent)
    : QDialog(parent), m_handler(handler), m_link(link), m_traceController(traceController),
      m_status(new QLabel(this)), m_buttons(new QHBoxLayout)
{
    m_buttons->addStretch();
    m_status->setObjectName(QStringLiteral("lblStatus"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
}

QLabel* MotionDialog::warningLine(const QString& text)
{
    auto* warning = new QLabel(text, this);
    warning->setObjectName(QStringLiteral("lblWarning"));
    warning->setWordWrap(true);
    warning->setStyleSheet(QStringLiteral("color: #a00000; font-weight: bold"));
    return warning;
}

QPushButton* MotionDialog::addButton(const QString& text, const char* objectName)
{
    auto* button = new QPushButton(text, this);
    button->setObjectName(QLatin1String(objectName));
    button->setAutoDefault(false);
    m_buttons->insertWidget(m_buttons->count() - 1, button);
    return button;
}

QTableWidget* MotionDialog::makeJournal(const QStringList& headers)
{
    auto* journal = new QTableWidget(0, static_cast<int>(headers.size()), this);
    journal->setObjectName(QStringLiteral("twJournal"));
    journal->setHorizontalHeaderLabels(headers);
    journal->setEditTriggers(QAbstractItemView::NoEditTriggers);
    journal->verticalHeader()->hide();
    return journal;
}

void MotionDialog::stop()
{
    m_stopRequested = true;
}

void MotionDialog::reject()
{
    if (m_running) {
        stop();
        return;
    }
    QDialog::reject();
}

bool MotionDialog::mayRun()
{
    if (m_running)
        return false;
    if (!m_handler.isOpen()) {
        say(tr("Not connected: open the link to the module first."), true);
        return false;
    }
    return true;
}

void MotionDialog::beginRun(const QString& what)
{
    m_stopRequested = false;
    setRunning(true);
    say(what, false);
    if (m_traceController)
        m_traceController->holdPolling();
}

void MotionDialog::endRun()
{
    if (m_traceController)
        m_traceController->releasePolling();
    setRunning(false);
}

bool MotionDialog::serveEvents(bool sparingly)
{
    if (!sparingly || !m_events.isValid() || m_events.elapsed() >= EventsMs) {
        m_events.start();
        QCoreApplication::processEvents();
    }
    return m_stopRequested;
}

void MotionDialog::say(const QString& text, bool failure)
{
    showStatus(m_status, text, failure);
}

void MotionDialog::setRunning(bool running)
{
    m_running = running;
    enableFields(running);
    m_windowBehind.setRunning(this, running);
}

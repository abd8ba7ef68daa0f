#include "app/OperationProgress.h"

#include <QApplication>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

namespace {

// QProgressDialog places its label, bar and Cancel itself; Stop motor takes the left end
// of Cancel's row.
class StoppableProgress : public QProgressDialog
{
public:
    StoppableProgress(QWidget* parent, const std::function<void()>& stopMotor)
        : QProgressDialog(parent)
    {
        // The dialog's own Cancel (a button of one's own would leave a second Esc shortcut).
        setCancelButtonText(QApplication::translate("BLDC", "Cancel"));
        m_cancel = findChild<QPushButton*>();
        if (!stopMotor || !m_cancel)
            return;
        m_stop = new QPushButton(QApplication::translate("BLDC", "Stop motor"), this);
        m_stop->setObjectName(QStringLiteral("btnStopMotor"));
        m_stop->setAutoDefault(false);
        m_stop->setStyleSheet(QStringLiteral(
            "QPushButton { color: white; background-color: #c62828; font-weight: bold;"
            " border: 1px solid #8e0000; border-radius: 3px; padding: 3px 12px; }"
            "QPushButton:hover { background-color: #e53935; }"
            "QPushButton:pressed { background-color: #8e0000; }"));
        connect(m_stop, &QPushButton::clicked, this, stopMotor);
    }

    QSize sizeHint() const override
    {
        QSize hint = QProgressDialog::sizeHint();
        if (m_stop)
            hint.setWidth(std::max(hint.width(), m_stop->sizeHint().width() +
                                                     m_cancel->sizeHint().width() + 4 * Gap));
        return hint;
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QProgressDialog::resizeEvent(event);
        if (!m_stop)
            return;
        const QRect cancel = m_cancel->geometry();
        m_stop->setGeometry(width() - 1 - cancel.right(), cancel.y(), m_stop->sizeHint().width(),
                            cancel.height());
    }

private:
    static constexpr int Gap = 10;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_stop = nullptr;
};

} // namespace

OperationProgress::OperationProgress(const QString& label, int total, QWidget* parent,
                                     std::function<void()> stopMotor)
    : m_dialog(std::make_unique<StoppableProgress>(parent, stopMotor))
{
    m_dialog->setObjectName(QStringLiteral("operationProgress"));
    m_dialog->setWindowTitle(QStringLiteral("ZIRO-BLDC"));
    m_dialog->setWindowModality(Qt::ApplicationModal);
    auto* bar = new QProgressBar(m_dialog.get());
    bar->setFormat(QApplication::translate("BLDC", "%v of %m parameters"));
    m_dialog->setBar(bar);
    m_dialog->setLabelText(label);
    m_dialog->setRange(0, total);
    // Closed by the operation's end, not by reaching the maximum.
    m_dialog->setAutoClose(false);
    m_dialog->setAutoReset(false);
    m_dialog->setMinimumDuration(0);
    m_dialog->setValue(0);
    m_dialog->show();
    QApplication::processEvents();
}

OperationProgress::~OperationProgress() = default;

bool OperationProgress::update(int done, int total)
{
    if (m_dialog->maximum() != total)
        m_dialog->setMaximum(total);
    m_dialog->setValue(done);
    // Input (a click on Cancel or Stop motor, Esc), timers and repaints that came in during
    // the exchange; a stop is written here, before the operation's next exchange.
    QApplication::processEvents();
    return !m_dialog->wasCanceled();
}

ModuleExchange::Progress OperationProgress::callback()
{
    return [this](int done, int total) { return update(done, total); };
}

#include "app/OperationProgress.h"

#include <QApplication>
#include <QProgressBar>

OperationProgress::OperationProgress(const QString& label, int total, QWidget* parent)
    : m_dialog(parent)
{
    m_dialog.setObjectName(QStringLiteral("operationProgress"));
    m_dialog.setWindowTitle(QStringLiteral("ZIRO-BLDC"));
    m_dialog.setWindowModality(Qt::ApplicationModal);
    auto* bar = new QProgressBar(&m_dialog);
    bar->setFormat(QApplication::translate("BLDC", "%v of %m parameters"));
    m_dialog.setBar(bar);
    m_dialog.setLabelText(label);
    m_dialog.setCancelButtonText(QApplication::translate("BLDC", "Cancel"));
    m_dialog.setRange(0, total);
    // Closed by the operation's end, not by reaching the maximum.
    m_dialog.setAutoClose(false);
    m_dialog.setAutoReset(false);
    m_dialog.setMinimumDuration(0);
    m_dialog.setValue(0);
    m_dialog.show();
    QApplication::processEvents();
}

bool OperationProgress::update(int done, int total)
{
    if (m_dialog.maximum() != total)
        m_dialog.setMaximum(total);
    m_dialog.setValue(done);
    // Input (a click on Cancel), timers and repaints that came in during the exchange.
    QApplication::processEvents();
    return !m_dialog.wasCanceled();
}

ModuleExchange::Progress OperationProgress::callback()
{
    return [this](int done, int total) { return update(done, total); };
}

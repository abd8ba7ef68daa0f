#include "app/WindowBehind.h"

#include <QLabel>

void WindowBehind::setRunning(QWidget* dialog, bool running)
{
    if (running && dialog->parentWidget()) {
        const QList<QWidget*> parts = dialog->parentWidget()->window()->findChildren<QWidget*>(
            QString(), Qt::FindDirectChildrenOnly);
        for (QWidget* part : parts) {
            if (!part->isWindow() && part->isEnabled()) {
                part->setEnabled(false);
                m_disabled << part;
            }
        }
    } else if (!running) {
        for (const QPointer<QWidget>& part : std::as_const(m_disabled))
            if (part)
                part->setEnabled(true);
        m_disabled.clear();
    }
}

void showStatus(QLabel* status, const QString& text, bool failure)
{
    status->setStyleSheet(failure ? QStringLiteral("color: #a00000") : QString());
    status->setText(text);
}

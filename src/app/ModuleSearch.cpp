#include "app/ModuleSearch.h"

#include "comm/LinkController.h"
#include "panels/connection/ModuleScanDialog.h"
#include "panels/connection/WSerialConnection.h"

#include <QFileInfo>
#include <QMessageBox>

namespace {

QString location(const QString& port)
{
#ifdef Q_OS_WIN
    return port.toUpper();
#else
    const QString path = port.startsWith(QLatin1Char('/')) ? port : QStringLiteral("/dev/") + port;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
#endif
}

} // namespace

ModuleSearch::ModuleSearch(WSerialConnection& panel, LinkController& link,
                           std::function<bool()> closeLink, QWidget* window)
    : QObject(window), m_panel(panel), m_link(link), m_closeLink(std::move(closeLink)),
      m_window(window)
{
    connect(&m_panel, &WSerialConnection::findModulesRequested, this, &ModuleSearch::findModules);
}

bool ModuleSearch::samePort(const QString& first, const QString& second)
{
    return !first.isEmpty() && location(first) == location(second);
}

void ModuleSearch::findModules(const QString& port)
{
    const QString title = tr("Find modules");
    if (port.isEmpty()) {
        QMessageBox::information(m_window, title,
                                 tr("Choose the port of the line first, or type its path."));
        return;
    }
    if (m_link.isOpen() && samePort(m_link.lastRequest().port, port)) {
        const auto answer = QMessageBox::question(
            m_window, title,
            tr("The window is connected through %1, and a scan needs the port to itself.\n\n"
               "Disconnect and scan?")
                .arg(port),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
        // The user may stay with a turning motor.
        if (!m_closeLink())
            return;
    }
    ModuleScanDialog dialog(port, m_panel.baudRates(), m_window);
    connect(&dialog, &ModuleScanDialog::moduleChosen, &m_panel, &WSerialConnection::chooseModule);
    dialog.exec();
}

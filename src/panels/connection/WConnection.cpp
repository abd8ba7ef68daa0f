#include "panels/connection/WConnection.h"

#include "comm/PortDiscovery.h"
#include "ui_WConnection.h"

namespace {

const QString EntrySeparator = QStringLiteral("   [");

} // namespace

WConnection::WConnection(QWidget* parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::WConnection>())
{
    m_ui->setupUi(this);
}

WConnection::WConnection(const QString& title, QWidget* parent) : WConnection(parent)
{
    m_ui->gbUSBConnection->setTitle(title);
}

WConnection::~WConnection() = default;

void WConnection::refresh()
{
    m_ui->cmbDevices->clear();
    m_ui->cmbDevices->addItems(PortDiscovery::usbPortEntries());
    if (!m_simulatedPort.isEmpty())
        m_ui->cmbDevices->addItem(m_simulatedPort + EntrySeparator + QStringLiteral("Simulated]"));
}

void WConnection::setSimulatedPort(const QString& path)
{
    m_simulatedPort = path;
}

bool WConnection::selectPort(const QString& name)
{
    for (int i = 0; i < m_ui->cmbDevices->count(); ++i) {
        QString entryName;
        splitEntry(m_ui->cmbDevices->itemText(i), &entryName, nullptr);
        if (!name.isEmpty() && entryName == name) {
            m_ui->cmbDevices->setCurrentIndex(i);
            return true;
        }
    }
    return false;
}

void WConnection::deviceClosed()
{
    setConnected(false);
}

void WConnection::deviceOpened()
{
    setConnected(true);
}

void WConnection::splitEntry(const QString& entry, QString* name, QString* description)
{
    const int separator = entry.indexOf(EntrySeparator);
    *name = entry;
    if (description)
        description->clear();
    if (separator < 0)
        return;
    *name = entry.left(separator);
    if (description) {
        const int start = separator + EntrySeparator.size();
        const int end = entry.indexOf(QLatin1Char(']'), start);
        *description = entry.mid(start, end < 0 ? -1 : end - start);
    }
}

void WConnection::on_btnConnect_clicked()
{
    setConnected(true);
    QString name;
    QString description;
    splitEntry(m_ui->cmbDevices->currentText(), &name, &description);
    emit openDevice(name, description);
}

void WConnection::on_btnDisconnect_clicked()
{
    setConnected(false);
    emit closeDevice();
}

void WConnection::on_btnUpdate_clicked()
{
    refresh();
}

void WConnection::setConnected(bool connected)
{
    m_ui->btnConnect->setEnabled(!connected);
    m_ui->btnDisconnect->setEnabled(connected);
}

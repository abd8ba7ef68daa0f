#include "WConnection.h"

#include "PortDiscovery.h"
#include "ui_WConnection.h"

namespace {

const QString EntrySeparator = QStringLiteral("   [");

} // namespace

WConnection::WConnection(QWidget* parent) : QWidget(parent), m_ui(new Ui::WConnection)
{
    m_ui->setupUi(this);
}

WConnection::WConnection(const QString& title, QWidget* parent) : WConnection(parent)
{
    m_ui->gbUSBConnection->setTitle(title);
}

WConnection::~WConnection()
{
    delete m_ui;
}

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

void WConnection::deviceClosed()
{
    setConnected(false);
}

void WConnection::on_btnConnect_clicked()
{
    setConnected(true);
    const QString entry = m_ui->cmbDevices->currentText();
    const int separator = entry.indexOf(EntrySeparator);
    QString name = entry;
    QString description;
    if (separator >= 0) {
        name = entry.left(separator);
        const int start = separator + EntrySeparator.size();
        const int end = entry.indexOf(QLatin1Char(']'), start);
        description = entry.mid(start, end < 0 ? -1 : end - start);
    }
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

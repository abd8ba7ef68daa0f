#include "panels/connection/WSerialConnection.h"

#include "comm/PortDiscovery.h"
#include "ui_WSerialConnection.h"

#include <QFileInfo>
#include <QLineEdit>

WSerialConnection::WSerialConnection(QWidget* parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::WSerialConnection>())
{
    m_ui->setupUi(this);
    connect(m_ui->cmbDevices, &QComboBox::currentIndexChanged, this,
            &WSerialConnection::showPortStart);
    // ...and a path typed in, once the field is left.
    connect(m_ui->cmbDevices->lineEdit(), &QLineEdit::editingFinished, this,
            &WSerialConnection::showPortStart);
}

void WSerialConnection::showPortStart()
{
    // A path longer than the field shows its start, where the device's folder and name
    // begin, rather than its last characters; the tool tip holds it whole. Not while the user
    // types in it.
    QLineEdit* edit = m_ui->cmbDevices->lineEdit();
    if (edit && !edit->hasFocus())
        edit->setCursorPosition(0);
    m_ui->cmbDevices->setToolTip(m_ui->cmbDevices->currentText());
}

WSerialConnection::WSerialConnection(const QString& title, QWidget* parent)
    : WSerialConnection(parent)
{
    m_ui->gbSerialConnection->setTitle(title);
}

WSerialConnection::~WSerialConnection() = default;

void WSerialConnection::refresh()
{
    m_ui->cmbDevices->clear();
    m_ui->cmbDevices->addItems(PortDiscovery::openablePorts(PortDiscovery::serialPortNames()));
}

bool WSerialConnection::selectPort(const QString& port)
{
    if (port.isEmpty())
        return false;
    const int listed = m_ui->cmbDevices->findText(port);
    if (listed >= 0) {
        m_ui->cmbDevices->setCurrentIndex(listed);
        return true;
    }
    if (port.contains(QLatin1Char('/')) && QFileInfo::exists(port)) {
        m_ui->cmbDevices->setEditText(port);
        showPortStart();
        return true;
    }
    return false;
}

bool WSerialConnection::selectBaudRate(int baudRate)
{
    const int index = m_ui->cmbBaudrates->findText(QString::number(baudRate));
    if (index < 0)
        return false;
    m_ui->cmbBaudrates->setCurrentIndex(index);
    return true;
}

void WSerialConnection::setAddress(int address)
{
    m_ui->sbAddress->setValue(address);
}

QString WSerialConnection::port() const
{
    return m_ui->cmbDevices->currentText().trimmed();
}

QList<int> WSerialConnection::baudRates() const
{
    QList<int> rates;
    for (int i = 0; i < m_ui->cmbBaudrates->count(); ++i)
        rates << m_ui->cmbBaudrates->itemText(i).toInt(nullptr, 10);
    return rates;
}

void WSerialConnection::chooseModule(int address, int baudRate, bool connectNow)
{
    selectBaudRate(baudRate);
    setAddress(address);
    // In place of whatever link is open, as Connect does.
    if (connectNow)
        on_btnConnect_clicked();
}

void WSerialConnection::deviceClosed()
{
    setConnected(false);
}

void WSerialConnection::deviceOpened()
{
    setConnected(true);
}

void WSerialConnection::on_btnConnect_clicked()
{
    setConnected(true);
    // A listed port, or any port name or path typed in (a link such as
    // /dev/serial/by-id/..., a pseudo-terminal).
    const QString port = this->port();
    const int baudrate = m_ui->cmbBaudrates->currentText().toInt(nullptr, 10);
    const int address = m_ui->sbAddress->value();
    emit openDevice(port, baudrate, address);
}

void WSerialConnection::on_btnDisconnect_clicked()
{
    setConnected(false);
    emit closeDevice();
}

void WSerialConnection::on_btnUpdate_clicked()
{
    refresh();
}

void WSerialConnection::on_btnFindModules_clicked()
{
    emit findModules(port());
}

void WSerialConnection::setConnected(bool connected)
{
    m_ui->btnConnect->setEnabled(!connected);
    m_ui->btnDisconnect->setEnabled(connected);
}

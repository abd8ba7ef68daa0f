#include "panels/parameters/WCommutationMode.h"

#include "comm/DebugLine.h"
#include "ui_WCommutationMode.h"

#include <QSignalBlocker>

WCommutationMode::WCommutationMode(QWidget* parent)
    : ParameterPanel(parent), m_ui(new Ui::WCommutationMode)
{
    m_ui->setupUi(this);
    setRequestOrder({&m_type});
}

WCommutationMode::~WCommutationMode()
{
    delete m_ui;
}

void WCommutationMode::addMode(const QString& text, int value)
{
    // The item goes in first: the first one selects itself while its entry is missing.
    m_ui->cbCommutationMode->addItem(text);
    m_modes.append({text, QString::number(value)});
}

void WCommutationMode::logUpdate(const char* operation) const
{
    DebugLine() << (QByteArray("WCommutationMode") + operation).constData();
}

void WCommutationMode::on_cbCommutationMode_currentIndexChanged(int index)
{
    const QString text = m_ui->cbCommutationMode->itemText(index);
    int value = 0;
    for (const QStringList& mode : m_modes) {
        if (mode.at(0) == text) {
            value = mode.at(1).toInt();
            break;
        }
    }
    // The module's answer to the write comes back through requestedValue before emitChange
    // returns; the sine initialisation is restarted only once the module took sine.
    m_answer.reset();
    emitChange(m_type, value);
    if (value == SineMode && m_answer == SineMode)
        emitChange(SineInitialisation, 0);
}

void WCommutationMode::requestedValue(char motorBank, char type, int value)
{
    if (motorBank != this->motorBank() || type != m_type)
        return;
    m_answer = value;
    QString text;
    for (const QStringList& mode : m_modes) {
        if (mode.at(1).toInt() == value) {
            text = mode.at(0);
            break;
        }
    }
    DebugLine() << "change commutation mode to: " << text;
    const int index = m_ui->cbCommutationMode->findText(text);
    if (index < 0)
        return;
    // Showing the module's mode is no choice of the user's: nothing is written.
    const QSignalBlocker quiet(m_ui->cbCommutationMode);
    m_ui->cbCommutationMode->setCurrentIndex(index);
}

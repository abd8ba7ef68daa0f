#include "panels/parameters/WCommutationMode.h"

#include "comm/DebugLine.h"
#include "config/Parameter.h"
#include "config/ParameterCatalogue.h"
#include "ui_WCommutationMode.h"

#include <QSignalBlocker>

WCommutationMode::WCommutationMode(QWidget* parent)
    : ParameterPanel(parent), m_ui(std::make_unique<Ui::WCommutationMode>())
{
    m_ui->setupUi(this);
    setType(0);
    bindNumber(&m_sineInitialisation, ParameterCatalogue::SineInitialisation, false);
}

WCommutationMode::~WCommutationMode() = default;

void WCommutationMode::setType(char type)
{
    bindCustom(m_ui->cbCommutationMode, static_cast<vokt::ParameterNumber>(type));
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
    // The module's answer to the write is in the parameter when editParameter returns; the
    // sine initialisation is restarted only once the module took sine.
    ParameterPanel::editParameter(m_ui->cbCommutationMode, value);
    const Parameter* mode = parameter(m_ui->cbCommutationMode);
    if (value == SineMode && mode->state() == Parameter::State::Read && mode->value() == SineMode)
        ParameterPanel::editParameter(&m_sineInitialisation, 0);
}

void WCommutationMode::showCustom(QWidget*, const Parameter& parameter)
{
    if (parameter.state() != Parameter::State::Read)
        return;
    const int value = *parameter.value();
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

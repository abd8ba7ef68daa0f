#include "panels/motion/WStatusFlagsV.h"

#include "config/ParameterCatalogue.h"
#include "ui_WStatusFlagsV.h"

#include <QRadioButton>

WStatusFlagsV::WStatusFlagsV(QWidget* parent) : ParameterPanel(parent), m_ui(new Ui::WStatusFlagsV)
{
    m_ui->setupUi(this);
    setTitleBox(m_ui->gbStatusFlags);
    // Top to bottom, one lamp per meaningful bit of the catalogue, which names it; the
    // bits between them carry nothing the panel shows.
    for (const ParameterCatalogue::StatusFlag& flag : ParameterCatalogue::statusFlags()) {
        auto* button = findChild<QRadioButton*>(QStringLiteral("rbBit%1").arg(flag.bit));
        Q_ASSERT(button);
        button->setText(QString::fromUtf8(flag.label));
        m_lamps.append({flag.bit, button});
    }
}

WStatusFlagsV::~WStatusFlagsV()
{
    delete m_ui;
}

void WStatusFlagsV::setType(char type)
{
    m_type = type;
    m_hasType = true;
    setRequestOrder({&m_type});
    setLiveNumber(&m_type);
}

void WStatusFlagsV::requestedValue(char motorBank, char type, int value)
{
    if (!m_hasType || motorBank != this->motorBank() || type != m_type)
        return;
    const auto word = static_cast<quint32>(value);
    for (const Lamp& lamp : m_lamps)
        lamp.button->setChecked((word >> lamp.bit) & 1u);
}

#include "panels/motion/WStatusFlagsV.h"

#include "ui_WStatusFlagsV.h"

WStatusFlagsV::WStatusFlagsV(QWidget* parent) : ParameterPanel(parent), m_ui(new Ui::WStatusFlagsV)
{
    m_ui->setupUi(this);
    setTitleBox(m_ui->gbStatusFlags);
    // Top to bottom; the bits between them carry nothing the panel shows.
    m_lamps = {{0, m_ui->rbBit0},   {1, m_ui->rbBit1},   {2, m_ui->rbBit2},   {3, m_ui->rbBit3},
               {4, m_ui->rbBit4},   {5, m_ui->rbBit5},   {8, m_ui->rbBit8},   {9, m_ui->rbBit9},
               {10, m_ui->rbBit10}, {11, m_ui->rbBit11}, {14, m_ui->rbBit14}, {17, m_ui->rbBit17}};
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

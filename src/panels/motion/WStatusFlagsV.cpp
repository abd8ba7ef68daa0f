#include "panels/motion/WStatusFlagsV.h"

#include "config/Parameter.h"
#include "config/ParameterCatalogue.h"
#include "ui_WStatusFlagsV.h"

#include <QGroupBox>
#include <QRadioButton>
#include <QStyle>

namespace {

// The lamps' look, drawn by the style sheet on every platform: a round lamp, dim while its
// flag is off, lit while it is on (a fault red, a state green), and the label as readable as
// an enabled one although the button is disabled.
const char* const LampStyle = R"(
QRadioButton:disabled { color: palette(window-text); }
QGroupBox[unknown="true"] QRadioButton:disabled { color: palette(mid); }
QRadioButton::indicator { width: 12px; height: 12px; border-radius: 7px;
                          border: 1px solid #9a9a9a; background: #dfe6df; }
QRadioButton[fault="true"]::indicator { background: #eadcdc; }
QRadioButton::indicator:checked {
    border: 1px solid #1b5e20;
    background: qradialgradient(cx: 0.5, cy: 0.5, radius: 0.6, fx: 0.35, fy: 0.35,
                                stop: 0 #b9f6ca, stop: 0.35 #2ecc40, stop: 1 #1e8e3e); }
QRadioButton[fault="true"]::indicator:checked {
    border: 1px solid #8e0000;
    background: qradialgradient(cx: 0.5, cy: 0.5, radius: 0.6, fx: 0.35, fy: 0.35,
                                stop: 0 #ffcdd2, stop: 0.35 #f01e1e, stop: 1 #b71c1c); }
)";

} // namespace

WStatusFlagsV::WStatusFlagsV(QWidget* parent)
    : ParameterPanel(parent), m_ui(std::make_unique<Ui::WStatusFlagsV>())
{
    m_ui->setupUi(this);
    setTitleBox(m_ui->gbStatusFlags);
    // Top to bottom, one lamp per meaningful bit of the catalogue, which names it; the
    // bits between them carry nothing the panel shows.
    for (const ParameterCatalogue::StatusFlag& flag : ParameterCatalogue::statusFlags()) {
        auto* button = findChild<QRadioButton*>(QStringLiteral("rbBit%1").arg(flag.bit));
        Q_ASSERT(button);
        button->setText(QString::fromUtf8(flag.label));
        button->setProperty("fault", flag.fault);
        button->setToolTip(QString::fromUtf8(flag.meaning));
        m_lamps.append({flag.bit, button});
    }
    m_ui->gbStatusFlags->setStyleSheet(QLatin1String(LampStyle));
}

WStatusFlagsV::~WStatusFlagsV() = default;

void WStatusFlagsV::setType(char type)
{
    // No word is shown before the number is known.
    bindCustom(m_ui->gbStatusFlags, static_cast<vokt::ParameterNumber>(type));
    setLiveField(m_ui->gbStatusFlags);
}

void WStatusFlagsV::showNoWord(const QString& why)
{
    for (const Lamp& lamp : m_lamps)
        lamp.button->setChecked(false);
    setWordKnown(false);
    m_ui->gbStatusFlags->setToolTip(why);
}

void WStatusFlagsV::setWordKnown(bool known)
{
    QGroupBox* box = m_ui->gbStatusFlags;
    if (box->property("unknown").toBool() == !known)
        return;
    box->setProperty("unknown", !known);
    if (known)
        box->setToolTip(QString());
    // The style sheet reads the property when the labels are polished anew.
    for (const Lamp& lamp : m_lamps) {
        lamp.button->style()->unpolish(lamp.button);
        lamp.button->style()->polish(lamp.button);
    }
}

void WStatusFlagsV::showCustom(QWidget*, const Parameter& parameter)
{
    if (parameter.state() == Parameter::State::Writing ||
        parameter.state() == Parameter::State::Unread)
        return;
    if (parameter.state() != Parameter::State::Read) {
        showNoWord(tr("No status word: %1").arg(parameter.reason()));
        return;
    }
    setWordKnown(true);
    const auto word = static_cast<quint32>(*parameter.value());
    for (const Lamp& lamp : m_lamps)
        lamp.button->setChecked((word >> lamp.bit) & 1u);
}

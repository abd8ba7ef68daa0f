#include "app/LoopGainsBox.h"

#include "comm/LinkController.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "config/ParameterCatalogue.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>

namespace {

// The gain fields' names and labels, in the loop's order within a set.
const char* const gainFields[] = {"sbGainP", "sbGainI", "sbGainD", "sbGainIClipping"};
const char* const gainLabels[] = {"P", "I", "D", "I-clipping"};

} // namespace

LoopGainsBox::LoopGainsBox(SerialUSBCommandHandler& handler, LinkController* link, QWidget* parent)
    : QGroupBox(tr("Velocity PID control"), parent), m_handler(handler)
{
    m_gainSet = new QComboBox(this);
    m_gainSet->setObjectName(QStringLiteral("cbGainSet"));
    m_gainSet->addItems({tr("Set 1"), tr("Set 2")});
    auto* gainForm = new QFormLayout(this);
    gainForm->addRow(tr("Set"), m_gainSet);
    for (int k = 0; k < 4; ++k) {
        auto* field = new QSpinBox(this);
        field->setObjectName(QLatin1String(gainFields[k]));
        field->setRange(
            0, k == 3
                   ? ParameterCatalogue::pidLoop(ParameterCatalogue::VelocityLoop).iClippingMaximum
                   : ParameterCatalogue::GainMaximum);
        // Written on Enter or when the field loses focus, not at every key.
        field->setKeyboardTracking(false);
        gainForm->addRow(tr(gainLabels[k]), field);
        connect(field, &QSpinBox::valueChanged, this, [this, k] { writeGain(k); });
        m_gains[size_t(k)] = field;
    }
    m_threshold = new QLabel(this);
    m_threshold->setObjectName(QStringLiteral("lblThreshold"));
    m_threshold->setWordWrap(true);
    gainForm->addRow(m_threshold);
    m_refresh = new QPushButton(tr("Refresh"), this);
    m_refresh->setObjectName(QStringLiteral("btnRefreshGains"));
    m_refresh->setAutoDefault(false);
    gainForm->addRow(m_refresh);
    offer(false);
    if (link)
        connect(link, &LinkController::stateChanged, this,
                [this](const LinkController::State& state) {
                    if (state.isOpen())
                        return;
                    offer(false);
                    m_threshold->setText(tr("Not connected."));
                });
    connect(m_refresh, &QPushButton::clicked, this, &LoopGainsBox::refresh);
    // A gain read or written elsewhere (the Settings tab) shows here too.
    connect(&m_handler, &SerialUSBCommandHandler::requestedValue, this,
            [this](char, char type, int value) {
                for (int k = 0; k < 4; ++k) {
                    if (gainNumber(k) == quint8(type)) {
                        const QSignalBlocker quiet(m_gains[size_t(k)]);
                        m_gains[size_t(k)]->setValue(value);
                    }
                }
            });
    connect(m_gainSet, &QComboBox::currentIndexChanged, this, &LoopGainsBox::refresh);
}

void LoopGainsBox::setRunning(bool running)
{
    m_running = running;
    setEnabled(!running);
}

void LoopGainsBox::offer(bool editable)
{
    for (QSpinBox* field : m_gains)
        field->setEnabled(editable);
}

int LoopGainsBox::gainNumber(int field) const
{
    const auto numbers = ParameterCatalogue::pidNumbers(ParameterCatalogue::VelocityLoop);
    return numbers[size_t(m_gainSet->currentIndex() * 4 + field)];
}

void LoopGainsBox::refresh()
{
    if (m_running)
        return;
    if (!m_handler.isOpen()) {
        offer(false);
        m_threshold->setText(tr("Not connected."));
        return;
    }
    m_filling = true;
    bool read = true;
    for (int k = 0; k < 4 && read; ++k) {
        const SerialUSBCommandHandler::Outcome outcome =
            m_handler.exchange(vokt::GetAxisParameter, vokt::ParameterNumber(gainNumber(k)), 0, 0);
        read = outcome.ok();
        if (read)
            m_gains[size_t(k)]->setValue(outcome.reply->value());
    }
    const SerialUSBCommandHandler::Outcome threshold =
        read ? m_handler.exchange(vokt::GetAxisParameter, vokt::ParameterNumber(8), 0, 0)
             : SerialUSBCommandHandler::Outcome();
    m_filling = false;
    // Fields that could not be read are not offered for editing: an edit would start from a
    // value the module does not hold.
    offer(read && threshold.ok());
    if (!read || !threshold.ok()) {
        m_threshold->setText(tr("The gains could not be read."));
        return;
    }
    m_threshold->setText(tr("Set 1 acts below %1 rpm (threshold speed, 8), set 2 from it on.")
                             .arg(threshold.reply->value()));
}

void LoopGainsBox::writeGain(int field)
{
    if (m_filling || m_running)
        return;
    QSpinBox* box = m_gains[size_t(field)];
    const int type = gainNumber(field);
    const qint32 value = box->value();
    const SerialUSBCommandHandler::Outcome outcome =
        m_handler.exchange(vokt::SetAxisParameter, vokt::ParameterNumber(type), 0, value);
    // Read back as the panels do: the field here and the Settings tab show what the module
    // holds now, written or not.
    bool readBack = false;
    const QMetaObject::Connection heard =
        connect(&m_handler, &SerialUSBCommandHandler::requestedValue, this,
                [&](char, char number, int) { readBack = readBack || quint8(number) == type; });
    m_handler.getAxisParameter(0, char(type));
    disconnect(heard);
    if (!outcome.ok())
        emit said(tr("Writing %1 to parameter %2 failed: %3.")
                      .arg(value)
                      .arg(type)
                      .arg(SerialUSBCommandHandler::failureText(outcome.failure)),
                  true);
    else if (!readBack || box->value() != value)
        emit said(tr("Parameter %1: %2 written, the module reads back %3.")
                      .arg(type)
                      .arg(value)
                      .arg(readBack ? QString::number(box->value()) : tr("nothing")),
                  true);
    else
        emit said(tr("Parameter %1 is %2.").arg(type).arg(value), false);
}

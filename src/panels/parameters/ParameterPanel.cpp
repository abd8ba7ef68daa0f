#include "panels/parameters/ParameterPanel.h"

#include "comm/DebugLine.h"

#include <QColor>
#include <QEvent>
#include <QGroupBox>
#include <QPalette>
#include <QSignalBlocker>
#include <QSpinBox>

ParameterPanel::ParameterPanel(QWidget* parent) : QWidget(parent) {}

void ParameterPanel::updateValues()
{
    logUpdate("::updateValues()");
    for (const char* number : m_requestOrder)
        emit requestValue(m_motorBank, *number);
}

void ParameterPanel::updateLiveVales()
{
    logUpdate("::updateLiveVales()");
    if (m_liveNumber)
        emit requestValue(m_motorBank, *m_liveNumber);
}

void ParameterPanel::logUpdate(const char* operation) const
{
    DebugLine() << (m_titleBox ? m_titleBox->title() : QString()) << operation;
}

namespace {

// A field whose value was not written, and its own tooltip meanwhile.
const char* const NotWrittenProperty = "notWritten";
const char* const ToolTipProperty = "ownToolTip";

} // namespace

void ParameterPanel::requestedValue(char motorBank, char type, int value)
{
    if (motorBank != m_motorBank)
        return;
    for (const Binding& binding : m_bindings) {
        if (*binding.number != type)
            continue;
        QWidget* field =
            binding.spinBox ? static_cast<QWidget*>(binding.spinBox) : binding.checkable;
        if (field->property(NotWrittenProperty).toBool()) {
            field->setProperty(NotWrittenProperty, false);
            field->setPalette(QPalette());
            field->setToolTip(field->property(ToolTipProperty).toString());
        }
        if (binding.spinBox) {
            fill(binding.spinBox, value);
        } else {
            // Checked for any value but 0; the box enables its contents all the same.
            const QSignalBlocker quiet(binding.checkable);
            binding.checkable->setChecked(value != 0);
        }
    }
}

void ParameterPanel::markNotWritten(char motorBank, char type)
{
    if (motorBank != m_motorBank)
        return;
    for (const Binding& binding : m_bindings) {
        if (*binding.number != type)
            continue;
        QWidget* field =
            binding.spinBox ? static_cast<QWidget*>(binding.spinBox) : binding.checkable;
        if (!field->property(NotWrittenProperty).toBool())
            field->setProperty(ToolTipProperty, field->toolTip());
        field->setProperty(NotWrittenProperty, true);
        // A palette, not a style sheet: the field keeps its look and size, only its colour
        // changes.
        QPalette marked = field->palette();
        if (binding.spinBox)
            marked.setColor(QPalette::Base, QColor(0xff, 0xeb, 0xee));
        else
            marked.setColor(QPalette::WindowText, QColor(0xb7, 0x1c, 0x1c));
        field->setPalette(marked);
        field->setToolTip(tr("Not connected: nothing written. The module's value replaces "
                             "this one when it is read."));
    }
}

void ParameterPanel::requestedTraceValue(char motorBank, char type, int value)
{
    if (m_liveNumber && type == *m_liveNumber)
        requestedValue(motorBank, type, value);
}

void ParameterPanel::bindField(QSpinBox* field, const char* number)
{
    takeTypedValueOnCommit(field);
    m_bindings.append({field, nullptr, number});
}

void ParameterPanel::bindField(QGroupBox* checkable, const char* number)
{
    m_bindings.append({nullptr, checkable, number});
}

void ParameterPanel::setLiveNumber(const char* number)
{
    m_liveNumber = number;
    updateTraceTypes();
}

void ParameterPanel::updateTraceTypes()
{
    m_traceTypes.clear();
    if (m_liveNumber)
        m_traceTypes.append(*m_liveNumber);
}

bool ParameterPanel::event(QEvent* event)
{
    if (event->type() == QEvent::Polish)
        setMaximumWidth(qMax(maximumWidth(), minimumSizeHint().width()));
    return QWidget::event(event);
}

void ParameterPanel::fill(QSpinBox* field, int value)
{
    // The field clamps a value it cannot show to the nearest bound; either way nothing is
    // written, so the module keeps what it reported.
    const QSignalBlocker quiet(field);
    field->setValue(value);
}

void ParameterPanel::takeTypedValueOnCommit(QSpinBox* field)
{
    field->setKeyboardTracking(false);
}

#include "panels/parameters/ParameterPanel.h"

#include "comm/DebugLine.h"
#include "config/Parameter.h"
#include "config/ParameterModel.h"

#include <QColor>
#include <QEvent>
#include <QGroupBox>
#include <QPalette>
#include <QSignalBlocker>
#include <QSpinBox>

namespace {

// A field whose value is not the module's: any reason, and, as before, not written for
// want of a link. Its own tool tip is kept meanwhile.
const char* const NotCurrentProperty = "notCurrent";
const char* const NotWrittenProperty = "notWritten";
const char* const ToolTipProperty = "ownToolTip";

} // namespace

ParameterPanel::ParameterPanel(QWidget* parent) : QWidget(parent) {}

ParameterPanel::~ParameterPanel() = default;

void ParameterPanel::setMotorBank(char motorBank)
{
    m_motorBank = motorBank;
    for (Binding& binding : m_bindings)
        attach(binding);
}

void ParameterPanel::setParameterModel(ParameterModel* model)
{
    m_model = model;
    for (Binding& binding : m_bindings)
        attach(binding);
}

ParameterModel* ParameterPanel::model()
{
    if (m_model)
        return m_model;
    if (!m_ownModel)
        m_ownModel = std::make_unique<ParameterModel>();
    return m_ownModel.get();
}

void ParameterPanel::updateValues()
{
    logUpdate("::updateValues()");
    for (const Binding& binding : std::as_const(m_bindings)) {
        if (binding.kind == Kind::Target || binding.kind == Kind::Write)
            continue;
        // The binding may go while the answer is shown (a setter), its parameter not.
        const QPointer<Parameter> parameter = binding.parameter;
        const vokt::ParameterNumber number = binding.number;
        if (parameter)
            parameter->read();
        emit requestValue(m_motorBank, static_cast<char>(number));
    }
}

void ParameterPanel::updateLiveVales()
{
    logUpdate("::updateLiveVales()");
    if (const Binding* live = binding(m_liveKey)) {
        if (live->parameter)
            live->parameter->read();
        emit requestValue(m_motorBank, static_cast<char>(live->number));
    }
}

void ParameterPanel::logUpdate(const char* operation) const
{
    DebugLine() << (m_titleBox ? m_titleBox->title() : QString()) << operation;
}

const Parameter* ParameterPanel::parameterOf(const QWidget* field) const
{
    const Binding* found = binding(field);
    return found ? found->parameter.data() : nullptr;
}

Parameter* ParameterPanel::parameter(const void* key) const
{
    const Binding* found = binding(key);
    return found ? found->parameter.data() : nullptr;
}

const ParameterPanel::Binding* ParameterPanel::binding(const void* key) const
{
    if (!key)
        return nullptr;
    for (const Binding& binding : m_bindings)
        if (binding.key == key)
            return &binding;
    return nullptr;
}

void ParameterPanel::requestedValue(char motorBank, char type, int value)
{
    if (motorBank != m_motorBank)
        return;
    for (const Binding& binding : std::as_const(m_bindings)) {
        if (binding.number == static_cast<vokt::ParameterNumber>(type) && binding.parameter) {
            // One parameter takes it; every field bound to it shows it.
            binding.parameter->take(Parameter::State::Read, value);
            return;
        }
    }
}

void ParameterPanel::requestedTraceValue(char motorBank, char type, int value)
{
    const Binding* live = binding(m_liveKey);
    if (live && static_cast<vokt::ParameterNumber>(type) == live->number)
        requestedValue(motorBank, type, value);
}

void ParameterPanel::editParameter(const void* key, int value)
{
    const Binding* found = binding(key);
    // The window's parameters go before its panels.
    if (!found || !found->parameter)
        return;
    const vokt::ParameterNumber number = found->number;
    found->parameter->edit(value);
    emit changeValue(m_motorBank, static_cast<char>(number), value);
}

void ParameterPanel::bindField(QSpinBox* field, vokt::ParameterNumber number)
{
    takeTypedValueOnCommit(field);
    bind(field, field, Kind::SpinBox, number);
}

void ParameterPanel::bindField(QGroupBox* checkable, vokt::ParameterNumber number)
{
    bind(checkable, checkable, Kind::Checkable, number);
}

void ParameterPanel::bindCustom(QWidget* field, vokt::ParameterNumber number)
{
    bind(field, field, Kind::Custom, number);
}

void ParameterPanel::bindTarget(QSpinBox* field, vokt::ParameterNumber number)
{
    takeTypedValueOnCommit(field);
    bind(field, field, Kind::Target, number);
}

void ParameterPanel::bindNumber(const void* key, vokt::ParameterNumber number, bool read)
{
    bind(key, nullptr, read ? Kind::Read : Kind::Write, number);
}

void ParameterPanel::bind(const void* key, QWidget* field, Kind kind, vokt::ParameterNumber number)
{
    for (Binding& binding : m_bindings) {
        if (binding.key == key) {
            binding.number = number;
            attach(binding);
            updateTraceTypes();
            return;
        }
    }
    m_bindings.append({key, field, kind, number, nullptr, {}});
    attach(m_bindings.last());
    updateTraceTypes();
}

void ParameterPanel::attach(Binding& binding)
{
    disconnect(binding.shown);
    binding.parameter = model()->parameter(static_cast<quint8>(m_motorBank), binding.number);
    const Parameter& parameter = *binding.parameter;
    if (auto* spinBox = qobject_cast<QSpinBox*>(binding.field)) {
        const QSignalBlocker quiet(spinBox);
        spinBox->setRange(parameter.minimum(), parameter.maximum());
        spinBox->setSingleStep(parameter.step());
    }
    if (binding.field) {
        binding.field->setToolTip(parameter.toolTip());
        binding.field->setProperty(ToolTipProperty, parameter.toolTip());
    }
    const void* key = binding.key;
    binding.shown = connect(binding.parameter, &Parameter::changed, this, [this, key] {
        if (const Binding* changed = this->binding(key))
            show(*changed);
    });
}

void ParameterPanel::show(const Binding& binding)
{
    if (!binding.parameter)
        return;
    const Parameter& parameter = *binding.parameter;
    const Parameter::State state = parameter.state();
    if (state == Parameter::State::Unread || state == Parameter::State::Writing ||
        binding.kind == Kind::Target || !binding.field)
        return;
    if (state != Parameter::State::Read) {
        mark(binding.field, parameter);
        if (binding.kind == Kind::Custom)
            showCustom(binding.field, parameter);
        return;
    }
    unmark(binding.field);
    const int value = *parameter.value();
    if (binding.kind == Kind::SpinBox) {
        fill(static_cast<QSpinBox*>(binding.field), value);
    } else if (binding.kind == Kind::Checkable) {
        // Checked for any value but 0; the box enables its contents all the same.
        auto* box = static_cast<QGroupBox*>(binding.field);
        const QSignalBlocker quiet(box);
        box->setChecked(value != 0);
    } else {
        showCustom(binding.field, parameter);
    }
}

void ParameterPanel::showCustom(QWidget*, const Parameter&) {}

void ParameterPanel::mark(QWidget* field, const Parameter& parameter)
{
    const bool notWritten =
        parameter.lastWasWrite() && parameter.state() == Parameter::State::NotConnected;
    field->setProperty(NotCurrentProperty, true);
    field->setProperty(NotWrittenProperty, notWritten);
    // A palette, not a style sheet: the field keeps its look and size, only its colour
    // changes.
    QPalette marked = field->palette();
    if (qobject_cast<QGroupBox*>(field))
        marked.setColor(QPalette::WindowText, QColor(0xb7, 0x1c, 0x1c));
    else
        marked.setColor(QPalette::Base, QColor(0xff, 0xeb, 0xee));
    field->setPalette(marked);
    const QString own = field->property(ToolTipProperty).toString();
    if (notWritten)
        field->setToolTip(tr("Not connected: nothing written. The module's value replaces "
                             "this one when it is read."));
    else if (parameter.lastWasWrite())
        field->setToolTip(tr("%1: not written, %2. The module's value replaces this one "
                             "when it is read.")
                              .arg(own, parameter.reason()));
    else
        field->setToolTip(tr("%1: not read, %2. The value shown is the last one the module "
                             "reported.")
                              .arg(own, parameter.reason()));
}

void ParameterPanel::unmark(QWidget* field)
{
    if (!field->property(NotCurrentProperty).toBool())
        return;
    field->setProperty(NotCurrentProperty, false);
    field->setProperty(NotWrittenProperty, false);
    field->setPalette(QPalette());
    field->setToolTip(field->property(ToolTipProperty).toString());
}

void ParameterPanel::setLiveField(const void* key)
{
    m_liveKey = key;
    updateTraceTypes();
}

void ParameterPanel::updateTraceTypes()
{
    m_traceTypes.clear();
    if (const Binding* live = binding(m_liveKey))
        m_traceTypes.append(static_cast<char>(live->number));
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

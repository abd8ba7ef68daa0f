#pragma once

#include "comm/Protocol.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

class Parameter;
class ParameterModel;
class QEvent;
class QGroupBox;
class QSpinBox;

// What every parameter and motion panel shares. Each field is bound to its parameter
// object (config/Parameter), which the window's ParameterModel keeps: the field takes its
// range, step and tool tip from the parameter when it is bound, shows the parameter's value
// whenever the module reports one, and is marked, with the reason in its tool tip, when an
// exchange for it brought no value (refused, no reply, line not clean, not connected); the
// last good value stays shown. An edit goes to the parameter, which writes it.
//
// Only the user's own edits write. A value typed into a field is written once, when it is
// committed (Enter, or the focus leaving the field with a changed value); each step of the
// arrows, Page Up/Down or the mouse wheel is written at once. Filling a field from an
// answer never writes, whatever the value: the field shows what the module reported (a
// value outside its range at the nearest bound) and the module keeps its value.
//
// The signals stay for those who listen to the panel: requestValue after each read of a
// refresh, changeValue after each write. Numbers travel there as char, so 128 to 255
// arrive negative (146 as -110).
class ParameterPanel : public QWidget
{
    Q_OBJECT

public:
    ~ParameterPanel() override;

    void setMotorBank(char motorBank);
    char motorBank() const { return m_motorBank; }
    // The window's parameters; until it is set the panel has its own, which send nothing.
    void setParameterModel(ParameterModel* model);

    // One debug line (the title box's title in quotes and "::updateValues()"), then one
    // read per number of the request order.
    virtual void updateValues();
    // The same for the live number only, with "::updateLiveVales()".
    void updateLiveVales();
    // The numbers the central panel polls for this panel; empty for a panel without live
    // values.
    const QList<char>& traceTypes() const { return m_traceTypes; }
    // The parameter a field of the panel shows or edits; nullptr for a field bound to none.
    const Parameter* parameterOf(const QWidget* field) const;

signals:
    void requestValue(char motorBank, char type);
    void changeValue(char motorBank, char type, int value);

public slots:
    // A value of the module handed to the panel: when motorBank is the panel's and type one
    // of its numbers, that parameter takes it, and every field bound to it shows it.
    virtual void requestedValue(char motorBank, char type, int value);
    // A live value: handled as requestedValue when type is the panel's live number.
    void requestedTraceValue(char motorBank, char type, int value);

protected:
    explicit ParameterPanel(QWidget* parent = nullptr);

    // Binds a field to a parameter (again: a setter that changes a number binds anew). The
    // field takes the parameter's range, step and tool tip; a typed value notifies only
    // once it is committed. The request order is the order of binding.
    void bindField(QSpinBox* field, vokt::ParameterNumber number);
    // A checkable group box: checked for any value but 0.
    void bindField(QGroupBox* checkable, vokt::ParameterNumber number);
    // A field of the panel's own that shows the parameter (showCustom() does it), read in
    // the request order.
    void bindCustom(QWidget* field, vokt::ParameterNumber number);
    // A field whose value buttons write (a jog panel's magnitude): range, step and tool tip
    // only; it is neither read nor filled.
    void bindTarget(QSpinBox* field, vokt::ParameterNumber number);
    // A number without a field under a key of the panel's: read in the request order when
    // `read`, otherwise only written.
    void bindNumber(const void* key, vokt::ParameterNumber number, bool read);
    // The field (or key) whose number is also the panel's one trace type.
    void setLiveField(const void* key);

    // Writes a value to the parameter of a field (or key), then emits changeValue.
    void editParameter(const void* key, int value);
    // The parameter of a field (or key).
    Parameter* parameter(const void* key) const;

    // For a field bound with bindCustom(): the parameter took an outcome.
    virtual void showCustom(QWidget* field, const Parameter& parameter);

    // The group box whose title heads the updateValues() line.
    void setTitleBox(QGroupBox* box) { m_titleBox = box; }
    // The line updateValues() writes first: the title box's title in quotes, then the
    // operation.
    virtual void logUpdate(const char* operation) const;

    // Shows a value in a spin box (a value outside the range at the nearest bound) without
    // notifying anybody: an answer is not an edit.
    static void fill(QSpinBox* field, int value);
    // A field the user types into: valueChanged comes when the typed value is committed
    // (Enter, focus leaving it), not for every keystroke; steps still notify each.
    static void takeTypedValueOnCommit(QSpinBox* field);

    // Before the panel is first shown, its form's maximum width grows to what its labels and
    // fields need in the desktop's font, so no value is cut off.
    bool event(QEvent* event) override;

private:
    enum class Kind
    {
        SpinBox,
        Checkable,
        Custom,
        Target,
        Read,
        Write
    };
    struct Binding
    {
        const void* key;
        QWidget* field;
        Kind kind;
        vokt::ParameterNumber number;
        QPointer<Parameter> parameter;
        QMetaObject::Connection shown;
    };

    void bind(const void* key, QWidget* field, Kind kind, vokt::ParameterNumber number);
    // Resolves a binding's parameter in the model and shows it.
    void attach(Binding& binding);
    void show(const Binding& binding);
    void mark(QWidget* field, const Parameter& parameter);
    void unmark(QWidget* field);
    const Binding* binding(const void* key) const;
    ParameterModel* model();
    void updateTraceTypes();

    char m_motorBank = 0;
    ParameterModel* m_model = nullptr;
    std::unique_ptr<ParameterModel> m_ownModel;
    QList<Binding> m_bindings;
    QGroupBox* m_titleBox = nullptr;
    const void* m_liveKey = nullptr;
    QList<char> m_traceTypes;
};

#pragma once

#include <QList>
#include <QString>
#include <QWidget>

class QEvent;
class QGroupBox;
class QSpinBox;

// What every parameter and motion panel shares: it asks for its values (requestValue),
// writes the user's edit of a field (changeValue), and shows an answer in every field whose
// parameter number the answer carries (requestedValue). Numbers travel as char, so 128 to
// 255 arrive negative (146 as -110) and are compared as char.
//
// Only the user's own edits write. A value typed into a field is written once, when it is
// committed (Enter, or the focus leaving the field with a changed value); each step of the
// arrows, Page Up/Down or the mouse wheel is written at once. Filling a field from an
// answer never writes, whatever the value: the field shows what the module reported (a
// value outside its range at the nearest bound) and the module keeps its value.
//
// A panel binds its fields to the members that hold their numbers, so setters that change
// the numbers need nothing else. Its on_<objectName>_valueChanged slots call emitChange.
class ParameterPanel : public QWidget
{
    Q_OBJECT

public:
    void setMotorBank(char motorBank) { m_motorBank = motorBank; }
    char motorBank() const { return m_motorBank; }

    // One debug line (the title box's title in quotes and "::updateValues()"), then one
    // requestValue per number of the request order.
    virtual void updateValues();
    // The same for the live number only, with "::updateLiveVales()".
    void updateLiveVales();
    // The numbers the central panel polls for this panel; empty for a panel without live
    // values.
    const QList<char>& traceTypes() const { return m_traceTypes; }

signals:
    void requestValue(char motorBank, char type);
    void changeValue(char motorBank, char type, int value);

public slots:
    // Ignored unless motorBank is the panel's; then every bound field whose number equals
    // type shows the value.
    virtual void requestedValue(char motorBank, char type, int value);
    // Marks every bound field whose number equals type (on the panel's motor/bank): its
    // value was not written. The mark goes when an answer fills the field.
    void markNotWritten(char motorBank, char type);
    // A live value: handled as requestedValue when type is the panel's live number.
    void requestedTraceValue(char motorBank, char type, int value);

protected:
    explicit ParameterPanel(QWidget* parent = nullptr);

    // `number` is the member that holds the field's parameter number. The field notifies a
    // typed value only once it is committed.
    void bindField(QSpinBox* field, const char* number);
    // A checkable group box: checked for any value but 0.
    void bindField(QGroupBox* checkable, const char* number);
    // The numbers updateValues() asks for, in order.
    void setRequestOrder(const QList<const char*>& numbers) { m_requestOrder = numbers; }
    // The group box whose title heads the updateValues() line.
    void setTitleBox(QGroupBox* box) { m_titleBox = box; }
    // The actual-value number that requestedTraceValue and updateLiveVales() use; it is
    // also the panel's one trace type.
    void setLiveNumber(const char* number);
    // Refreshes the trace types list from the live number (after a setter changed it).
    void updateTraceTypes();

    // The line updateValues() writes first: the title box's title in quotes, then the
    // operation.
    virtual void logUpdate(const char* operation) const;

    void emitChange(char type, int value) { emit changeValue(m_motorBank, type, value); }

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
    struct Binding
    {
        QSpinBox* spinBox;
        QGroupBox* checkable;
        const char* number;
    };

    char m_motorBank = 0;
    QList<Binding> m_bindings;
    QList<const char*> m_requestOrder;
    QGroupBox* m_titleBox = nullptr;
    const char* m_liveNumber = nullptr;
    QList<char> m_traceTypes;
};

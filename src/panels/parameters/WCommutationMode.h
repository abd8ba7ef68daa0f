#pragma once

#include "panels/parameters/ParameterPanel.h"

#include <QList>
#include <QStringList>

#include <memory>

namespace Ui {
class WCommutationMode;
}

// "Commutation Mode" on the Settings tab: how the module commutates the motor, chosen from
// a list that the central panel fills with (text, mode value) pairs. The panel translates
// between the text shown and the value the module keeps through its mode table.
//
// Choosing sine commutation also writes 0 to 160, which restarts the module's sine
// initialisation, once the module's answer says it took sine. Only the user's own choice
// writes; an answer shown in the list writes nothing.
class WCommutationMode : public ParameterPanel
{
    Q_OBJECT

public:
    explicit WCommutationMode(QWidget* parent = nullptr);
    ~WCommutationMode() override;

    void setType(char type);
    // Appends an item to the list and its entry to the mode table.
    void addMode(const QString& text, int value);

protected:
    void logUpdate(const char* operation) const override;
    // The module's mode: its item, when one has the value.
    void showCustom(QWidget* field, const Parameter& parameter) override;

private slots:
    void on_cbCommutationMode_currentIndexChanged(int index);

private:
    // The mode that starts the sine initialisation.
    static constexpr int SineMode = 3;

    std::unique_ptr<Ui::WCommutationMode> m_ui;
    // One entry per item, in insertion order: the item's text and its mode value in decimal.
    QList<QStringList> m_modes;
    // The key of the parameter that restarts the sine initialisation.
    const char m_sineInitialisation = 0;
};

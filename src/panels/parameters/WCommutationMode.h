#pragma once

#include "panels/parameters/ParameterPanel.h"

#include <QList>
#include <QStringList>

#include <optional>

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

    void setType(char type) { m_type = type; }
    // Appends an item to the list and its entry to the mode table.
    void addMode(const QString& text, int value);

public slots:
    void requestedValue(char motorBank, char type, int value) override;

protected:
    void logUpdate(const char* operation) const override;

private slots:
    void on_cbCommutationMode_currentIndexChanged(int index);

private:
    // The mode that starts the sine initialisation, and the parameter that restarts it.
    static constexpr int SineMode = 3;
    static constexpr char SineInitialisation = char(160);

    Ui::WCommutationMode* m_ui;
    char m_type = 0;
    // One entry per item, in insertion order: the item's text and its mode value in decimal.
    QList<QStringList> m_modes;
    // The last mode the module reported.
    std::optional<int> m_answer;
};

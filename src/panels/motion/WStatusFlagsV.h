#pragma once

#include "panels/parameters/ParameterPanel.h"

#include <memory>

#include <QList>

class QRadioButton;

namespace Ui {
class WStatusFlagsV;
}

// The module's status and error word as a column of twelve lamps, one per meaningful bit:
// the error conditions, the active control mode, position end and I²t exceeded, named as
// the catalogue names them (ParameterCatalogue::statusFlags()). The lamps
// are disabled radio buttons that are not exclusive, so any number can be lit and the user
// cannot change them; a style sheet gives them a lamp's look (dim while off; lit red for a
// fault, green for a state) and keeps their labels readable, and each one's tool tip says
// what its flag means. The word is polled live; nothing here writes to the module.
class WStatusFlagsV : public ParameterPanel
{
    Q_OBJECT

public:
    explicit WStatusFlagsV(QWidget* parent = nullptr);
    ~WStatusFlagsV() override;

    // The number that carries the word; it is also the panel's one trace type.
    void setType(char type);
    // No word is known now (the link is not open, the last read brought none): every lamp
    // goes out and the labels grey, so that no old fault or mode is taken for the module's;
    // why is the box's tool tip. The next word read lights them again.
    void showNoWord(const QString& why);

protected:
    // Every lamp shows its bit of the word.
    void showCustom(QWidget* field, const Parameter& parameter) override;

private:
    void setWordKnown(bool known);

    struct Lamp
    {
        int bit;
        QRadioButton* button;
    };

    std::unique_ptr<Ui::WStatusFlagsV> m_ui;
    QList<Lamp> m_lamps;
};

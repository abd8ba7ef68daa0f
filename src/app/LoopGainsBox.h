#pragma once

#include <QGroupBox>

#include <array>

class QComboBox;
class QLabel;
class QPushButton;
class LinkController;
class QSpinBox;
class SerialUSBCommandHandler;

// The velocity loop's P, I, D and I-clipping of one set, as the Settings tab has them: read
// from the module on refresh (Refresh, the set chosen, the owner's call), an edited field
// written when committed (Enter, focus out) and read back, so this box and the Settings tab
// show what the module holds. A value read or written elsewhere shows here too. The fields
// are offered for editing only when the set was read on an open link; while a run goes on
// the whole box takes no input. A link that closes (followed through its controller, if
// given) takes the offer back.
class LoopGainsBox : public QGroupBox
{
    Q_OBJECT

public:
    LoopGainsBox(SerialUSBCommandHandler& handler, LinkController* link, QWidget* parent = nullptr);

    // While a run moves the motor nothing is written or read here.
    void setRunning(bool running);

public slots:
    void refresh();

signals:
    // What became of a write, for the owner's status line.
    void said(const QString& text, bool failure);

private:
    // The module's parameter behind field 0..3 (P, I, D, I-clipping) of the shown set.
    int gainNumber(int field) const;
    void writeGain(int field);
    // The fields take edits only when they show what the module holds.
    void offer(bool editable);

    SerialUSBCommandHandler& m_handler;
    QComboBox* m_gainSet;
    std::array<QSpinBox*, 4> m_gains{};
    QPushButton* m_refresh;
    QLabel* m_threshold;
    // The fields are being filled from the module: nothing is written.
    bool m_filling = false;
    bool m_running = false;
};

#pragma once

#include "panels/parameters/ParameterPanel.h"

#include <QString>

#include <memory>

namespace Ui {
class WPositionControl;
}

// The positioning mode panel: the actual position (polled live), "Clear" and "Clear on
// NULL", and moves to an absolute or relative target position.
class WPositionControl : public ParameterPanel
{
    Q_OBJECT

public:
    explicit WPositionControl(QWidget* parent = nullptr);
    // The same panel with another title on its group box.
    explicit WPositionControl(const QString& title, QWidget* parent = nullptr);
    ~WPositionControl() override;

    // The actual position, the target position and the two numbers "Clear on NULL" writes
    // (the one written second, then the one written first), in that order.
    void setTypes(char actual, char target, char clearOnNullSecond, char clearOnNullFirst);

signals:
    // VOKT command `type` (4, move to position) with its own type: 0 absolute, 1 relative.
    void doMove(char motorBank, char type, char moveType, int value);

public slots:
    // Writes 0 to the actual position.
    void on_btnClear_clicked();
    // Writes 1 to the first clear-on-null number, then 1 to the second.
    void on_btnClearOnNull_clicked();
    void on_btnMoveAbsolute_clicked();
    void on_btnMoveRelative_clicked();

private:
    std::unique_ptr<Ui::WPositionControl> m_ui;
    // The keys of the numbers without a field: read, or only written.
    const char m_target = 0;
    const char m_clearOnNullSecond = 0;
    const char m_clearOnNullFirst = 0;
};

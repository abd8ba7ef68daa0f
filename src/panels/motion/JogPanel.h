#pragma once

#include "panels/parameters/ParameterPanel.h"

class QSpinBox;

// The jog panels (current, PWM, velocity) share one design: a read-only actual value, an
// editable target magnitude and three buttons that write the target parameter as minus
// the magnitude, zero or plus the magnitude. Editing the magnitude sends nothing; a button
// takes the magnitude as the field shows it, typed and not yet committed included.
class JogPanel : public ParameterPanel
{
    Q_OBJECT

public:
    // What the Stop button sends: one write of 0 to the target parameter.
    void stop() { jog(0); }

protected:
    explicit JogPanel(QWidget* parent = nullptr) : ParameterPanel(parent) {}

    // The magnitude field and the target parameter's number (again when it changes).
    void setJogTarget(QSpinBox* magnitude, vokt::ParameterNumber number)
    {
        m_magnitude = magnitude;
        bindTarget(magnitude, number);
    }
    // One write of the target parameter: the magnitude times direction (-1, 0 or 1).
    void jog(int direction);

private:
    QSpinBox* m_magnitude = nullptr;
};

#include "panels/motion/JogPanel.h"

#include <QSpinBox>

void JogPanel::jog(int direction)
{
    // What the field shows is what is written, even if the typed text is not committed yet.
    if (direction != 0)
        m_magnitude->interpretText();
    ParameterPanel::editParameter(m_magnitude, direction * m_magnitude->value());
}

#include "JogPanel.h"

#include <QSpinBox>

void JogPanel::jog(int direction)
{
    emitChange(*m_targetNumber, direction * m_magnitude->value());
}

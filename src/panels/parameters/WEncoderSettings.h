#pragma once

#include "panels/parameters/ParameterPanel.h"

namespace Ui {
class WEncoderSettings;
}

// "Encoder settings" on the Settings tab: the encoder and the sine initialisation. Its
// parameter numbers are those of the module and do not change.
class WEncoderSettings : public ParameterPanel
{
    Q_OBJECT

public:
    explicit WEncoderSettings(QWidget* parent = nullptr);
    ~WEncoderSettings() override;

    // Asks for the four values of motor/bank 0, whatever the panel's own number.
    void updateValues() override;

private slots:
    void on_sbEncoderSteps_valueChanged(int value);
    void on_sbEncoderDirection_valueChanged(int value);
    void on_sbSineInitMode_valueChanged(int value);
    void on_sbCommutationOffset_valueChanged(int value);

private:
    static constexpr char EncoderSteps = char(250);
    static constexpr char EncoderDirection = char(251);
    static constexpr char SineInitMode = char(249);
    static constexpr char CommutationOffset = char(165);

    Ui::WEncoderSettings* m_ui;
};

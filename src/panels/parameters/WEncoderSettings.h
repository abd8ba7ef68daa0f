#pragma once

#include "panels/parameters/ParameterPanel.h"

#include <memory>

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

private slots:
    void on_sbEncoderSteps_valueChanged(int value);
    void on_sbEncoderDirection_valueChanged(int value);
    void on_sbSineInitMode_valueChanged(int value);
    void on_sbCommutationOffset_valueChanged(int value);

private:
    std::unique_ptr<Ui::WEncoderSettings> m_ui;
};

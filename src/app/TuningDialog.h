#pragma once

#include "config/VelocityTuning.h"

#include "app/MotionDialog.h"

#include <QList>
#include <QPointer>

#include <optional>

class LinkController;
class LoopGainsBox;
class QCheckBox;
class QComboBox;
class QShowEvent;
class QDoubleSpinBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;
class SerialUSBCommandHandler;
class StepChart;
class WTraceController;

// Tools → "Tune velocity loop…": Identify measures the motor, Suggest finds velocity-loop
// gains for it on this module (the gains the module had put back), Apply writes the
// suggested P and I to the chosen set after asking, Step runs a velocity step and draws it
// over the predicted ones. Beside the chart stand the velocity loop's P, I, D and I-clipping
// of one set, read from the module and written when an edit is committed, so the loop is
// tuned here without the Settings tab. The journal keeps every run with its figures,
// identification results too. Identify, Suggest and Step move the motor; Cancel or Esc
// stops a run (the motor is stopped and the gains put back all the same), while the window
// behind takes no input and polling waits.
class TuningDialog : public MotionDialog
{
    Q_OBJECT

public:
    TuningDialog(SerialUSBCommandHandler& handler, LinkController* link,
                 WTraceController* traceController, QWidget* parent = nullptr);

public slots:
    void identify();
    void suggest();
    void apply();
    void step();
    // The Cancel button: stops the run in progress.
    void cancel() { stop(); }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The ramp switch (146) and acceleration (11) in force, as journal cells (empty when
    // they could not be read).
    QStringList readRamp();
    bool start(const QString& what);
    void finish();
    void enableFields(bool running) override;
    MotorIdentification::Limits limits() const;
    void addJournalRow(const QString& action, const QStringList& motor, const QStringList& gains,
                       const QStringList& figures, double seconds,
                       const QStringList& settings = {});
    // The predicted steps of the gains the module has and of the suggested ones, overlaid.
    void showPredictions(const VelocityTuning::Result& result);

    QCheckBox* m_useBandwidth;
    QDoubleSpinBox* m_bandwidth;
    QComboBox* m_set;
    QSpinBox* m_maxVelocity;
    QSpinBox* m_maxCurrent;
    QPushButton* m_identify;
    QPushButton* m_suggest;
    QPushButton* m_apply;
    QPushButton* m_cancel;
    QPushButton* m_step;
    QSpinBox* m_stepTarget;
    QSpinBox* m_stepDuration;
    LoopGainsBox* m_gainBox;
    QProgressBar* m_progress;
    QLabel* m_suggestion;
    StepChart* m_chart;
    QTableWidget* m_journal;
    std::optional<VelocityTuning::Result> m_suggested;
    // The chart's front curve is Suggest's prediction: a step keeps it behind the measured one.
    bool m_predictionInFront = false;
    int m_runs = 0;
};

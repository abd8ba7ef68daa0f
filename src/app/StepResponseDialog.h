#pragma once

#include "config/StepResponse.h"

#include "app/MotionDialog.h"

#include <QList>
#include <QPointer>
#include <QString>

#include <array>

class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableWidget;
class LinkController;
class SerialUSBCommandHandler;
class StepChart;
class WTraceController;

// Tools → "Step response…": runs one step on the module at the user's Run, shows target
// and actual on a chart with the figures, keeps runs as references, and keeps a journal of
// every run with the loop's PID values read just before it, which it saves as CSV. The
// motor moves only on Run; every run ends by writing target velocity 0, also on Stop, on
// closing the dialog and on a failure. While a run goes on, the window behind takes no
// input and polling waits.
class StepResponseDialog : public MotionDialog
{
    Q_OBJECT

public:
    StepResponseDialog(SerialUSBCommandHandler& handler, WTraceController* traceController,
                       QWidget* parent = nullptr);

    // The window's link, opened again for a run's stop when a time-out closed it.
    void setLinkController(LinkController* link) { m_link = link; }
    // The journal as CSV: a header row, one row per run.
    QByteArray journalCsv() const;
    // Writes the journal to fileName; false with the reason shown when it could not.
    bool saveJournal(const QString& fileName);

public slots:
    void run();
    void keepAsReference();
    void saveJournalAs();

private:
    void updateMode();
    void enableFields(bool running) override;
    void showResult(const StepResponse::Result& result);
    // The ramp switch (146) and acceleration (11) in force; false with *error.
    bool readRamp(std::array<qint32, 2>* ramp, QString* error);
    void addJournalRow(const StepResponse::Request& request, const std::array<qint32, 9>& gains,
                       const std::array<qint32, 2>& ramp, const StepResponse::Result& result);

    QComboBox* m_mode;
    QSpinBox* m_target;
    QSpinBox* m_duration;
    QPushButton* m_run;
    QPushButton* m_stop;
    QPushButton* m_keep;
    QPushButton* m_save;
    StepChart* m_chart;
    QLabel* m_metrics;
    QTableWidget* m_journal;
    int m_runs = 0;
};

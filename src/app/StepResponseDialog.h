#pragma once

#include "config/StepResponse.h"

#include "app/WindowBehind.h"

#include <QDialog>
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
class StepResponseDialog : public QDialog
{
    Q_OBJECT

public:
    StepResponseDialog(SerialUSBCommandHandler& handler, WTraceController* traceController,
                       QWidget* parent = nullptr);

    bool isRunning() const { return m_running; }
    // The window's link, opened again for a run's stop when a time-out closed it.
    void setLinkController(LinkController* link) { m_link = link; }
    // The journal as CSV: a header row, one row per run.
    QByteArray journalCsv() const;
    // Writes the journal to fileName; false with the reason shown when it could not.
    bool saveJournal(const QString& fileName);

public slots:
    void run();
    void stop();
    void keepAsReference();
    void saveJournalAs();
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void updateMode();
    void setRunning(bool running);
    void showResult(const StepResponse::Result& result);
    // The ramp switch (146) and acceleration (11) in force; false with *error.
    bool readRamp(std::array<qint32, 2>* ramp, QString* error);
    void addJournalRow(const StepResponse::Request& request, const std::array<qint32, 9>& gains,
                       const std::array<qint32, 2>& ramp, const StepResponse::Result& result);
    void say(const QString& text, bool failure);

    SerialUSBCommandHandler& m_handler;
    LinkController* m_link = nullptr;
    WTraceController* m_traceController;
    QComboBox* m_mode;
    QSpinBox* m_target;
    QSpinBox* m_duration;
    QPushButton* m_run;
    QPushButton* m_stop;
    QPushButton* m_keep;
    QPushButton* m_save;
    StepChart* m_chart;
    QLabel* m_metrics;
    QLabel* m_status;
    QTableWidget* m_journal;
    WindowBehind m_windowBehind;
    bool m_running = false;
    bool m_stopRequested = false;
    int m_runs = 0;
};

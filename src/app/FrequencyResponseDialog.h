#pragma once

#include "config/FrequencyResponse.h"

#include "app/WindowBehind.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QString>

class BodeChart;
class LinkController;
class QDoubleSpinBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class SerialUSBCommandHandler;
class WTraceController;

// Tools → "Frequency response…": sweeps the velocity loop at the user's Run and draws the
// Bode plot as the points come in, the bandwidth marked; keeps sweeps as references (with
// the gains they were measured with), saves the plot as a picture and the table as CSV. The
// motor moves only on Run; the sweep ends with the stop, also on Stop, Esc, closing the
// dialog and a failure. While it runs, the window behind takes no input and polling waits.
class FrequencyResponseDialog : public QDialog
{
    Q_OBJECT

public:
    FrequencyResponseDialog(SerialUSBCommandHandler& handler, LinkController* link,
                            WTraceController* traceController, QWidget* parent = nullptr);

    bool isRunning() const { return m_running; }
    BodeChart* chart() const { return m_chart; }
    // The current sweep's table as CSV: freq_hz,gain_db,phase_deg, one row per point.
    QByteArray tableCsv() const;
    // false with the reason shown when it could not be written.
    bool saveTable(const QString& fileName);
    bool savePicture(const QString& fileName);

public slots:
    void run();
    void stop();
    void keepAsReference();
    void saveTableAs();
    void savePictureAs();
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void setRunning(bool running);
    void say(const QString& text, bool failure);
    // Lets the dialog's events through during the sweep, now and then; whether Stop was
    // asked.
    bool stopAsked();

    SerialUSBCommandHandler& m_handler;
    LinkController* m_link;
    WTraceController* m_traceController;
    QDoubleSpinBox* m_from;
    QDoubleSpinBox* m_to;
    QSpinBox* m_points;
    QSpinBox* m_amplitude;
    QSpinBox* m_offset;
    QPushButton* m_run;
    QPushButton* m_stop;
    QPushButton* m_keep;
    QPushButton* m_savePicture;
    QPushButton* m_saveTable;
    QProgressBar* m_progress;
    BodeChart* m_chart;
    QLabel* m_status;
    WindowBehind m_windowBehind;
    bool m_running = false;
    bool m_stopRequested = false;
    int m_runs = 0;
    QElapsedTimer m_events;
};

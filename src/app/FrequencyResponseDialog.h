#pragma once

#include "config/FrequencyResponse.h"

#include "app/MotionDialog.h"

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
class FrequencyResponseDialog : public MotionDialog
{
    Q_OBJECT

public:
    FrequencyResponseDialog(SerialUSBCommandHandler& handler, LinkController* link,
                            WTraceController* traceController, QWidget* parent = nullptr);

    BodeChart* chart() const { return m_chart; }
    // The current sweep's table as CSV: freq_hz,gain_db,phase_deg, one row per point.
    QByteArray tableCsv() const;
    // false with the reason shown when it could not be written.
    bool saveTable(const QString& fileName);
    bool savePicture(const QString& fileName);

public slots:
    void run();
    void keepAsReference();
    void saveTableAs();
    void savePictureAs();

private:
    void enableFields(bool running) override;

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
    int m_runs = 0;
};

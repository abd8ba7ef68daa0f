#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class WGraphController;
}

// The controls beside a chart area: dynamic or manual scaling of the value axis with the
// manual range, the resolution of the time axis (samples per dot), and "Clear charts".
class WGraphController : public QWidget
{
    Q_OBJECT

public:
    explicit WGraphController(QWidget* parent = nullptr);
    ~WGraphController() override;

signals:
    void clear();
    void scaleManually();
    void scaleDynamic();
    void minValueChanged(int min);
    void maxValueChanged(int max);
    void changeResolution(int resolution);

public slots:
    // The range that dynamic scaling reached; the spin boxes show it.
    void changedScaleValues(int minValue, int maxValue);
    // Shows a scaling chosen on the chart itself (a zoom of the value axis, or the return
    // to the automatic view) as if the user had chosen it here.
    void showScaling(bool dynamic, int minValue, int maxValue);

private slots:
    void on_btnClearCharts_clicked();
    void on_sbMin_valueChanged(int value);
    void on_sbMax_valueChanged(int value);
    void on_btnScaleManually_clicked(bool checked);
    void on_btnScaleDynamic_clicked(bool checked);
    void on_sbResolution_valueChanged(int value);

private:
    std::unique_ptr<Ui::WGraphController> m_ui;
};

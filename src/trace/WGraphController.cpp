#include "trace/WGraphController.h"

#include "ui_WGraphController.h"

WGraphController::WGraphController(QWidget* parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::WGraphController>())
{
    m_ui->setupUi(this);
    // As wide as its fields need (the range boxes show -2147483647 in full), no wider: the
    // chart takes the rest.
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
}

WGraphController::~WGraphController() = default;

void WGraphController::changedScaleValues(int minValue, int maxValue)
{
    m_ui->sbMin->setValue(minValue);
    m_ui->sbMax->setValue(maxValue);
}

void WGraphController::showScaling(bool dynamic, int minValue, int maxValue)
{
    m_ui->btnScaleDynamic->setChecked(dynamic);
    m_ui->btnScaleManually->setChecked(!dynamic);
    m_ui->sbMax->setEnabled(!dynamic);
    m_ui->sbMin->setEnabled(!dynamic);
    // The chart holds this range already; the spin boxes hand it back unchanged.
    changedScaleValues(minValue, maxValue);
    if (dynamic)
        emit scaleDynamic();
    else
        emit scaleManually();
}

void WGraphController::on_btnClearCharts_clicked()
{
    emit clear();
}

void WGraphController::on_sbMin_valueChanged(int value)
{
    emit minValueChanged(value);
}

void WGraphController::on_sbMax_valueChanged(int value)
{
    emit maxValueChanged(value);
}

void WGraphController::on_btnScaleManually_clicked(bool)
{
    m_ui->btnScaleDynamic->setChecked(false);
    m_ui->sbMax->setEnabled(true);
    m_ui->sbMin->setEnabled(true);
    emit scaleManually();
}

void WGraphController::on_btnScaleDynamic_clicked(bool)
{
    m_ui->btnScaleManually->setChecked(false);
    m_ui->sbMax->setEnabled(false);
    m_ui->sbMin->setEnabled(false);
    emit scaleDynamic();
}

void WGraphController::on_sbResolution_valueChanged(int value)
{
    emit changeResolution(value);
}

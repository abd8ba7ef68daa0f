#include "app/FrequencyResponseDialog.h"

#include "app/WindowBehind.h"

#include "comm/SerialUSBCommandHandler.h"
#include "config/FileTarget.h"
#include "config/StepResponse.h"
#include "trace/BodeChart.h"
#include "trace/ChartExport.h"
#include "trace/WTraceController.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

QString baseName(const char* what)
{
    return QDateTime::currentDateTime().toString(QStringLiteral("./yyyyMMdd_hh.mm.ss_")) +
           QLatin1String(what);
}

} // namespace

FrequencyResponseDialog::FrequencyResponseDialog(SerialUSBCommandHandler& handler,
                                                 LinkController* link,
                                                 WTraceController* traceController, QWidget* parent)
    : MotionDialog(handler, link, traceController, parent)
{
    setWindowTitle(tr("Frequency response"));
    setObjectName(QStringLiteral("FrequencyResponseDialog"));

    QLabel* warning =
        warningLine(tr("Run moves the motor: it holds the offset velocity and follows "
                       "a sine around it, with the velocity ramp (146) off; it is "
                       "stopped (target velocity 0) and the ramp switched back when "
                       "the sweep ends."));

    const FrequencyResponse::Request defaults;
    const auto frequency = [this](const char* name, double value) {
        auto* box = new QDoubleSpinBox(this);
        box->setObjectName(QLatin1String(name));
        box->setDecimals(2);
        box->setRange(0.1, FrequencyResponse::MaxFrequencyHz);
        box->setValue(value);
        box->setSuffix(tr(" Hz"));
        return box;
    };
    const auto whole = [this](const char* name, int low, int high, int value,
                              const QString& suffix) {
        auto* box = new QSpinBox(this);
        box->setObjectName(QLatin1String(name));
        box->setRange(low, high);
        box->setValue(value);
        box->setSuffix(suffix);
        return box;
    };
    m_from = frequency("sbFrom", defaults.fromHz);
    m_to = frequency("sbTo", defaults.toHz);
    m_points = whole("sbPoints", 1, FrequencyResponse::MaxPoints, defaults.points, QString());
    m_amplitude = whole("sbAmplitude", 1, 100000, defaults.amplitude, tr(" rpm"));
    m_offset = whole("sbOffset", -100000, 100000, defaults.offset, tr(" rpm"));
    auto* form = new QFormLayout;
    form->addRow(tr("From"), m_from);
    form->addRow(tr("To"), m_to);
    form->addRow(tr("Points"), m_points);
    auto* form2 = new QFormLayout;
    form2->addRow(tr("Amplitude"), m_amplitude);
    form2->addRow(tr("Offset"), m_offset);

    m_run = addButton(tr("Run"), "btnRun");
    m_stop = addButton(tr("Stop"), "btnStop");
    m_keep = addButton(tr("Keep as reference"), "btnKeepReference");
    m_savePicture = addButton(tr("Save picture…"), "btnSavePicture");
    m_saveTable = addButton(tr("Save table…"), "btnSaveTable");

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_chart = new BodeChart(this);
    m_chart->setObjectName(QStringLiteral("bodeChart"));
    m_chart->setRange(defaults.fromHz, defaults.toHz);

    auto* top = new QHBoxLayout;
    top->addLayout(form);
    top->addSpacing(24);
    top->addLayout(form2);
    top->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(warning);
    layout->addLayout(top);
    layout->addLayout(buttonRow());
    layout->addWidget(m_progress);
    layout->addWidget(m_chart, 1);
    layout->addWidget(statusLine());

    connect(m_run, &QPushButton::clicked, this, &FrequencyResponseDialog::run);
    connect(m_stop, &QPushButton::clicked, this, &FrequencyResponseDialog::stop);
    connect(m_keep, &QPushButton::clicked, this, &FrequencyResponseDialog::keepAsReference);
    connect(m_savePicture, &QPushButton::clicked, this, &FrequencyResponseDialog::savePictureAs);
    connect(m_saveTable, &QPushButton::clicked, this, &FrequencyResponseDialog::saveTableAs);
    setRunning(false);
    resize(820, 680);
}

void FrequencyResponseDialog::enableFields(bool running)
{
    const bool shown = !m_chart->current().points.empty();
    m_run->setEnabled(!running);
    m_stop->setEnabled(running);
    m_keep->setEnabled(!running && shown);
    m_savePicture->setEnabled(!running && shown);
    m_saveTable->setEnabled(!running && shown);
    for (QWidget* field : {static_cast<QWidget*>(m_from), static_cast<QWidget*>(m_to),
                           static_cast<QWidget*>(m_points), static_cast<QWidget*>(m_amplitude),
                           static_cast<QWidget*>(m_offset)})
        field->setEnabled(!running);
}

void FrequencyResponseDialog::run()
{
    if (!mayRun())
        return;
    FrequencyResponse::Request request;
    request.fromHz = m_from->value();
    request.toHz = m_to->value();
    request.points = m_points->value();
    request.amplitude = m_amplitude->value();
    request.offset = m_offset->value();
    const QString problem = FrequencyResponse::check(request);
    if (!problem.isEmpty()) {
        say(problem, true);
        return;
    }

    m_chart->setRange(request.fromHz, request.toHz);
    m_chart->setCurrent({});
    m_progress->setValue(0);
    beginRun(tr("Running: the motor moves."));
    std::array<qint32, 9> gains{};
    QString error;
    FrequencyResponse::Result result;
    if (!StepResponse::readGains(m_handler, ParameterCatalogue::VelocityLoop, &gains, &error)) {
        result.error = error; // nothing moved yet
    } else {
        ++m_runs;
        BodeChart::Curve live;
        live.label =
            tr("Run %1: P %2, I %3, D %4").arg(m_runs).arg(gains[0]).arg(gains[1]).arg(gains[2]);
        result = FrequencyResponse::run(
            m_handler, m_link, request, [this] { return serveEvents(true); },
            [&](const std::vector<FrequencyResponse::Point>& points, int done, int total) {
                // Drawn as the points come.
                live.points = points;
                m_chart->setCurrent(live);
                m_progress->setValue(done * 100 / std::max(1, total));
                QCoreApplication::processEvents();
            });
        live.points = result.points;
        live.bandwidthHz = result.bandwidthHz;
        m_chart->setCurrent(live);
    }
    m_progress->setValue(result.ok ? 100 : m_progress->value());
    endRun();

    if (!result.ok) {
        const QString stopped = result.moved && result.stopConfirmed
                                    ? tr(" The motor was told to stop (target velocity 0).")
                                    : QString();
        say(result.cancelled && (!result.moved || result.stopConfirmed)
                ? tr("Stopped: the motor was told to stop (target velocity 0).")
                : tr("The sweep did not run through: %1.").arg(result.error) + stopped,
            !(result.cancelled && (!result.moved || result.stopConfirmed)));
        return;
    }
    say(tr("Done in %1 s: bandwidth %2, peak %3 dB. The motor was told to stop (target "
           "velocity 0).")
            .arg(result.durationS, 0, 'f', 1)
            .arg(result.bandwidthHz ? tr("%1 Hz").arg(*result.bandwidthHz, 0, 'f', 2)
                                    : tr("none in the range"))
            .arg(result.peakDb, 0, 'f', 2),
        false);
}

void FrequencyResponseDialog::keepAsReference()
{
    if (!m_chart->keepCurrent())
        return;
    say(tr("Kept as reference: %1.").arg(m_chart->current().label), false);
    m_keep->setEnabled(false);
}

QByteArray FrequencyResponseDialog::tableCsv() const
{
    QByteArray csv("freq_hz,gain_db,phase_deg\n");
    for (const FrequencyResponse::Point& point : m_chart->current().points)
        csv += QByteArray::number(point.frequencyHz, 'f', 3) + ',' +
               QByteArray::number(point.gainDb, 'f', 2) + ',' +
               QByteArray::number(point.phaseDeg, 'f', 1) + '\n';
    return csv;
}

bool FrequencyResponseDialog::saveTable(const QString& fileName)
{
    QString why;
    if (!FileTarget::replace(fileName, tableCsv(), &why)) {
        say(tr("The table was not saved: %1: %2").arg(fileName, why), true);
        return false;
    }
    say(tr("Table saved: %1").arg(fileName), false);
    return true;
}

bool FrequencyResponseDialog::savePicture(const QString& fileName)
{
    QString why;
    if (!ChartExport::savePicture(fileName, m_chart, 1, &why)) {
        say(tr("The picture was not saved: %1: %2").arg(fileName, why), true);
        return false;
    }
    say(tr("Picture saved: %1").arg(fileName), false);
    return true;
}

void FrequencyResponseDialog::saveTableAs()
{
    const QString fileName =
        QFileDialog::getSaveFileName(this, tr("Save the frequency response table"),
                                     baseName("FrequencyResponse.csv"), tr("CSV files (*.csv)"));
    if (!fileName.isEmpty())
        saveTable(fileName);
}

void FrequencyResponseDialog::savePictureAs()
{
    const QString fileName =
        QFileDialog::getSaveFileName(this, tr("Save the Bode plot"),
                                     baseName("FrequencyResponse.png"), tr("PNG pictures (*.png)"));
    if (!fileName.isEmpty())
        savePicture(fileName);
}

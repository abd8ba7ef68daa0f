#include "app/StepResponseDialog.h"

#include "app/WindowBehind.h"

#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "config/FileTarget.h"
#include "trace/StepChart.h"
#include "trace/WTraceController.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

// The journal's columns after time, mode and target: the nine PID values of the loop, then
// the figures (the command line's names).
const char* const gainColumns[] = {"P set 1",          "I set 1",          "D set 1",
                                   "I-clipping set 1", "P set 2",          "I set 2",
                                   "D set 2",          "I-clipping set 2", "Threshold"};
// The figures as the table heads them.
const char* const figureHeaders[] = {"Rise time [ms]",     "Overshoot [%]", "Settling time [ms]",
                                     "Steady-state error", "Samples",       "Samples per second"};
// After the figures: the ramp switch and acceleration in force, and the run's number (the
// table's heads, then the file's).
const char* const settingHeaders[] = {"Ramp (146)", "Acceleration (11) [rpm/s]", "Run"};
const char* const settingColumns[] = {"ramp_enabled", "acceleration_rpm_per_s", "run"};
const char* const figureColumns[] = {"rise_time_ms",       "overshoot_percent", "settling_time_ms",
                                     "steady_state_error", "samples",           "sample_rate_hz"};

QString figure(const std::optional<double>& value)
{
    return value ? QString::number(*value, 'f', 1) : QStringLiteral("none");
}

QStringList figures(const StepMetrics::Metrics& m)
{
    return {figure(m.riseTimeMs),       QString::number(m.overshootPercent, 'f', 1),
            figure(m.settlingTimeMs),   QString::number(m.steadyStateError, 'f', 1),
            QString::number(m.samples), QString::number(m.sampleRateHz, 'f', 1)};
}

// The chart is redrawn this often while the samples come in.
constexpr qint64 RedrawMs = 50;

} // namespace

StepResponseDialog::StepResponseDialog(SerialUSBCommandHandler& handler,
                                       WTraceController* traceController, QWidget* parent)
    : MotionDialog(handler, nullptr, traceController, parent)
{
    setWindowTitle(tr("Step response"));
    setObjectName(QStringLiteral("StepResponseDialog"));

    QLabel* warning = warningLine(tr("Run moves the motor: it steps to the target and is stopped "
                                     "(target velocity 0) when the run ends."));

    auto* hint = new QLabel(tr("With the velocity ramp on (146) the rise follows the "
                               "acceleration (11); switch the ramp off to see the loop's own "
                               "response."),
                            this);
    hint->setObjectName(QStringLiteral("lblHint"));
    hint->setWordWrap(true);

    m_mode = new QComboBox(this);
    m_mode->setObjectName(QStringLiteral("cbMode"));
    m_mode->addItems({tr("Velocity"), tr("Position")});
    m_target = new QSpinBox(this);
    m_target->setObjectName(QStringLiteral("sbTarget"));
    m_duration = new QSpinBox(this);
    m_duration->setObjectName(QStringLiteral("sbDuration"));
    m_duration->setRange(10, 60000);
    m_duration->setSingleStep(100);
    m_duration->setValue(2000);
    m_duration->setSuffix(tr(" ms"));
    auto* form = new QFormLayout;
    form->addRow(tr("Mode"), m_mode);
    form->addRow(tr("Target"), m_target);
    form->addRow(tr("Duration"), m_duration);

    m_run = addButton(tr("Run"), "btnRun");
    m_stop = addButton(tr("Stop"), "btnStop");
    m_keep = addButton(tr("Keep as reference"), "btnKeepReference");
    m_save = addButton(tr("Save journal as CSV…"), "btnSaveJournal");

    m_chart = new StepChart(this);
    m_chart->setObjectName(QStringLiteral("stepChart"));
    m_metrics = new QLabel(this);
    m_metrics->setObjectName(QStringLiteral("lblMetrics"));
    m_metrics->setTextInteractionFlags(Qt::TextSelectableByMouse);

    QStringList headers{tr("Time"), tr("Mode"), tr("Target")};
    for (const char* column : gainColumns)
        headers << tr(column);
    for (const char* column : figureHeaders)
        headers << tr(column);
    for (const char* column : settingHeaders)
        headers << tr(column);
    m_journal = makeJournal(headers);
    m_journal->setMinimumHeight(110);

    auto* top = new QHBoxLayout;
    top->addLayout(form);
    top->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(warning);
    layout->addWidget(hint);
    layout->addLayout(top);
    layout->addLayout(buttonRow());
    layout->addWidget(m_chart, 3);
    layout->addWidget(m_metrics);
    layout->addWidget(statusLine());
    layout->addWidget(m_journal, 1);

    connect(m_mode, &QComboBox::currentIndexChanged, this, &StepResponseDialog::updateMode);
    connect(m_run, &QPushButton::clicked, this, &StepResponseDialog::run);
    connect(m_stop, &QPushButton::clicked, this, &StepResponseDialog::stop);
    connect(m_keep, &QPushButton::clicked, this, &StepResponseDialog::keepAsReference);
    connect(m_save, &QPushButton::clicked, this, &StepResponseDialog::saveJournalAs);
    updateMode();
    setRunning(false);
    resize(820, 640);
}

void StepResponseDialog::updateMode()
{
    if (m_mode->currentIndex() == 0) {
        m_target->setRange(-100000, 100000);
        m_target->setSingleStep(100);
        m_target->setSuffix(tr(" rpm"));
        m_target->setValue(1000);
    } else {
        m_target->setRange(-1000000000, 1000000000);
        m_target->setSingleStep(1000);
        m_target->setSuffix(tr(" steps"));
        m_target->setValue(4096);
    }
}

void StepResponseDialog::enableFields(bool running)
{
    m_run->setEnabled(!running);
    m_stop->setEnabled(running);
    m_keep->setEnabled(!running && !m_chart->current().samples.empty());
    m_save->setEnabled(!running && m_journal->rowCount() > 0);
    for (QWidget* field : {static_cast<QWidget*>(m_mode), static_cast<QWidget*>(m_target),
                           static_cast<QWidget*>(m_duration)})
        field->setEnabled(!running);
}

void StepResponseDialog::run()
{
    if (!mayRun())
        return;
    StepResponse::Request request;
    request.mode =
        m_mode->currentIndex() == 0 ? StepResponse::Mode::Velocity : StepResponse::Mode::Position;
    request.target = m_target->value();
    request.durationMs = m_duration->value();
    const QString problem = StepResponse::check(request);
    if (!problem.isEmpty()) {
        say(problem, true);
        return;
    }

    beginRun(tr("Running: the motor moves."));
    std::array<qint32, 9> gains{};
    QString error;
    StepResponse::Result result;
    std::array<qint32, 2> ramp{};
    if (!StepResponse::readGains(m_handler, StepResponse::loopOf(request.mode), &gains, &error) ||
        !readRamp(&ramp, &error)) {
        result.error = error; // nothing moved yet
    } else {
        ++m_runs;
        StepChart::Curve live;
        live.label = tr("Run %1").arg(m_runs);
        QElapsedTimer redraw;
        redraw.start();
        const auto progress = [&](const StepMetrics::Sample& sample) {
            if (live.samples.empty()) {
                // Drawn live from the first sample on; the run's own start replaces it.
                live.start = sample.value;
                live.target = request.mode == StepResponse::Mode::Velocity
                                  ? request.target
                                  : live.start + request.target;
            }
            live.samples.push_back(sample);
            if (redraw.elapsed() >= RedrawMs) {
                redraw.restart();
                m_chart->setCurrent(live);
            }
            // Between two samples, so that Stop motor (a click, Esc) is the next exchange.
            return !serveEvents();
        };
        // Stop (Esc) before the step is written: nothing that moves the motor is sent.
        const auto cancelled = [this] { return serveEvents(); };
        result = StepResponse::run(m_handler, request, progress, m_link, cancelled);
        StepChart::Curve curve;
        curve.label = live.label;
        curve.start = result.start;
        curve.target = result.target;
        curve.samples = result.samples;
        m_chart->setCurrent(curve);
        if (result.ok)
            addJournalRow(request, gains, ramp, result);
    }
    endRun();
    showResult(result);
}

void StepResponseDialog::showResult(const StepResponse::Result& result)
{
    if (!result.ok) {
        m_metrics->clear();
        const QString stopped =
            result.stopped ? tr(" The motor was told to stop (target velocity 0).") : QString();
        say(result.cancelled && result.stopped
                ? tr("Stopped: the motor was told to stop (target velocity 0).")
                : tr("The step did not run through: %1.").arg(result.error) + stopped,
            !(result.cancelled && result.stopped));
        return;
    }
    const QStringList f = figures(result.metrics);
    m_metrics->setText(tr("Rise time %1 ms, overshoot %2 %, settling time %3 ms, steady-state "
                          "error %4, %5 samples at %6 per second")
                           .arg(f.at(0), f.at(1), f.at(2), f.at(3), f.at(4), f.at(5)));
    say(tr("Done: the motor was told to stop (target velocity 0)."), false);
}

bool StepResponseDialog::readRamp(std::array<qint32, 2>* ramp, QString* error)
{
    const int numbers[] = {146, 11};
    for (size_t k = 0; k < 2; ++k) {
        const SerialUSBCommandHandler::Outcome outcome =
            m_handler.exchange(vokt::GetAxisParameter, vokt::ParameterNumber(numbers[k]), 0, 0);
        if (!outcome.ok()) {
            *error = tr("reading parameter %1: %2")
                         .arg(numbers[k])
                         .arg(SerialUSBCommandHandler::failureText(outcome.failure));
            return false;
        }
        (*ramp)[k] = outcome.reply->value();
    }
    return true;
}

void StepResponseDialog::addJournalRow(const StepResponse::Request& request,
                                       const std::array<qint32, 9>& gains,
                                       const std::array<qint32, 2>& ramp,
                                       const StepResponse::Result& result)
{
    QStringList cells{QDateTime::currentDateTime().toString(Qt::ISODate),
                      request.mode == StepResponse::Mode::Velocity ? QStringLiteral("velocity")
                                                                   : QStringLiteral("position"),
                      QString::number(request.target)};
    for (qint32 gain : gains)
        cells << QString::number(gain);
    cells << figures(result.metrics) << QString::number(ramp[0]) << QString::number(ramp[1])
          << QString::number(m_runs);
    const int row = m_journal->rowCount();
    m_journal->insertRow(row);
    for (int column = 0; column < cells.size(); ++column)
        m_journal->setItem(row, column, new QTableWidgetItem(cells.at(column)));
    m_journal->resizeColumnsToContents();
    m_journal->scrollToBottom();
}

void StepResponseDialog::keepAsReference()
{
    if (!m_chart->keepCurrent())
        return;
    say(tr("Kept as reference: %1.").arg(m_chart->current().label), false);
    m_keep->setEnabled(false);
}

QByteArray StepResponseDialog::journalCsv() const
{
    QStringList header{QStringLiteral("time"), QStringLiteral("mode"), QStringLiteral("target")};
    for (const char* column : gainColumns)
        header << QLatin1String(column);
    for (const char* column : figureColumns)
        header << QLatin1String(column);
    for (const char* column : settingColumns)
        header << QLatin1String(column);
    QByteArray csv = header.join(QLatin1Char(',')).toUtf8() + '\n';
    for (int row = 0; row < m_journal->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < m_journal->columnCount(); ++column)
            cells << m_journal->item(row, column)->text();
        csv += cells.join(QLatin1Char(',')).toUtf8() + '\n';
    }
    return csv;
}

bool StepResponseDialog::saveJournal(const QString& fileName)
{
    QString why;
    if (!FileTarget::replace(fileName, journalCsv(), &why)) {
        say(tr("The journal was not saved: %1: %2").arg(fileName, why), true);
        return false;
    }
    say(tr("Journal saved: %1 (%2 runs)").arg(fileName).arg(m_journal->rowCount()), false);
    return true;
}

void StepResponseDialog::saveJournalAs()
{
    const QString fileName = QFileDialog::getSaveFileName(
        this, tr("Save the step response journal"),
        QDateTime::currentDateTime().toString(QStringLiteral("./yyyyMMdd_hh.mm.ss_")) +
            QStringLiteral("StepResponses.csv"),
        tr("CSV files (*.csv)"));
    if (!fileName.isEmpty())
        saveJournal(fileName);
}

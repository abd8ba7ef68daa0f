#include "app/TuningDialog.h"

#include "app/WindowBehind.h"

#include "app/LoopGainsBox.h"

#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "config/MotorAccess.h"
#include "config/ParameterCatalogue.h"
#include "config/StepResponse.h"
#include "trace/StepChart.h"
#include "trace/WTraceController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>

namespace {

QString figure(const std::optional<double>& value)
{
    return value ? QString::number(*value, 'f', 1) : QStringLiteral("none");
}

QStringList stepFigures(const VelocityLoopModel::Prediction& p)
{
    return {figure(p.step.riseTimeMs), QString::number(p.step.overshootPercent, 'f', 1),
            figure(p.step.settlingTimeMs), figure(p.bandwidthHz)};
}

QStringList motorFigures(const MotorIdentification::Motor& m)
{
    return {QString::number(m.accel, 'f', 3), QString::number(m.friction, 'f', 1),
            QString::number(m.viscous, 'f', 4)};
}

// The chart is redrawn this often while a step's samples come in.
constexpr qint64 RedrawMs = 50;

} // namespace

TuningDialog::TuningDialog(SerialUSBCommandHandler& handler, LinkController* link,
                           WTraceController* traceController, QWidget* parent)
    : MotionDialog(handler, link, traceController, parent)
{
    setWindowTitle(tr("Tune velocity loop"));
    setObjectName(QStringLiteral("TuningDialog"));

    QLabel* warning = warningLine(tr("Identify, Suggest and Step move the motor (torque targets, "
                                     "then 300 rpm steps with the ramp off; Step: the target "
                                     "below); it is stopped (target velocity 0) and the gains put "
                                     "back when a run ends."));

    m_useBandwidth = new QCheckBox(tr("Bandwidth"), this);
    m_useBandwidth->setObjectName(QStringLiteral("cbBandwidth"));
    m_bandwidth = new QDoubleSpinBox(this);
    m_bandwidth->setObjectName(QStringLiteral("sbBandwidth"));
    m_bandwidth->setRange(0.1, 500);
    m_bandwidth->setValue(5);
    m_bandwidth->setSuffix(tr(" Hz"));
    m_set = new QComboBox(this);
    m_set->setObjectName(QStringLiteral("cbSet"));
    m_set->addItems({tr("Both sets"), tr("Set 1 (140, 141)"), tr("Set 2 (234, 235)")});
    m_maxVelocity = new QSpinBox(this);
    m_maxVelocity->setObjectName(QStringLiteral("sbMaxVelocity"));
    m_maxVelocity->setRange(0, 100000);
    m_maxVelocity->setSpecialValueText(tr("half the max. velocity"));
    m_maxVelocity->setSuffix(tr(" rpm"));
    m_maxCurrent = new QSpinBox(this);
    m_maxCurrent->setObjectName(QStringLiteral("sbMaxCurrent"));
    m_maxCurrent->setRange(0, 100000);
    m_maxCurrent->setSpecialValueText(tr("half the max. current"));
    m_maxCurrent->setSuffix(tr(" mA"));
    auto* bandwidthRow = new QHBoxLayout;
    bandwidthRow->addWidget(m_useBandwidth);
    bandwidthRow->addWidget(m_bandwidth);
    auto* form = new QFormLayout;
    form->addRow(tr("Goal"), bandwidthRow);
    form->addRow(tr("Apply to"), m_set);
    form->addRow(tr("Velocity limit"), m_maxVelocity);
    form->addRow(tr("Current limit"), m_maxCurrent);
    m_stepTarget = new QSpinBox(this);
    m_stepTarget->setObjectName(QStringLiteral("sbStepTarget"));
    m_stepTarget->setRange(-100000, 100000);
    m_stepTarget->setSingleStep(100);
    m_stepTarget->setValue(VelocityTuning::Request().step);
    m_stepTarget->setSuffix(tr(" rpm"));
    m_stepDuration = new QSpinBox(this);
    m_stepDuration->setObjectName(QStringLiteral("sbStepDuration"));
    m_stepDuration->setRange(10, 60000);
    m_stepDuration->setSingleStep(100);
    m_stepDuration->setValue(1000);
    m_stepDuration->setSuffix(tr(" ms"));
    m_stepTarget->setToolTip(tr("With the velocity ramp on (146) the rise follows the "
                                "acceleration (11); switch the ramp off to compare the step "
                                "with the predicted ones."));
    auto* stepRow = new QHBoxLayout;
    stepRow->addWidget(m_stepTarget);
    stepRow->addWidget(new QLabel(tr("for"), this));
    stepRow->addWidget(m_stepDuration);
    stepRow->addStretch();
    form->addRow(tr("Step to"), stepRow);

    m_gainBox = new LoopGainsBox(m_handler, m_link, this);
    m_gainBox->setObjectName(QStringLiteral("gbGains"));

    m_identify = addButton(tr("Identify"), "btnIdentify");
    m_suggest = addButton(tr("Suggest"), "btnSuggest");
    m_apply = addButton(tr("Apply…"), "btnApply");
    m_step = addButton(tr("Step"), "btnStep");
    m_cancel = addButton(tr("Cancel"), "btnCancel");

    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 0);
    m_progress->setVisible(false);
    m_suggestion = new QLabel(this);
    m_suggestion->setObjectName(QStringLiteral("lblSuggestion"));
    m_suggestion->setWordWrap(true);
    m_suggestion->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_chart = new StepChart(this);
    m_chart->setObjectName(QStringLiteral("stepChart"));

    const QStringList headers{tr("Run"),
                              tr("Time"),
                              tr("Action"),
                              tr("Accel [rpm/s per mA]"),
                              tr("Friction [mA]"),
                              tr("Viscous [mA per rpm]"),
                              tr("P"),
                              tr("I"),
                              tr("Rise [ms]"),
                              tr("Overshoot [%]"),
                              tr("Settling [ms]"),
                              tr("Bandwidth [Hz]"),
                              tr("Duration [s]"),
                              tr("Target [rpm]"),
                              tr("Ramp (146)"),
                              tr("Acceleration (11) [rpm/s]")};
    m_journal = makeJournal(headers);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(warning);
    layout->addLayout(form);
    layout->addLayout(buttonRow());
    layout->addWidget(m_progress);
    auto* chartRow = new QHBoxLayout;
    chartRow->addWidget(m_chart, 1);
    chartRow->addWidget(m_gainBox, 0, Qt::AlignTop);
    layout->addLayout(chartRow, 2);
    layout->addWidget(m_suggestion);
    layout->addWidget(statusLine());
    layout->addWidget(m_journal, 1);

    connect(m_identify, &QPushButton::clicked, this, &TuningDialog::identify);
    connect(m_suggest, &QPushButton::clicked, this, &TuningDialog::suggest);
    connect(m_apply, &QPushButton::clicked, this, &TuningDialog::apply);
    connect(m_step, &QPushButton::clicked, this, &TuningDialog::step);
    connect(m_cancel, &QPushButton::clicked, this, &TuningDialog::cancel);
    connect(m_gainBox, &LoopGainsBox::said, this, &TuningDialog::say);
    connect(m_useBandwidth, &QCheckBox::toggled, m_bandwidth, &QWidget::setEnabled);
    m_bandwidth->setEnabled(false);
    setRunning(false);
    resize(1000, 680);
}

MotorIdentification::Limits TuningDialog::limits() const
{
    return {m_maxVelocity->value(), m_maxCurrent->value()};
}

bool TuningDialog::start(const QString& what)
{
    if (!mayRun())
        return false;
    beginRun(what);
    return true;
}

void TuningDialog::finish()
{
    endRun();
    // What the run left in the module (the gains are put back, or the link is down).
    m_gainBox->refresh();
}

void TuningDialog::identify()
{
    if (!start(tr("Identifying: the motor moves.")))
        return;
    const QStringList ramp = readRamp();
    // Asked at every reading: the dialog's events (Cancel, Esc) are served in between.
    const std::unique_ptr<MotorAccess> access =
        handlerAccess(m_handler, m_link, [this] { return serveEvents(); });
    const MotorIdentification::Result result = MotorIdentification::run(*access, limits());
    finish();
    if (!result.ok) {
        say(result.cancelled && result.stopped
                ? tr("Cancelled: the motor was told to stop (target velocity 0).")
                : tr("Identification did not run through: %1.").arg(result.error),
            !(result.cancelled && result.stopped));
        return;
    }
    addJournalRow(tr("identify"), motorFigures(result.motor), {}, {}, result.durationSeconds,
                  QStringList{QString()} << ramp);
    const QStringList figures = motorFigures(result.motor);
    say(tr("Identified: accel %1 rpm/s per mA, friction %2 mA, viscous %3 mA per rpm. The "
           "motor was told to stop.")
            .arg(figures.at(0), figures.at(1), figures.at(2)),
        false);
}

void TuningDialog::suggest()
{
    if (!start(tr("Finding gains: the motor moves.")))
        return;
    const QStringList ramp = readRamp();
    VelocityTuning::Request request;
    request.limits = limits();
    if (m_useBandwidth->isChecked())
        request.bandwidthHz = m_bandwidth->value();
    const std::unique_ptr<MotorAccess> access =
        handlerAccess(m_handler, m_link, [this] { return serveEvents(); });
    const VelocityTuning::Result result = VelocityTuning::run(*access, request);
    finish();
    if (!result.ok) {
        say((result.cancelled ? tr("Cancelled") : tr("No suggestion: %1").arg(result.error)) +
                (result.restored ? tr("; the motor was told to stop and the gains are as they "
                                      "were.")
                                 : QStringLiteral(".")),
            !result.cancelled);
        return;
    }
    m_suggested = result;
    addJournalRow(tr("suggest"), motorFigures(result.motor),
                  {QString::number(result.p), QString::number(result.i)},
                  stepFigures(result.predicted), result.durationSeconds,
                  QStringList{QString::number(request.step)} << ramp);
    const QStringList now = stepFigures(result.formerPredicted);
    const QStringList then = stepFigures(result.predicted);
    m_suggestion->setText(
        tr("Suggested P %1, I %2: rise %3 ms, overshoot %4 %, settling %5 ms, bandwidth %6 "
           "Hz (predicted). Current P %7, I %8: rise %9 ms, overshoot %10 %, settling %11 ms.")
            .arg(result.p)
            .arg(result.i)
            .arg(then.at(0), then.at(1), then.at(2), then.at(3))
            .arg(result.formerP)
            .arg(result.formerI)
            .arg(now.at(0), now.at(1), now.at(2)));
    showPredictions(result);
    say(tr("Done: the motor was told to stop; the gains are as they were until Apply."), false);
    m_apply->setEnabled(true);
}

void TuningDialog::showPredictions(const VelocityTuning::Result& result)
{
    const VelocityLoopModel::Plant plant{result.motor.accel, result.motor.friction,
                                         result.motor.viscous, result.lagSeconds};
    const auto curve = [&](const QString& label, qint32 p, qint32 i) {
        StepChart::Curve c;
        c.label = label;
        c.target = VelocityTuning::Request().step;
        // Unbounded: the shape of the linear response.
        VelocityLoopModel::predict(plant, {p * result.pWorth, i * result.iWorth}, c.target, 1e9,
                                   500, &c.samples);
        return c;
    };
    m_chart->clearReferences();
    m_chart->setCurrent(
        curve(tr("Current P %1, I %2 (predicted)").arg(result.formerP).arg(result.formerI),
              result.formerP, result.formerI));
    m_chart->keepCurrent();
    m_chart->setCurrent(curve(tr("Suggested P %1, I %2 (predicted)").arg(result.p).arg(result.i),
                              result.p, result.i));
    m_predictionInFront = true;
}

void TuningDialog::apply()
{
    if (!m_suggested || isRunning())
        return;
    const int set = m_set->currentIndex();
    const QString where = set == 0 ? tr("both sets (140/141 and 234/235)")
                                   : (set == 1 ? tr("set 1 (140/141)") : tr("set 2 (234/235)"));
    if (QMessageBox::question(this, tr("Apply gains"),
                              tr("Write P %1 and I %2 to %3 of the velocity loop?")
                                  .arg(m_suggested->p)
                                  .arg(m_suggested->i)
                                  .arg(where)) != QMessageBox::Yes)
        return;
    QList<QPair<int, qint32>> writes;
    if (set != 2)
        writes << QPair<int, qint32>(140, m_suggested->p)
               << QPair<int, qint32>(141, m_suggested->i);
    if (set != 1)
        writes << QPair<int, qint32>(234, m_suggested->p)
               << QPair<int, qint32>(235, m_suggested->i);
    for (const auto& [type, value] : writes) {
        const SerialUSBCommandHandler::Outcome outcome =
            m_handler.exchange(vokt::SetAxisParameter, vokt::ParameterNumber(type), 0, value);
        if (!outcome.ok()) {
            say(tr("Writing %1 to parameter %2 failed: %3.")
                    .arg(value)
                    .arg(type)
                    .arg(SerialUSBCommandHandler::failureText(outcome.failure)),
                true);
            return;
        }
    }
    addJournalRow(tr("apply"), {},
                  {QString::number(m_suggested->p), QString::number(m_suggested->i)}, {}, 0);
    // Read back as the panels do, so the Settings tab shows the new gains too.
    for (const auto& write : std::as_const(writes))
        m_handler.getAxisParameter(0, char(write.first));
    say(tr("Applied P %1 and I %2 to %3.").arg(m_suggested->p).arg(m_suggested->i).arg(where),
        false);
}

void TuningDialog::step()
{
    if (isRunning())
        return;
    StepResponse::Request request;
    request.mode = StepResponse::Mode::Velocity;
    request.target = m_stepTarget->value();
    request.durationMs = m_stepDuration->value();
    const QString problem = StepResponse::check(request);
    if (!problem.isEmpty()) {
        say(problem, true);
        return;
    }
    if (!start(tr("Stepping to %1 rpm: the motor moves.").arg(request.target)))
        return;
    QElapsedTimer clock;
    clock.start();
    const QStringList ramp = readRamp();
    std::array<qint32, 9> gains{};
    QString error;
    StepResponse::Result result;
    if (!StepResponse::readGains(m_handler, ParameterCatalogue::VelocityLoop, &gains, &error)) {
        result.error = error; // nothing moved yet
    } else {
        // The predicted steps stay behind the measured one.
        if (m_predictionInFront)
            m_chart->keepCurrent();
        m_predictionInFront = false;
        StepChart::Curve live;
        live.label = tr("Step %1 (measured)").arg(m_runs + 1);
        QElapsedTimer redraw;
        redraw.start();
        result = StepResponse::run(
            m_handler, request,
            [&](const StepMetrics::Sample& sample) {
                if (live.samples.empty()) {
                    live.start = sample.value;
                    live.target = request.target;
                }
                live.samples.push_back(sample);
                if (redraw.elapsed() >= RedrawMs) {
                    redraw.restart();
                    m_chart->setCurrent(live);
                }
                // Between two samples, so that Stop motor (a click, Esc) is the next exchange.
                return !serveEvents();
            },
            m_link, [this] { return serveEvents(); });
        live.start = result.start;
        live.target = result.target;
        live.samples = result.samples;
        m_chart->setCurrent(live);
    }
    finish();
    if (result.cancelled && !result.moved) {
        say(tr("Cancelled before the step: the motor was not moved."), false);
        return;
    }
    if (!result.ok) {
        say(result.cancelled && result.stopped
                ? tr("Cancelled: the motor was told to stop (target velocity 0).")
                : tr("The step did not run through: %1.").arg(result.error) +
                      (result.stopped ? tr(" The motor was told to stop (target velocity 0).")
                                      : QString()),
            !(result.cancelled && result.stopped));
        return;
    }
    // The set the loop uses at the target: set 1 below the threshold speed (8), set 2 from it.
    const size_t set = std::abs(request.target) < gains[8] ? 0 : 4;
    const StepMetrics::Metrics& m = result.metrics;
    const QStringList measured{figure(m.riseTimeMs), QString::number(m.overshootPercent, 'f', 1),
                               figure(m.settlingTimeMs), QString()};
    addJournalRow(tr("step"), {}, {QString::number(gains[set]), QString::number(gains[set + 1])},
                  measured, clock.elapsed() / 1000.0,
                  QStringList{QString::number(request.target)} << ramp);
    say(tr("Step to %1 rpm: rise %2 ms, overshoot %3 %, settling %4 ms (measured, %5 samples). "
           "The motor was told to stop (target velocity 0).")
            .arg(request.target)
            .arg(measured.at(0), measured.at(1), measured.at(2))
            .arg(m.samples),
        false);
}

QStringList TuningDialog::readRamp()
{
    QStringList cells;
    for (int type : {146, 11}) {
        const SerialUSBCommandHandler::Outcome outcome =
            m_handler.exchange(vokt::GetAxisParameter, vokt::ParameterNumber(type), 0, 0);
        cells << (outcome.ok() ? QString::number(outcome.reply->value()) : QString());
    }
    return cells;
}

void TuningDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    m_gainBox->refresh();
}

void TuningDialog::enableFields(bool running)
{
    m_identify->setEnabled(!running);
    m_suggest->setEnabled(!running);
    m_apply->setEnabled(!running && m_suggested.has_value());
    m_step->setEnabled(!running);
    m_cancel->setEnabled(running);
    m_gainBox->setRunning(running);
    m_progress->setVisible(running);
    for (QWidget* field :
         {static_cast<QWidget*>(m_useBandwidth), static_cast<QWidget*>(m_set),
          static_cast<QWidget*>(m_stepTarget), static_cast<QWidget*>(m_stepDuration),
          static_cast<QWidget*>(m_maxVelocity), static_cast<QWidget*>(m_maxCurrent)})
        field->setEnabled(!running);
    m_bandwidth->setEnabled(!running && m_useBandwidth->isChecked());
}

void TuningDialog::addJournalRow(const QString& action, const QStringList& motor,
                                 const QStringList& gains, const QStringList& figures,
                                 double seconds, const QStringList& settings)
{
    QStringList cells{QString::number(++m_runs), QDateTime::currentDateTime().toString(Qt::ISODate),
                      action};
    const auto padded = [](QStringList list, int size) {
        while (list.size() < size)
            list << QString();
        return list;
    };
    cells << padded(motor, 3) << padded(gains, 2) << padded(figures, 4)
          << (seconds > 0 ? QString::number(seconds, 'f', 1) : QString()) << padded(settings, 3);
    const int row = m_journal->rowCount();
    m_journal->insertRow(row);
    for (int column = 0; column < cells.size(); ++column)
        m_journal->setItem(row, column, new QTableWidgetItem(cells.at(column)));
    m_journal->resizeColumnsToContents();
    m_journal->scrollToBottom();
}

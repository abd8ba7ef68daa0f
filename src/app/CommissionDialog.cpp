#include "app/CommissionDialog.h"

#include "comm/SerialUSBCommandHandler.h"
#include "config/InputText.h"
#include "config/ParameterCatalogue.h"
#include "trace/WTraceController.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace {

enum Column
{
    AddressColumn,
    VerdictColumn,
    ChangedColumn,
    TimeColumn,
    RecordColumn,
    ProblemColumn,
    Columns
};

QPushButton* plainButton(const QString& text, const char* name, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

} // namespace

CommissionDialog::CommissionDialog(SerialUSBCommandHandler& handler,
                                   WTraceController* traceController,
                                   std::function<void()> stopMotor, QWidget* parent)
    : QDialog(parent), m_handler(handler), m_traceController(traceController),
      m_stopMotor(std::move(stopMotor))
{
    setWindowTitle(tr("Commission modules on the line"));
    setObjectName(QStringLiteral("CommissionDialog"));
    // The window behind takes no input while the dialog is up.
    setWindowModality(Qt::WindowModal);

    m_golden = new QLineEdit(this);
    m_golden->setObjectName(QStringLiteral("leGolden"));
    m_golden->setPlaceholderText(tr("the golden settings file (*.ini)"));
    QPushButton* browseGolden = plainButton(tr("Browse…"), "btnGolden", this);
    auto* goldenRow = new QHBoxLayout;
    goldenRow->addWidget(m_golden, 1);
    goldenRow->addWidget(browseGolden);

    m_byAddress = new QRadioButton(tr("Addresses"), this);
    m_byAddress->setObjectName(QStringLiteral("rbAddresses"));
    m_byAddress->setChecked(true);
    m_addresses = new QLineEdit(this);
    m_addresses->setObjectName(QStringLiteral("leAddresses"));
    m_addresses->setPlaceholderText(QStringLiteral("1,2,3"));
    m_byScan = new QRadioButton(tr("Scan from"), this);
    m_byScan->setObjectName(QStringLiteral("rbScan"));
    m_from = new QSpinBox(this);
    m_from->setObjectName(QStringLiteral("sbFrom"));
    m_to = new QSpinBox(this);
    m_to->setObjectName(QStringLiteral("sbTo"));
    for (QSpinBox* box : {m_from, m_to})
        box->setRange(1, 255);
    m_to->setValue(32);
    auto* scanRange = new QHBoxLayout;
    scanRange->addWidget(m_from);
    scanRange->addWidget(new QLabel(tr("to"), this));
    scanRange->addWidget(m_to);
    scanRange->addStretch();
    auto* modules = new QGridLayout;
    modules->addWidget(m_byAddress, 0, 0);
    modules->addWidget(m_addresses, 0, 1);
    modules->addWidget(m_byScan, 1, 0);
    modules->addLayout(scanRange, 1, 1);
    modules->setColumnStretch(1, 1);

    m_store = new QCheckBox(tr("Store in the module's non-volatile memory (checked with a "
                               "restore)"),
                            this);
    m_store->setObjectName(QStringLiteral("cbStore"));
    m_records = new QCheckBox(tr("Records in"), this);
    m_records->setObjectName(QStringLiteral("cbRecords"));
    m_recordsDir = new QLineEdit(this);
    m_recordsDir->setObjectName(QStringLiteral("leRecords"));
    m_recordsDir->setPlaceholderText(tr("a folder: module-<address>.html each"));
    QPushButton* browseRecords = plainButton(tr("Browse…"), "btnRecords", this);
    auto* recordsRow = new QHBoxLayout;
    recordsRow->addWidget(m_records);
    recordsRow->addWidget(m_recordsDir, 1);
    recordsRow->addWidget(browseRecords);
    m_keepGoing = new QCheckBox(tr("Go on after a module that is not ok"), this);
    m_keepGoing->setObjectName(QStringLiteral("cbKeepGoing"));
    m_keepGoing->setChecked(true);

    auto* form = new QFormLayout;
    form->addRow(tr("Golden file"), goldenRow);
    form->addRow(tr("Modules"), modules);
    form->addRow(QString(), m_store);
    form->addRow(QString(), recordsRow);
    form->addRow(QString(), m_keepGoing);

    m_run = plainButton(tr("Commission"), "btnCommission", this);
    m_cancel = plainButton(tr("Cancel"), "btnCancel", this);
    QPushButton* close = plainButton(tr("Close"), "btnClose", this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_run);
    buttons->addWidget(m_cancel);
    buttons->addStretch();
    buttons->addWidget(close);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("lblStatus"));
    m_status->setWordWrap(true);

    m_table = new QTableWidget(0, Columns, this);
    m_table->setObjectName(QStringLiteral("twResults"));
    m_table->setHorizontalHeaderLabels({tr("Address"), tr("Verdict"), tr("Values changed"),
                                        tr("Time [s]"), tr("Record"), tr("What went wrong")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(m_progress);
    layout->addWidget(m_status);
    layout->addWidget(m_table, 1);

    connect(browseGolden, &QPushButton::clicked, this, &CommissionDialog::chooseGolden);
    connect(browseRecords, &QPushButton::clicked, this, &CommissionDialog::chooseRecords);
    connect(m_run, &QPushButton::clicked, this, &CommissionDialog::run);
    connect(m_cancel, &QPushButton::clicked, this, &CommissionDialog::cancel);
    connect(close, &QPushButton::clicked, this, &CommissionDialog::reject);
    setRunning(false);
    resize(760, 520);
}

void CommissionDialog::chooseGolden()
{
    const QString fileName = QFileDialog::getOpenFileName(
        this, tr("The golden settings file"), m_golden->text(), tr("Settings files (*.ini)"));
    if (!fileName.isEmpty())
        m_golden->setText(fileName);
}

void CommissionDialog::chooseRecords()
{
    const QString dir = QFileDialog::getExistingDirectory(this, tr("The folder of the records"),
                                                          m_recordsDir->text());
    if (!dir.isEmpty()) {
        m_recordsDir->setText(dir);
        m_records->setChecked(true);
    }
}

void CommissionDialog::say(const QString& text, bool failure)
{
    m_status->setStyleSheet(failure ? QStringLiteral("color: #a00000") : QString());
    m_status->setText(text);
}

bool CommissionDialog::readPlan(Commissioning::Line::Plan* plan)
{
    QString why;
    const std::optional<CommissioningRecord::Golden> golden =
        Commissioning::readGolden(m_golden->text(), &why);
    if (m_golden->text().isEmpty()) {
        say(tr("Choose the golden settings file first."), true);
        return false;
    }
    if (!golden) {
        say(tr("%1: %2").arg(m_golden->text(), why), true);
        return false;
    }
    plan->settings.golden = *golden;
    plan->scan = m_byScan->isChecked();
    if (plan->scan) {
        plan->from = m_from->value();
        plan->to = m_to->value();
        if (plan->from > plan->to) {
            say(tr("The scan's first address is above its last."), true);
            return false;
        }
    } else {
        for (const QString& part : m_addresses->text().split(QLatin1Char(','))) {
            const std::optional<qint64> address =
                InputText::wholeNumber(part.trimmed(), 1, 255, &why);
            if (!address) {
                say(tr("Addresses: %1 (1 to 255, separated by commas)").arg(why), true);
                return false;
            }
            plan->addresses << int(*address);
        }
    }
    plan->settings.store = m_store->isChecked();
    if (m_records->isChecked()) {
        why = Commissioning::recordsProblem(m_recordsDir->text());
        if (m_recordsDir->text().isEmpty() || !why.isEmpty()) {
            say(m_recordsDir->text().isEmpty()
                    ? tr("Choose the folder of the records.")
                    : tr("Records: %1: %2").arg(m_recordsDir->text(), why),
                true);
            return false;
        }
        plan->settings.recordsDir = m_recordsDir->text();
    }
    plan->keepGoing = m_keepGoing->isChecked();
    return true;
}

void CommissionDialog::run()
{
    if (m_running)
        return;
    if (!m_handler.isOpen()) {
        say(tr("Not connected: open the link to the line first."), true);
        return;
    }
    Commissioning::Line::Plan plan;
    if (!readPlan(&plan))
        return;

    m_table->setRowCount(0);
    m_cancelRequested = false;
    setRunning(true);
    say(plan.scan ? tr("Scanning…") : tr("Commissioning…"), false);
    if (m_traceController)
        m_traceController->holdPolling();
    // A handler of its own on the window's port: the panels hear nothing of the other
    // modules, and the window's module address stays as it is. A link it loses is the
    // window's (its controller takes it from the window's handler).
    SerialUSBCommandHandler line;
    line.setDebug(m_handler.isDebug());
    line.setDevice(m_handler.device());
    connect(&line, &SerialUSBCommandHandler::linkLost, &m_handler,
            &SerialUSBCommandHandler::linkLost);
    Commissioning::Line commissioning(line, plan);
    commissioning.run({[this](const Commissioning::Line& at) { showProgress(at); },
                       [this](const Commissioning::Result& result) { addRow(result); },
                       [this] { return m_cancelRequested; }});
    line.setDevice(nullptr);

    // The window's own module may be one of them.
    for (const Commissioning::Result& result : commissioning.results())
        if (result.address == m_handler.moduleAddress() &&
            (result.changed > 0 || plan.settings.store))
            refreshWindow();
    if (m_traceController)
        m_traceController->releasePolling();
    setRunning(false);
    QString text = commissioning.summary() + QLatin1Char('.');
    if (commissioning.cancelled())
        text += tr(" Cancelled after the module in progress.");
    if (!commissioning.failure().isEmpty())
        text += tr(" The line ended early: %1.").arg(commissioning.failure());
    if (plan.scan && commissioning.moduleCount() == 0 && commissioning.failure().isEmpty())
        text += tr(" No module answered from address %1 to %2.").arg(plan.from).arg(plan.to);
    say(text, !commissioning.allOk());
    m_progress->setRange(0, qMax(1, commissioning.moduleCount()));
    m_progress->setValue(commissioning.modulesDone());
}

void CommissionDialog::refreshWindow()
{
    for (const ParameterCatalogue::ConfigurationParameter& p : ParameterCatalogue::configuration())
        if (m_handler.isOpen())
            m_handler.getAxisParameter(0, static_cast<char>(p.number));
}

void CommissionDialog::showProgress(const Commissioning::Line& line)
{
    if (line.scanning()) {
        m_progress->setRange(0, line.probeCount());
        m_progress->setValue(line.probesDone());
        m_status->setText(tr("Scanning address %1…").arg(line.address()));
    } else {
        m_progress->setRange(0, qMax(1, line.moduleCount()));
        m_progress->setValue(line.modulesDone());
        m_status->setText(tr("Module %1 of %2: address %3")
                              .arg(line.modulesDone() + 1)
                              .arg(line.moduleCount())
                              .arg(line.address()));
    }
    // Cancel, Esc and repaints that came in during the exchange.
    QCoreApplication::processEvents();
}

void CommissionDialog::addRow(const Commissioning::Result& result)
{
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    const QStringList cells{QString::number(result.address),
                            Commissioning::verdictText(result.verdict),
                            QString::number(result.changed),
                            QString::number(result.ms / 1000.0, 'f', 2),
                            QString(),
                            result.verdict == Commissioning::Verdict::Conflict
                                ? tr("more than one module answers; nothing written")
                                : result.problems.join(QStringLiteral("; "))};
    for (int column = 0; column < Columns; ++column) {
        auto* item = new QTableWidgetItem(cells.at(column));
        item->setToolTip(cells.at(ProblemColumn));
        if (!result.ok() && column == VerdictColumn)
            item->setForeground(QColor(0xa0, 0, 0));
        m_table->setItem(row, column, item);
    }
    if (!result.record.isEmpty()) {
        QPushButton* open = plainButton(tr("Open record"), "btnOpenRecord", m_table);
        open->setToolTip(result.record);
        const QString record = result.record;
        connect(open, &QPushButton::clicked, this,
                [record] { QDesktopServices::openUrl(QUrl::fromLocalFile(record)); });
        m_table->setCellWidget(row, RecordColumn, open);
    }
    m_table->resizeColumnsToContents();
    m_table->scrollToBottom();
}

void CommissionDialog::setRunning(bool running)
{
    m_running = running;
    m_run->setEnabled(!running);
    m_cancel->setEnabled(running);
    for (QWidget* field :
         std::initializer_list<QWidget*>{m_golden, m_byAddress, m_addresses, m_byScan, m_from, m_to,
                                         m_store, m_records, m_recordsDir, m_keepGoing})
        field->setEnabled(!running);
}

void CommissionDialog::cancel()
{
    if (!m_running)
        return;
    m_cancelRequested = true;
    say(tr("Cancelling after the module in progress…"), false);
}

void CommissionDialog::keyPressEvent(QKeyEvent* event)
{
    // Esc stops the motor here too, then cancels or closes.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && m_stopMotor)
        m_stopMotor();
    QDialog::keyPressEvent(event);
}

void CommissionDialog::reject()
{
    // While the line runs it ends after the module in progress, and the dialog stays.
    if (m_running) {
        cancel();
        return;
    }
    QDialog::reject();
}

void CommissionDialog::closeEvent(QCloseEvent* event)
{
    if (m_running) {
        cancel();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

#include "panels/connection/ModuleScanDialog.h"

#include "comm/ModuleScanner.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QMap>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>

namespace {

enum Column
{
    AddressColumn,
    RateColumn,
    AnswerColumn
};

constexpr int ConflictRole = Qt::UserRole;

QString conflictText()
{
    return QStringLiteral("conflict: more than one module answers");
}

} // namespace

ModuleScanDialog::ModuleScanDialog(const QString& port, const QList<int>& rates, QWidget* parent)
    : QDialog(parent), m_port(port), m_turnaroundMs(ModuleScanner::TurnaroundMarginMs)
{
    setObjectName(QStringLiteral("ModuleScanDialog"));
    setWindowTitle(tr("Find modules"));
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(tr("Modules on %1: each address is asked for one value (get axis "
                                "parameter 0) at each baud rate, and whoever answers is listed.")
                                 .arg(port));
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto* options = new QHBoxLayout;
    options->addWidget(new QLabel(tr("Baud rate:")));
    m_rate = new QComboBox;
    m_rate->setObjectName(QStringLiteral("cmbScanBaudRate"));
    QList<int> fastestFirst = rates;
    std::sort(fastestFirst.begin(), fastestFirst.end(), std::greater<int>());
    m_rate->addItem(tr("all"), QVariant::fromValue(fastestFirst));
    for (int rate : rates)
        m_rate->addItem(QString::number(rate), QVariant::fromValue(QList<int>{rate}));
    options->addWidget(m_rate);
    options->addSpacing(12);
    options->addWidget(new QLabel(tr("Addresses:")));
    m_from = new QSpinBox;
    m_from->setObjectName(QStringLiteral("sbScanFrom"));
    m_from->setRange(1, 255);
    m_from->setValue(1);
    options->addWidget(m_from);
    options->addWidget(new QLabel(tr("to")));
    m_to = new QSpinBox;
    m_to->setObjectName(QStringLiteral("sbScanTo"));
    m_to->setRange(1, 255);
    m_to->setValue(255);
    options->addWidget(m_to);
    options->addStretch();
    m_scan = new QPushButton(tr("Scan"));
    m_scan->setObjectName(QStringLiteral("btnScan"));
    options->addWidget(m_scan);
    layout->addLayout(options);

    m_progress = new QProgressBar;
    m_progress->setObjectName(QStringLiteral("progressScan"));
    layout->addWidget(m_progress);
    m_status = new QLabel;
    m_status->setObjectName(QStringLiteral("lblScanStatus"));
    m_status->setWordWrap(true);
    layout->addWidget(m_status);

    m_modules = new QTreeWidget;
    m_modules->setObjectName(QStringLiteral("twModules"));
    m_modules->setHeaderLabels({tr("Address"), tr("Baud rate"), tr("Answer")});
    m_modules->setRootIsDecorated(false);
    m_modules->setSelectionMode(QAbstractItemView::SingleSelection);
    m_modules->header()->setStretchLastSection(true);
    layout->addWidget(m_modules, 1);
    auto* hint = new QLabel(tr("Click a module to take its address and baud rate into the "
                               "serial panel; double-click it to connect."));
    hint->setWordWrap(true);
    layout->addWidget(hint);

    auto* buttons = new QDialogButtonBox;
    m_cancel = buttons->addButton(QDialogButtonBox::Cancel);
    m_cancel->setObjectName(QStringLiteral("btnCancelScan"));
    m_close = buttons->addButton(QDialogButtonBox::Close);
    m_close->setObjectName(QStringLiteral("btnCloseScan"));
    layout->addWidget(buttons);
    resize(520, 420);

    connect(m_scan, &QPushButton::clicked, this, &ModuleScanDialog::startScan);
    connect(m_cancel, &QPushButton::clicked, this, &ModuleScanDialog::cancelScan);
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_modules, &QTreeWidget::itemSelectionChanged, this, [this] {
        const QList<QTreeWidgetItem*> selected = m_modules->selectedItems();
        if (!selected.isEmpty())
            choose(selected.constFirst(), false);
    });
    connect(m_modules, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { choose(item, true); });
    setScanning(false);
    // The scan starts as the dialog opens.
    QTimer::singleShot(0, this, &ModuleScanDialog::startScan);
}

ModuleScanDialog::~ModuleScanDialog() = default;

bool ModuleScanDialog::isScanning() const
{
    return m_scanner != nullptr;
}

void ModuleScanDialog::startScan()
{
    m_scanner.reset();
    ModuleScanner::Plan plan;
    plan.port = m_port;
    plan.baudRates = m_rate->currentData().value<QList<int>>();
    plan.from = m_from->value();
    plan.to = qMax(m_from->value(), m_to->value());
    plan.turnaroundMs = m_turnaroundMs;
    m_scanner = std::make_unique<ModuleScanner>(plan);
    // A line of its own in the log for what was found, not two for every frame.
    m_scanner->setDebug(false);
    m_scanner->setOnFound([this](const ModuleScanner::Found& found) {
        addFound(found.address, found.baudRate, found.conflict);
    });
    m_modules->clear();
    m_progress->setRange(0, m_scanner->probeCount());
    m_progress->setValue(0);
    qint64 expectedMs = 0;
    for (int rate : plan.baudRates)
        expectedMs +=
            qint64(plan.to - plan.from + 1) * ModuleScanner::deadlineMs(rate, m_turnaroundMs);
    m_status->setText(tr("Scanning: about %1 s.").arg(qMax<qint64>(1, (expectedMs + 500) / 1000)));
    setScanning(true);
    m_started.start();
    QTimer::singleShot(0, this, &ModuleScanDialog::scanStep);
}

void ModuleScanDialog::scanStep()
{
    if (!m_scanner)
        return;
    const int rate = m_scanner->baudRate();
    const int address = m_scanner->address();
    const bool more = m_scanner->step();
    m_progress->setValue(m_scanner->probesDone());
    if (more) {
        m_status->setText(tr("%1 baud, address %2").arg(rate).arg(address));
        // One address a turn of the event loop: Cancel is seen after the exchange in flight.
        QTimer::singleShot(0, this, &ModuleScanDialog::scanStep);
        return;
    }
    // A module answers at every rate it is set to hear (or, simulated, at any): it is
    // counted once, by its address, with the rates it answered at.
    QMap<int, QList<int>> rates;
    QSet<int> conflicted;
    for (const ModuleScanner::Found& found : m_scanner->found()) {
        rates[found.address].append(found.baudRate);
        if (found.conflict)
            conflicted.insert(found.address);
    }
    const int conflicts = static_cast<int>(conflicted.size());
    const int modules = static_cast<int>(rates.size()) - conflicts;
    QStringList lines;
    for (auto it = rates.cbegin(); it != rates.cend(); ++it) {
        QStringList at;
        for (int rate : it.value())
            at << QString::number(rate);
        lines << (conflicted.contains(it.key()) ? tr("Address %1 (conflict): %2 baud")
                                                : tr("Address %1: %2 baud"))
                     .arg(it.key())
                     .arg(at.join(QStringLiteral(", ")));
    }
    if (m_scanner->lineEchoes())
        lines << tr("The line echoes every request (an adapter that hears its own "
                    "transmission); only the modules that answered are listed.");
    if (!m_scanner->failure().isEmpty())
        lines << m_scanner->failure();
    lines << m_scanner->problems();
    if (m_scanner->portOpened())
        lines.prepend(tr("Done: %1 module(s) found, %2 conflict(s), in %3 s.")
                          .arg(modules)
                          .arg(conflicts)
                          .arg(double(m_started.elapsed()) / 1000, 0, 'f', 1));
    endScan(lines.join(QLatin1Char('\n')));
}

void ModuleScanDialog::cancelScan()
{
    if (!m_scanner)
        return;
    endScan(tr("Cancelled at %1 baud, address %2.")
                .arg(m_scanner->baudRate())
                .arg(m_scanner->address()));
}

void ModuleScanDialog::endScan(const QString& status)
{
    // The port is closed with the scanner.
    m_scanner.reset();
    m_status->setText(status);
    setScanning(false);
    emit scanFinished();
}

void ModuleScanDialog::reject()
{
    cancelScan();
    QDialog::reject();
}

void ModuleScanDialog::addFound(int address, int baudRate, bool conflict)
{
    auto* item = new QTreeWidgetItem({QString::number(address), QString::number(baudRate),
                                      conflict ? conflictText() : tr("module")});
    item->setData(AddressColumn, ConflictRole, conflict);
    if (conflict) {
        item->setForeground(AnswerColumn, QColor(Qt::darkRed));
        item->setToolTip(AnswerColumn, tr("Two or more replies, or a broken one: give each "
                                          "module at this address an address of its own."));
    }
    m_modules->addTopLevelItem(item);
    m_modules->resizeColumnToContents(AddressColumn);
    m_modules->resizeColumnToContents(RateColumn);
}

void ModuleScanDialog::choose(QTreeWidgetItem* item, bool connectNow)
{
    if (!item)
        return;
    const int address = item->text(AddressColumn).toInt();
    const int rate = item->text(RateColumn).toInt();
    if (item->data(AddressColumn, ConflictRole).toBool() && connectNow) {
        m_status->setText(tr("More than one module answers at address %1 (%2 baud): their "
                             "replies may be each other's. Disconnect all but one of them, or "
                             "give one another address, before connecting.")
                              .arg(address)
                              .arg(rate));
        emit moduleChosen(address, rate, false);
        return;
    }
    if (connectNow) {
        // The port must be free for the link.
        cancelScan();
        emit moduleChosen(address, rate, true);
        accept();
        return;
    }
    emit moduleChosen(address, rate, false);
}

void ModuleScanDialog::setScanning(bool scanning)
{
    m_scan->setEnabled(!scanning);
    m_rate->setEnabled(!scanning);
    m_from->setEnabled(!scanning);
    m_to->setEnabled(!scanning);
    m_cancel->setVisible(scanning);
    m_close->setVisible(!scanning);
}

#include "app/CompareDialog.h"

#include "comm/DebugLine.h"
#include "config/FileTarget.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

using SettingsComparison::Kind;

// Light backgrounds with dark text, readable in a light and a dark theme: a value that
// differs, and a key the file lacks or holds no number for.
const QColor DiffersBackground(0xff, 0xd6, 0xd6);
const QColor UnreadableBackground(0xff, 0xe8, 0xb0);
const QColor HighlightText(0x20, 0x20, 0x20);

// At most this many rows are named in the question before a write.
constexpr int NamedInQuestion = 12;

// "1 value", "3 values"
QString values(qsizetype count)
{
    return count == 1 ? CompareDialog::tr("1 value") : CompareDialog::tr("%1 values").arg(count);
}

QTableWidgetItem* item(const QString& text, Qt::Alignment alignment = Qt::AlignLeft)
{
    auto* cell = new QTableWidgetItem(text);
    cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    cell->setTextAlignment(alignment | Qt::AlignVCenter);
    return cell;
}

} // namespace

CompareDialog::CompareDialog(const SettingsComparison::Rows& rows, const QString& fileName,
                             Purpose purpose, QWidget* parent)
    : QDialog(parent), m_rows(rows), m_fileName(fileName), m_purpose(purpose)
{
    const bool preview = purpose == Purpose::ImportPreview;
    setObjectName(QStringLiteral("compareDialog"));
    setWindowTitle(preview ? tr("Import settings: %1").arg(QFileInfo(fileName).fileName())
                           : tr("Compare with %1").arg(QFileInfo(fileName).fileName()));
    auto* layout = new QVBoxLayout(this);

    m_summary = new QLabel;
    m_summary->setObjectName(QStringLiteral("lblSummary"));
    m_summary->setWordWrap(true);
    QFont bold = m_summary->font();
    bold.setBold(true);
    m_summary->setFont(bold);
    layout->addWidget(m_summary);

    m_onlyDifferences = new QCheckBox(tr("Only differences"));
    m_onlyDifferences->setObjectName(QStringLiteral("cbOnlyDifferences"));
    layout->addWidget(m_onlyDifferences);

    m_table = new QTableWidget(0, ColumnCount);
    m_table->setObjectName(QStringLiteral("tableComparison"));
    m_table->setHorizontalHeaderLabels({tr("Write"), tr("Section"), tr("Key"), tr("Number"),
                                        tr("Module"), QFileInfo(fileName).fileName(),
                                        tr("Result")});
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setColumnHidden(WriteColumn, preview);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(m_table, 1);

    m_result = new QLabel;
    m_result->setObjectName(QStringLiteral("lblWriteResult"));
    m_result->setWordWrap(true);
    m_result->hide();
    layout->addWidget(m_result);

    auto* buttons = new QDialogButtonBox;
    auto* save = buttons->addButton(tr("Save as CSV…"), QDialogButtonBox::ActionRole);
    save->setObjectName(QStringLiteral("btnSaveCsv"));
    connect(save, &QPushButton::clicked, this, &CompareDialog::saveCsv);
    if (preview) {
        auto* import = buttons->addButton(tr("Import"), QDialogButtonBox::AcceptRole);
        import->setObjectName(QStringLiteral("btnImport"));
        QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
        cancel->setObjectName(QStringLiteral("btnCancelImport"));
        // Nothing is written by a stray Enter: Cancel is the default.
        import->setAutoDefault(false);
        save->setAutoDefault(false);
        cancel->setDefault(true);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    } else {
        m_write = buttons->addButton(tr("Write selected values to the module"),
                                     QDialogButtonBox::ActionRole);
        m_write->setObjectName(QStringLiteral("btnWriteSelected"));
        m_write->setAutoDefault(false);
        connect(m_write, &QPushButton::clicked, this, &CompareDialog::writeSelected);
        QPushButton* close = buttons->addButton(QDialogButtonBox::Close);
        close->setObjectName(QStringLiteral("btnClose"));
        save->setAutoDefault(false);
        close->setDefault(true);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    }
    layout->addWidget(buttons);

    connect(m_onlyDifferences, &QCheckBox::toggled, this, &CompareDialog::showOnlyDifferences);
    connect(m_table, &QTableWidget::itemChanged, this, &CompareDialog::updateButtons);
    fill();
    // Wide enough for every column (a long value of the file too), within the screen.
    m_table->resizeColumnsToContents();
    int width = 2 * m_table->frameWidth() + m_table->verticalScrollBar()->sizeHint().width() + 24;
    for (int c = 0; c < ColumnCount; ++c)
        if (!m_table->isColumnHidden(c))
            width += qMax(m_table->columnWidth(c), m_table->horizontalHeader()->sectionSizeHint(c));
    if (const QScreen* screen = this->screen())
        width = qMin(width, screen->availableGeometry().width() - 40);
    resize(qMax(760, width), 560);
}

QString CompareDialog::summary() const
{
    const QString file = QFileInfo(m_fileName).fileName();
    const int total = static_cast<int>(m_rows.size());
    if (m_purpose == Purpose::Compare) {
        const int differences = SettingsComparison::differences(m_rows);
        return differences == 0 ? tr("The module holds every value of %1.").arg(file)
                                : tr("%1 of %2 parameters differ between the module and %3.")
                                      .arg(differences)
                                      .arg(total)
                                      .arg(file);
    }
    const int changes = SettingsComparison::changes(m_rows);
    const int skipped = SettingsComparison::differences(m_rows) - changes;
    QString text = changes == 0 ? tr("%1 holds the module's values: importing it changes "
                                     "nothing.")
                                      .arg(file)
                                : tr("Importing %1 changes %2 of %3 values on the module.")
                                      .arg(file)
                                      .arg(changes)
                                      .arg(total);
    if (skipped == 1)
        text += QLatin1Char(' ') + tr("1 key is skipped (missing or not a whole number): the "
                                      "module keeps its value.");
    else if (skipped > 1)
        text += QLatin1Char(' ') + tr("%1 keys are skipped (missing or not whole numbers): the "
                                      "module keeps their values.")
                                       .arg(skipped);
    return text;
}

void CompareDialog::fill()
{
    const QSignalBlocker quiet(m_table);
    const SettingsComparison::Rows ordered = SettingsComparison::differencesFirst(m_rows);
    m_table->setRowCount(static_cast<int>(ordered.size()));
    for (int r = 0; r < ordered.size(); ++r) {
        const SettingsComparison::Row& row = ordered.at(r);
        const Kind kind = row.kind();
        auto* write = item(QString());
        // Only a number of the file can be written.
        if (kind == Kind::Differs) {
            write->setFlags(write->flags() | Qt::ItemIsUserCheckable);
            write->setCheckState(Qt::Unchecked);
        }
        write->setData(Qt::UserRole, row.index);
        m_table->setItem(r, WriteColumn, write);
        m_table->setItem(r, SectionColumn, item(row.group()));
        m_table->setItem(r, KeyColumn, item(row.key()));
        m_table->setItem(r, NumberColumn, item(QString::number(row.number()), Qt::AlignRight));
        m_table->setItem(r, ModuleColumn, item(row.first.shown(), Qt::AlignRight));
        m_table->setItem(r, FileColumn, item(row.second.shown(), Qt::AlignRight));
        QString result = SettingsComparison::kindText(kind);
        if (m_purpose == Purpose::ImportPreview && row.differs())
            result = kind == Kind::Differs ? tr("changes") : result + tr(": skipped");
        m_table->setItem(r, ResultColumn, item(result));
        if (row.differs()) {
            for (int c = 0; c < ColumnCount; ++c) {
                QTableWidgetItem* cell = m_table->item(r, c);
                cell->setBackground(kind == Kind::Differs ? DiffersBackground
                                                          : UnreadableBackground);
                cell->setForeground(HighlightText);
                QFont font = cell->font();
                font.setBold(true);
                cell->setFont(font);
            }
        }
    }
    m_summary->setText(summary());
    showOnlyDifferences(m_onlyDifferences->isChecked());
    updateButtons();
}

void CompareDialog::showOnlyDifferences(bool only)
{
    const SettingsComparison::Rows ordered = SettingsComparison::differencesFirst(m_rows);
    for (int r = 0; r < ordered.size(); ++r)
        m_table->setRowHidden(r, only && !ordered.at(r).differs());
}

QList<int> CompareDialog::chosen() const
{
    QList<int> indexes;
    for (int r = 0; r < m_table->rowCount(); ++r) {
        const QTableWidgetItem* write = m_table->item(r, WriteColumn);
        if ((write->flags() & Qt::ItemIsUserCheckable) && write->checkState() == Qt::Checked)
            indexes << write->data(Qt::UserRole).toInt();
    }
    return indexes;
}

void CompareDialog::updateButtons()
{
    if (m_write)
        m_write->setEnabled(!chosen().isEmpty());
}

void CompareDialog::writeSelected()
{
    const QList<int> indexes = chosen();
    if (indexes.isEmpty() || !m_writer)
        return;
    QList<SettingsComparison::Assignment> assignments;
    QStringList named;
    for (int index : indexes) {
        const SettingsComparison::Row& row = m_rows.at(index);
        assignments.append({row.number(), row.second.number});
        if (named.size() < NamedInQuestion)
            named << QStringLiteral("%1: %2 → %3")
                         .arg(row.name(), row.first.shown(), row.second.shown());
    }
    if (indexes.size() > NamedInQuestion)
        named << tr("… and %1 more").arg(indexes.size() - NamedInQuestion);
    const QString question = tr("Write %1 of %2 to the module?")
                                 .arg(values(indexes.size()), QFileInfo(m_fileName).fileName());
    if (QMessageBox::question(this, tr("Write selected values"),
                              question + QStringLiteral("\n\n") + named.join(QLatin1Char('\n')),
                              QMessageBox::Yes | QMessageBox::Cancel,
                              QMessageBox::Cancel) != QMessageBox::Yes)
        return;

    const QList<std::optional<qint32>> readBack = m_writer(assignments);
    QStringList notTaken;
    for (int i = 0; i < indexes.size(); ++i) {
        SettingsComparison::Row& row = m_rows[indexes.at(i)];
        const std::optional<qint32> value = readBack.value(i);
        if (value)
            row.first = SettingsComparison::Value::of(*value);
        if (!value || *value != assignments.at(i).value)
            notTaken << QStringLiteral("%1 (%2)").arg(
                row.name(), value ? tr("the module answers %1").arg(*value) : tr("no answer"));
    }
    m_result->setText(
        notTaken.isEmpty()
            ? tr("%1 written and read back.").arg(values(indexes.size()))
            : tr("Not taken by the module: %1").arg(notTaken.join(QStringLiteral(", "))));
    m_result->show();
    DebugLine() << "wrote selected values: " << QString::number(indexes.size())
                << ", not taken: " << QString::number(notTaken.size());
    fill();
}

void CompareDialog::saveCsv()
{
    const QString fileName = QFileDialog::getSaveFileName(
        this, tr("Save comparison as CSV"),
        QDateTime::currentDateTime().toString(QStringLiteral("./yyyyMMdd_hh.mm.ss_")) +
            QStringLiteral("Comparison.csv"),
        tr("CSV files (*.csv)"));
    if (fileName.isEmpty())
        return;
    QString why;
    if (!FileTarget::replace(fileName,
                             SettingsComparison::csv(SettingsComparison::differencesFirst(m_rows),
                                                     QStringLiteral("module"),
                                                     QFileInfo(m_fileName).fileName()),
                             &why)) {
        DebugLine() << "could not save the comparison: " << fileName << why;
        QMessageBox::warning(this, tr("Save as CSV"),
                             tr("%1 could not be written: %2").arg(fileName, why));
    }
}

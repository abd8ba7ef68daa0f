#include "app/RecordDialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// A line edit with a Browse… button beside it.
QWidget* fileField(QLineEdit* edit, QPushButton* browse)
{
    auto* field = new QWidget;
    auto* row = new QHBoxLayout(field);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(edit, 1);
    row->addWidget(browse);
    return field;
}

} // namespace

RecordDialog::RecordDialog(const QString& recordFile, const QString& goldenFile, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("recordDialog"));
    setWindowTitle(tr("Save commissioning record"));
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(tr("One HTML page with the date and time, the port and address, "
                                "the tool's version, the 44 parameters of the configuration and "
                                "the live values with the status flags, as the module holds "
                                "them now. With a golden settings file, its values stand beside "
                                "the module's, every difference marked, and a verdict on top."));
    intro->setWordWrap(true);
    layout->addWidget(intro);

    m_record = new QLineEdit(recordFile);
    m_record->setObjectName(QStringLiteral("edRecordFile"));
    auto* browseRecord = new QPushButton(tr("Browse…"));
    browseRecord->setObjectName(QStringLiteral("btnBrowseRecord"));
    m_golden = new QLineEdit(goldenFile);
    m_golden->setObjectName(QStringLiteral("edGoldenFile"));
    m_golden->setPlaceholderText(tr("none: the record shows the module's values only"));
    m_golden->setClearButtonEnabled(true);
    auto* browseGolden = new QPushButton(tr("Browse…"));
    browseGolden->setObjectName(QStringLiteral("btnBrowseGolden"));
    auto* form = new QFormLayout;
    form->addRow(tr("Record (HTML):"), fileField(m_record, browseRecord));
    form->addRow(tr("Golden settings file:"), fileField(m_golden, browseGolden));
    layout->addLayout(form);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel);
    m_save = buttons->button(QDialogButtonBox::Save);
    m_save->setObjectName(QStringLiteral("btnSaveRecord"));
    layout->addWidget(buttons);

    connect(browseRecord, &QPushButton::clicked, this, &RecordDialog::browseRecord);
    connect(browseGolden, &QPushButton::clicked, this, &RecordDialog::browseGolden);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_record, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_save->setEnabled(!text.trimmed().isEmpty()); });
    m_save->setEnabled(!recordFile.trimmed().isEmpty());
    resize(620, sizeHint().height());
}

QString RecordDialog::recordFile() const
{
    return m_record->text().trimmed();
}

QString RecordDialog::goldenFile() const
{
    return m_golden->text().trimmed();
}

void RecordDialog::browseRecord()
{
    const QString fileName = QFileDialog::getSaveFileName(this, tr("Save commissioning record"),
                                                          recordFile(), tr("HTML files (*.html)"));
    if (fileName.isEmpty())
        return;
    m_record->setText(fileName);
    m_confirmed = fileName;
}

void RecordDialog::accept()
{
    const QString fileName = recordFile();
    if (fileName != m_confirmed && QFileInfo(fileName).isFile() &&
        QMessageBox::question(
            this, windowTitle(), tr("%1 already exists. Replace it?").arg(fileName),
            QMessageBox::Yes | QMessageBox::Cancel, QMessageBox::Cancel) != QMessageBox::Yes)
        return;
    QDialog::accept();
}

void RecordDialog::browseGolden()
{
    const QString fileName = QFileDialog::getOpenFileName(
        this, tr("Golden settings file"),
        goldenFile().isEmpty() ? QStringLiteral("./") : goldenFile(), tr("Settings files (*.ini)"));
    if (!fileName.isEmpty())
        m_golden->setText(fileName);
}

#pragma once

#include "config/SettingsComparison.h"

#include <QDialog>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;

// The module's 44 configuration parameters beside a settings file's, one row each: its
// section, key and number, both values and how they stand. The rows that differ come
// first and are highlighted; "Only differences" hides the others.
//
// To compare (Purpose::Compare), the user ticks rows and writes the file's values of those
// to the module ("Write selected values to the module", asked once, each read back), or
// saves the table as CSV. Before an import (Purpose::ImportPreview) the table says how
// many values the import changes, and the dialog is accepted by Import, rejected by
// Cancel; nothing is written from it.
class CompareDialog : public QDialog
{
    Q_OBJECT

public:
    enum class Purpose
    {
        Compare,
        ImportPreview
    };

    // Writes the values to the module; one value read back per assignment (nothing for one
    // that got no answer).
    using Writer = std::function<QList<std::optional<qint32>>(
        const QList<SettingsComparison::Assignment>& assignments)>;

    CompareDialog(const SettingsComparison::Rows& rows, const QString& fileName, Purpose purpose,
                  QWidget* parent = nullptr);

    void setWriter(Writer writer) { m_writer = std::move(writer); }
    // The rows as they stand now (after a write, with the module's values read back), in
    // the catalogue's order.
    const SettingsComparison::Rows& rows() const { return m_rows; }
    QTableWidget* table() const { return m_table; }
    // The sentence above the table.
    QString summary() const;

private:
    // Columns of the table.
    enum Column
    {
        WriteColumn,
        SectionColumn,
        KeyColumn,
        NumberColumn,
        ModuleColumn,
        FileColumn,
        ResultColumn,
        ColumnCount
    };

    // Fills the table from the rows, differences first.
    void fill();
    void showOnlyDifferences(bool only);
    // The rows ticked for writing, as indexes into the catalogue.
    QList<int> chosen() const;
    void updateButtons();
    void writeSelected();
    void saveCsv();

    SettingsComparison::Rows m_rows;
    QString m_fileName;
    Purpose m_purpose;
    Writer m_writer;
    QLabel* m_summary;
    QLabel* m_result;
    QTableWidget* m_table;
    QCheckBox* m_onlyDifferences;
    QPushButton* m_write = nullptr;
};

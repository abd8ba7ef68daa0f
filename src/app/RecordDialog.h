#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

// Asks where to save the commissioning record and, if the module is to be checked against
// one, which golden settings file to compare it with (left empty: none).
class RecordDialog : public QDialog
{
    Q_OBJECT

public:
    RecordDialog(const QString& recordFile, const QString& goldenFile, QWidget* parent = nullptr);

    QString recordFile() const;
    // Empty for a record without a golden file.
    QString goldenFile() const;

public slots:
    // Asks before a typed name replaces an existing file (the browser asks by itself).
    void accept() override;

private:
    void browseRecord();
    void browseGolden();

    QLineEdit* m_record;
    QLineEdit* m_golden;
    QPushButton* m_save;
    // The record's file as the file browser confirmed it.
    QString m_confirmed;
};

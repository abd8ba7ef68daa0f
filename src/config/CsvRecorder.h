#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Records live values to a CSV file: a header row, then one row per polling cycle with the
// time in milliseconds since the recording began and one column per value, headed by the
// parameter's name from the catalogue.
//
//     CsvRecorder recorder(ParameterCatalogue::liveValues());
//     recorder.open("run.csv", &error);
//     recorder.beginCycle();
//     ... setValue(type, value) for every answer of the cycle ...
//     recorder.endCycle();
//
// A value the cycle got no answer for is left empty. Every row goes to the file whole and
// at once, so a recording that is broken off (Ctrl-C, a lost link) leaves complete rows
// only.
class CsvRecorder
{
public:
    // The header of the time column.
    static const QString TimeColumn;

    // One column per parameter number, in the order given.
    explicit CsvRecorder(const QList<int>& numbers);
    ~CsvRecorder();
    CsvRecorder(const CsvRecorder&) = delete;
    CsvRecorder& operator=(const CsvRecorder&) = delete;

    // Creates the file (an existing one is replaced), writes the header row and starts
    // the clock. false, with the reason in errorString(), if the file cannot be written.
    bool open(const QString& fileName);
    bool isOpen() const { return m_file.isOpen(); }
    void close();
    QString fileName() const { return m_file.fileName(); }
    QString errorString() const { return m_error; }

    // Starts a row at the time since open(); the values of the last row are forgotten.
    void beginCycle();
    // One value of the row; a number that is not a column is ignored.
    void setValue(int number, qint32 value);
    // Writes the row to the file. false, with the reason in errorString(), if it could not
    // be written; the file then ends with the last complete row.
    bool endCycle();
    int rowCount() const { return m_rows; }

    // The header fields: the time column, then the name of each number.
    QStringList header() const;

    // A field as a CSV line holds it: one that holds a separator, a quote or a line break
    // is quoted, its quotes doubled.
    static QString field(const QString& text);

private:
    bool writeLine(const QStringList& fields);

    QList<int> m_numbers;
    QList<std::optional<qint32>> m_values;
    QFile m_file;
    QElapsedTimer m_clock;
    qint64 m_rowTime = 0;
    int m_rows = 0;
    QString m_error;
};

#pragma once

#include "comm/Protocol.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Records live values to a CSV file: a header row first (as every CSV reader expects it),
// then one row per polling cycle with the time in milliseconds since the recording began
// and one column per value, headed by the parameter's name from the catalogue. What the
// recording is (the program, its version, the start, the module's port and address) goes
// beside it, into FILE.csv.json:
//
//     {"tool": "ziro-bldc-cli", "version": "1.2.120 (git 4f9511f)",
//      "started": "2026-12-09T10:15:00+01:00", "module": {"port": "/dev/ttyUSB0", "address": 1}}
//
//     CsvRecorder recorder(ParameterCatalogue::liveValues());
//     recorder.open("run.csv", &error);
//     recorder.beginCycle();
//     ... setValue(type, value) for every answer of the cycle ...
//     recorder.endCycle();
//
// A value the cycle got no answer for is left empty. The file is created with the first
// row of a complete cycle, header and row at once, through a copy that replaces an existing
// file only then: a recording that never completes a cycle (a silent module) leaves an
// existing file as it was; the sidecar is written just before it. Every later row goes to the file
// whole or not at all, so a recording that is broken off (Ctrl-C, a lost link, a full disk) ends on
// a complete row.
class CsvRecorder
{
public:
    // The header of the time column.
    static const QString TimeColumn;

    // One column per parameter number, in the order given.
    explicit CsvRecorder(const QList<vokt::ParameterNumber>& numbers);
    ~CsvRecorder();
    CsvRecorder(const CsvRecorder&) = delete;
    CsvRecorder& operator=(const CsvRecorder&) = delete;

    // Starts a recording into fileName and starts the clock; the file is written from the
    // first complete cycle on. false, with the reason in errorString(), if the file or its
    // sidecar cannot take a recording (see FileTarget::problem), or, unless force, one of
    // them reads as a settings file, a command script or an HTML page (FileKind).
    bool open(const QString& fileName, bool force = false);
    // The module recorded, for the sidecar; set before the first cycle ends.
    void setModule(const QString& port, int address);
    bool isOpen() const { return m_recording; }
    void close();
    QString fileName() const { return m_fileName; }
    QString errorString() const { return m_error; }
    // Whether the recording has put its file in place (with its first row).
    bool fileWritten() const { return m_created; }

    // Starts a row at the time since open(); the values of the last row are forgotten.
    void beginCycle();
    // One value of the row; a number that is not a column is ignored.
    void setValue(vokt::ParameterNumber number, qint32 value);
    // Writes the row to the file. A cycle that is not complete (the link was lost in it) is
    // written only once the file is there; before, it is dropped. false, with the reason in
    // errorString(), if the row could not be written; the file then ends with the last
    // complete row, and the recording is over.
    bool endCycle(bool complete = true);
    int rowCount() const { return m_rows; }

    // The header fields: the time column, then the name of each number.
    QStringList header() const;

    // A field as a CSV line holds it: one that holds a separator, a quote or a line break
    // is quoted, its quotes doubled.
    static QString field(const QString& text);

    // The sidecar's name: fileName with ".json" added.
    static QString sidecarName(const QString& fileName);
    // The sidecar's content: the program, its version, the start and the module, as JSON.
    QByteArray sidecar() const;

private:
    QByteArray line(const QStringList& fields) const;
    bool fail(const QString& why);

    QList<vokt::ParameterNumber> m_numbers;
    QList<std::optional<qint32>> m_values;
    QString m_fileName;
    bool m_recording = false;
    bool m_created = false;
    QFile m_file;
    QElapsedTimer m_clock;
    QDateTime m_started;
    QString m_port;
    int m_address = 0;
    qint64 m_rowTime = 0;
    int m_rows = 0;
    QString m_error;
};

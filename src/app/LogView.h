#pragma once

#include "LogSink.h"

#include <QStringList>
#include <QWidget>

#include <deque>

class QCheckBox;
class QPlainTextEdit;
class QPushButton;
class QTimer;

// The log of the window: every diagnostic line the tool writes, in order, with the same
// text as on standard output. Lines come from a LogSink in batches, at most one batch
// every BatchIntervalMs, so a flood of lines (frames at full polling speed) costs the GUI
// thread one append per batch. The last MaxLines lines are kept; frame lines are kept but
// shown only while "Show frames" is ticked. Clear empties the log, Save… writes the
// lines shown to a file.
class LogView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int MaxLines = 10000;
    static constexpr int BatchIntervalMs = 100;

    explicit LogView(LogSink& sink = LogSink::instance(), QWidget* parent = nullptr);

    // The lines kept, frame lines included, oldest first.
    QStringList lines() const;
    // The lines shown, as the view holds them.
    QStringList shownLines() const;
    bool showsFrames() const;

public slots:
    void setShowFrames(bool show);
    // Takes the lines the sink holds now, without waiting for the batch.
    void takeLines();
    void clear();
    // Writes the lines shown, one a line, to the file; false (with the reason) if it
    // could not be written.
    bool saveTo(const QString& fileName, QString* error = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void linesWaiting();
    void saveClicked();

private:
    bool isShown(const LogSink::Line& line) const;
    // Fills the text anew from the kept lines.
    void rebuild();

    LogSink& m_sink;
    std::deque<LogSink::Line> m_lines;
    QPlainTextEdit* m_text;
    QCheckBox* m_showFrames;
    QPushButton* m_clear;
    QPushButton* m_save;
    QTimer* m_batch;
    // The text no longer shows the kept lines (lines came while the view was hidden).
    bool m_stale = false;
};

#pragma once

#include "app/LogModel.h"
#include "comm/LogSink.h"

#include <QStringList>
#include <QWidget>

class QCheckBox;
class QListView;
class QPushButton;
class QTimer;

// The log of the window: every diagnostic line the tool writes, in order, with the same
// text as on standard output, kept by a LogModel. Lines come from a LogSink in batches, at most one
// batch every BatchIntervalMs, so a flood of lines (frames at full polling speed) costs the GUI
// thread one append per batch. The last MaxLines lines are kept; frame lines are kept but
// shown only while "Show frames" is ticked. Lines can be selected and copied; Clear
// empties the log, Save… writes the lines shown to a file.
class LogView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int MaxLines = LogModel::MaxLines;
    static constexpr int BatchIntervalMs = 100;

    explicit LogView(LogSink& sink = LogSink::instance(), QWidget* parent = nullptr);
    ~LogView() override;

    // The lines kept, frame lines included, oldest first.
    QStringList lines() const;
    // The lines shown, oldest first.
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
    // Puts the selected lines on the clipboard.
    void copySelection();

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    // Lines wait in the sink: they are taken in the next batch.
    void batchLines();
    void saveClicked();

private:
    LogSink& m_sink;
    LogModel* m_model;
    QListView* m_list;
    QCheckBox* m_showFrames;
    QPushButton* m_clear;
    QPushButton* m_save;
    QTimer* m_batch;
};

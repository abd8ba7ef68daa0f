#pragma once

#include "comm/LogSink.h"

#include <QAbstractListModel>
#include <QStringList>

#include <deque>

// The lines of the log view: every line kept, oldest first (at most MaxLines, frame lines
// among them), and, as a list model, the lines shown: all of them, or all but the frame
// lines. A list of one-line rows of one height takes a batch of thousands of lines at the
// cost of one insertion.
//
// While the view is hidden the model only keeps what comes (add() with shown false), and
// the rows no longer show the kept lines until showKept() is called.
class LogModel : public QAbstractListModel
{
public:
    static constexpr int MaxLines = 10000;

    // What add() did to the rows.
    enum class Change
    {
        // Nothing to show: no row changed.
        None,
        // Rows were appended at the end.
        Appended,
        // The rows were built anew.
        Rebuilt,
    };

    explicit LogModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // Rows as wide as the widest line in this font, of one height.
    void setFont(const QFont& font);

    // Keeps a batch of lines (the oldest go beyond MaxLines) and, if shown, shows those
    // that are to be shown.
    Change add(QList<LogSink::Line> batch, bool shown);
    // The rows show the kept lines anew.
    void showKept();
    // Whether the rows no longer show the kept lines.
    bool isStale() const { return m_stale; }

    bool showsFrames() const { return m_showFrames; }
    // Shows or hides the frame lines; the rows are built anew.
    void setShowFrames(bool show);

    // The lines kept, frame lines included, oldest first.
    QStringList lines() const;
    // The lines shown, oldest first.
    QStringList shownLines() const;
    void clear();

private:
    bool isShown(const LogSink::Line& line) const;
    // Appends rows; the oldest go where there would be more than MaxLines.
    void appendRows(QStringList lines);
    void resetRows(QStringList lines);

    std::deque<LogSink::Line> m_lines;
    std::deque<QString> m_rows;
    bool m_showFrames = false;
    bool m_stale = false;
    // The length of the longest line shown, in characters.
    qsizetype m_widest = 0;
    qreal m_charWidth = 8;
    int m_lineHeight = 16;
};

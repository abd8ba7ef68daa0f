#include "app/LogModel.h"

#include <QFontMetricsF>
#include <QSize>
#include <QtMath>

LogModel::LogModel(QObject* parent) : QAbstractListModel(parent) {}

int LogModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

QVariant LogModel::data(const QModelIndex& index, int role) const
{
    if (index.row() < 0 || index.row() >= rowCount())
        return {};
    if (role == Qt::DisplayRole)
        return m_rows[static_cast<size_t>(index.row())];
    // Rows of one height and of the widest line's width, so the list scrolls to the end of
    // any line; the font is of fixed pitch.
    if (role == Qt::SizeHintRole)
        return QSize(qCeil(m_charWidth * static_cast<qreal>(m_widest + 3)), m_lineHeight);
    return {};
}

void LogModel::setFont(const QFont& font)
{
    const QFontMetricsF metrics(font);
    m_charWidth = metrics.horizontalAdvance(QLatin1Char('M'));
    m_lineHeight = qCeil(metrics.height());
}

LogModel::Change LogModel::add(QList<LogSink::Line> batch, bool shown)
{
    if (batch.isEmpty())
        return Change::None;
    // Only the last MaxLines of a batch can stay.
    const qsizetype first = qMax<qsizetype>(0, batch.size() - MaxLines);
    QStringList rows;
    for (qsizetype i = first; i < batch.size(); ++i) {
        LogSink::Line& line = batch[i];
        if (shown && isShown(line))
            rows << line.text;
        m_lines.push_back(std::move(line));
    }
    while (m_lines.size() > static_cast<size_t>(MaxLines))
        m_lines.pop_front();

    if (!shown) {
        m_stale = true;
        return Change::None;
    }
    if (m_stale) {
        showKept();
        return Change::Rebuilt;
    }
    if (rows.isEmpty())
        return Change::None;
    appendRows(std::move(rows));
    return Change::Appended;
}

void LogModel::showKept()
{
    m_stale = true;
    resetRows(shownLines());
    m_stale = false;
}

void LogModel::setShowFrames(bool show)
{
    m_showFrames = show;
    showKept();
}

QStringList LogModel::lines() const
{
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(m_lines.size()));
    for (const LogSink::Line& line : m_lines)
        texts << line.text;
    return texts;
}

QStringList LogModel::shownLines() const
{
    if (!m_stale)
        return QStringList(m_rows.begin(), m_rows.end());
    QStringList shown;
    for (const LogSink::Line& line : m_lines)
        if (isShown(line))
            shown << line.text;
    return shown;
}

void LogModel::clear()
{
    m_lines.clear();
    resetRows({});
    m_stale = false;
}

bool LogModel::isShown(const LogSink::Line& line) const
{
    return !line.frame || m_showFrames;
}

void LogModel::appendRows(QStringList lines)
{
    if (lines.size() > MaxLines)
        lines.remove(0, lines.size() - MaxLines);
    if (lines.isEmpty())
        return;
    const int excess = rowCount() + static_cast<int>(lines.size()) - MaxLines;
    if (excess > 0) {
        beginRemoveRows(QModelIndex(), 0, excess - 1);
        m_rows.erase(m_rows.begin(), m_rows.begin() + excess);
        endRemoveRows();
    }
    const int first = rowCount();
    const qsizetype widest = m_widest;
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(lines.size()) - 1);
    for (QString& line : lines) {
        m_widest = qMax(m_widest, line.size());
        m_rows.push_back(std::move(line));
    }
    endInsertRows();
    if (m_widest > widest && first > 0)
        emit dataChanged(index(0), index(0), {Qt::SizeHintRole});
}

void LogModel::resetRows(QStringList lines)
{
    if (lines.size() > MaxLines)
        lines.remove(0, lines.size() - MaxLines);
    beginResetModel();
    m_widest = 0;
    for (const QString& line : std::as_const(lines))
        m_widest = qMax(m_widest, line.size());
    m_rows.assign(std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
    endResetModel();
}

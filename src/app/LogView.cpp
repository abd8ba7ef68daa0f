#include "app/LogView.h"

#include "comm/DebugLine.h"
#include "config/FileTarget.h"

#include <QAbstractListModel>
#include <QAction>
#include <QBoxLayout>
#include <QCheckBox>
#include <QClipboard>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QtMath>

// The lines the view shows, at most MaxLines, oldest first. A list of one-line rows of
// one height takes a batch of thousands of lines at the cost of one insertion.
class LogView::ShownLines : public QAbstractListModel
{
public:
    explicit ShownLines(QObject* parent) : QAbstractListModel(parent) {}

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (index.row() < 0 || index.row() >= rowCount())
            return {};
        if (role == Qt::DisplayRole)
            return m_rows[static_cast<size_t>(index.row())];
        // Rows of one height and of the widest line's width, so the list scrolls to the
        // end of any line; the font is of fixed pitch.
        if (role == Qt::SizeHintRole)
            return QSize(qCeil(m_charWidth * static_cast<qreal>(m_widest + 3)), m_lineHeight);
        return {};
    }

    void setFont(const QFont& font)
    {
        const QFontMetricsF metrics(font);
        m_charWidth = metrics.horizontalAdvance(QLatin1Char('M'));
        m_lineHeight = qCeil(metrics.height());
    }

    const std::deque<QString>& rows() const { return m_rows; }

    // Appends the lines; the oldest rows go where there would be more than MaxLines.
    void append(QStringList lines)
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

    void reset(QStringList lines)
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

private:
    std::deque<QString> m_rows;
    // The length of the longest line shown, in characters.
    qsizetype m_widest = 0;
    qreal m_charWidth = 8;
    int m_lineHeight = 16;
};

LogView::LogView(LogSink& sink, QWidget* parent) : QWidget(parent), m_sink(sink)
{
    m_shown = new ShownLines(this);
    m_list = new QListView;
    m_list->setObjectName(QStringLiteral("lstLog"));
    m_list->setModel(m_shown);
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_list->setTextElideMode(Qt::ElideNone);
    m_shown->setFont(m_list->font());
    m_list->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* copy = new QAction(tr("Copy"), m_list);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    m_list->addAction(copy);
    connect(copy, &QAction::triggered, this, &LogView::copySelection);

    m_showFrames = new QCheckBox(tr("Show frames"));
    m_showFrames->setObjectName(QStringLiteral("cbShowFrames"));
    m_showFrames->setToolTip(tr("Show the request and reply lines of every exchange"));
    m_clear = new QPushButton(tr("Clear"));
    m_clear->setObjectName(QStringLiteral("btnClear"));
    m_save = new QPushButton(tr("Save…"));
    m_save->setObjectName(QStringLiteral("btnSave"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_showFrames);
    buttons->addStretch(1);
    buttons->addWidget(m_clear);
    buttons->addWidget(m_save);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);

    m_batch = new QTimer(this);
    m_batch->setSingleShot(true);
    m_batch->setInterval(BatchIntervalMs);
    connect(m_batch, &QTimer::timeout, this, &LogView::takeLines);
    // Queued even from the GUI thread: a line may be written from anywhere, in the middle
    // of any work, and only the next turn of the event loop starts the batch.
    connect(&m_sink, &LogSink::linesWaiting, this, &LogView::linesWaiting, Qt::QueuedConnection);
    connect(m_showFrames, &QCheckBox::toggled, this, &LogView::setShowFrames);
    connect(m_clear, &QPushButton::clicked, this, &LogView::clear);
    connect(m_save, &QPushButton::clicked, this, &LogView::saveClicked);

    // What was written before the view existed.
    takeLines();
}

LogView::~LogView() = default;

QStringList LogView::lines() const
{
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(m_lines.size()));
    for (const LogSink::Line& line : m_lines)
        texts << line.text;
    return texts;
}

QStringList LogView::shownLines() const
{
    if (!m_stale)
        return QStringList(m_shown->rows().begin(), m_shown->rows().end());
    QStringList shown;
    for (const LogSink::Line& line : m_lines)
        if (isShown(line))
            shown << line.text;
    return shown;
}

bool LogView::showsFrames() const
{
    return m_showFrames->isChecked();
}

void LogView::setShowFrames(bool show)
{
    if (m_showFrames->isChecked() != show) {
        m_showFrames->setChecked(show); // comes back here through toggled()
        return;
    }
    rebuild();
}

bool LogView::isShown(const LogSink::Line& line) const
{
    return !line.frame || m_showFrames->isChecked();
}

void LogView::linesWaiting()
{
    if (!m_batch->isActive())
        m_batch->start();
}

void LogView::takeLines()
{
    m_batch->stop();
    QList<LogSink::Line> batch = m_sink.take();
    if (batch.isEmpty())
        return;
    // Only the last MaxLines of a batch can stay.
    const qsizetype first = qMax<qsizetype>(0, batch.size() - MaxLines);
    // Hidden, the view only keeps the lines; they are shown when it is shown again.
    const bool visible = isVisible();
    QStringList shown;
    for (qsizetype i = first; i < batch.size(); ++i) {
        LogSink::Line& line = batch[i];
        if (visible && isShown(line))
            shown << line.text;
        m_lines.push_back(std::move(line));
    }
    while (m_lines.size() > static_cast<size_t>(MaxLines))
        m_lines.pop_front();

    if (!visible) {
        m_stale = true;
        return;
    }
    if (m_stale) {
        rebuild();
        return;
    }
    if (shown.isEmpty())
        return;
    // Follows the log unless the user has scrolled back to read.
    QScrollBar* bar = m_list->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    m_shown->append(std::move(shown));
    if (atEnd)
        m_list->scrollToBottom();
}

void LogView::rebuild()
{
    m_stale = true;
    m_shown->reset(shownLines());
    m_list->scrollToBottom();
    m_stale = false;
}

void LogView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_stale)
        rebuild();
}

void LogView::clear()
{
    m_sink.take();
    m_lines.clear();
    m_shown->reset({});
    m_stale = false;
}

void LogView::copySelection()
{
    QModelIndexList selected = m_list->selectionModel()->selectedRows();
    std::sort(selected.begin(), selected.end());
    QStringList texts;
    for (const QModelIndex& index : selected)
        texts << index.data().toString();
    QGuiApplication::clipboard()->setText(texts.join(QLatin1Char('\n')));
}

bool LogView::saveTo(const QString& fileName, QString* error)
{
    // Put in place only when every line reached the disk: a full disk leaves an older
    // file as it was.
    QByteArray text;
    for (const QString& line : shownLines())
        text += line.toLocal8Bit() + '\n';
    return FileTarget::replace(fileName, text, error);
}

void LogView::saveClicked()
{
    const QString fileName = QFileDialog::getSaveFileName(
        this, tr("Save log"), QStringLiteral("./ziro-bldc.log"), tr("Log files (*.log *.txt)"));
    if (fileName.isEmpty())
        return;
    QString error;
    if (!saveTo(fileName, &error))
        DebugLine() << "could not save the log:" << fileName << error;
}

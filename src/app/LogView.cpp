#include "app/LogView.h"

#include "comm/DebugLine.h"
#include "config/FileTarget.h"

#include <QAction>
#include <QBoxLayout>
#include <QCheckBox>
#include <QClipboard>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

LogView::LogView(LogSink& sink, QWidget* parent) : QWidget(parent), m_sink(sink)
{
    m_model = new LogModel(this);
    m_list = new QListView;
    m_list->setObjectName(QStringLiteral("lstLog"));
    m_list->setModel(m_model);
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_list->setTextElideMode(Qt::ElideNone);
    m_model->setFont(m_list->font());
    // Two lines at least: the dock takes its height from the window's, not the window from
    // the screen (on a 1280 x 720 screen the status bar stays in view).
    m_list->setMinimumHeight(2 * QFontMetrics(m_list->font()).lineSpacing() +
                             2 * m_list->frameWidth() + 4);
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
    connect(&m_sink, &LogSink::linesWaiting, this, &LogView::batchLines, Qt::QueuedConnection);
    connect(m_showFrames, &QCheckBox::toggled, this, &LogView::setShowFrames);
    connect(m_clear, &QPushButton::clicked, this, &LogView::clear);
    connect(m_save, &QPushButton::clicked, this, &LogView::saveClicked);

    // What was written before the view existed.
    takeLines();
}

LogView::~LogView() = default;

QStringList LogView::lines() const
{
    return m_model->lines();
}

QStringList LogView::shownLines() const
{
    return m_model->shownLines();
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
    m_model->setShowFrames(show);
    m_list->scrollToBottom();
}

void LogView::batchLines()
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
    // Hidden, the view only keeps the lines; they are shown when it is shown again. Shown,
    // it follows the log unless the user has scrolled back to read.
    QScrollBar* bar = m_list->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    const LogModel::Change change = m_model->add(std::move(batch), isVisible());
    if (change == LogModel::Change::Rebuilt || (change == LogModel::Change::Appended && atEnd))
        m_list->scrollToBottom();
}

void LogView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_model->isStale()) {
        m_model->showKept();
        m_list->scrollToBottom();
    }
}

void LogView::clear()
{
    m_sink.take();
    m_model->clear();
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

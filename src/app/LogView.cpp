#include "LogView.h"

#include "DebugLine.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QTimer>

LogView::LogView(LogSink& sink, QWidget* parent) : QWidget(parent), m_sink(sink)
{
    m_text = new QPlainTextEdit;
    m_text->setObjectName(QStringLiteral("txtLog"));
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_text->setMaximumBlockCount(MaxLines);
    m_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
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
    layout->addWidget(m_text, 1);
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
    const QString text = m_text->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
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
    QString shown;
    for (qsizetype i = first; i < batch.size(); ++i) {
        LogSink::Line& line = batch[i];
        if (!m_stale && isShown(line)) {
            if (!shown.isEmpty())
                shown += QLatin1Char('\n');
            shown += line.text;
        }
        m_lines.push_back(std::move(line));
    }
    while (m_lines.size() > static_cast<size_t>(MaxLines))
        m_lines.pop_front();

    if (!isVisible()) {
        // Drawn when the view is shown again, from the kept lines.
        m_stale = true;
        return;
    }
    if (m_stale) {
        rebuild();
        return;
    }
    // Follows the log unless the user has scrolled back to read.
    if (!shown.isEmpty())
        m_text->appendPlainText(shown);
}

void LogView::rebuild()
{
    QStringList shown;
    for (const LogSink::Line& line : m_lines)
        if (isShown(line))
            shown << line.text;
    m_text->setPlainText(shown.join(QLatin1Char('\n')));
    m_text->verticalScrollBar()->setValue(m_text->verticalScrollBar()->maximum());
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
    m_text->clear();
    m_stale = false;
}

bool LogView::saveTo(const QString& fileName, QString* error)
{
    if (m_stale)
        rebuild();
    QSaveFile file(fileName);
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Text);
    if (ok) {
        const QString text = m_text->toPlainText();
        file.write(text.toLocal8Bit());
        if (!text.isEmpty())
            file.write("\n");
        ok = file.commit();
    }
    if (!ok && error)
        *error = file.errorString();
    return ok;
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

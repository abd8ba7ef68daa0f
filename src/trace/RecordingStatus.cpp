#include "trace/RecordingStatus.h"

#include "trace/LiveRecorder.h"

#include <QFileInfo>

RecordingStatus::RecordingStatus(LiveRecorder* recorder, QWidget* parent)
    : QLabel(parent), m_recorder(recorder)
{
    setObjectName(QStringLiteral("lblRecording"));
    connect(recorder, &LiveRecorder::recordingChanged, this, &RecordingStatus::showRecording);
    connect(recorder, &LiveRecorder::rowsWritten, this, &RecordingStatus::showRows);
    showRecording(recorder->isRecording());
}

void RecordingStatus::showRecording(bool recording)
{
    if (recording)
        showRows(m_recorder->rowCount());
    setVisible(recording);
}

void RecordingStatus::showRows(int rows)
{
    const QString name = QFileInfo(m_recorder->fileName()).fileName();
    setText(rows == 1 ? tr("Recording to %1: 1 row").arg(name)
                      : tr("Recording to %1: %2 rows").arg(name).arg(rows));
}

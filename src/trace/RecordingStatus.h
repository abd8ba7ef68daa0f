#pragma once

#include <QLabel>

class LiveRecorder;

// The status bar's word on a recording in progress: "Recording to run.csv: 120 rows".
// Hidden while nothing is recorded.
class RecordingStatus : public QLabel
{
    Q_OBJECT

public:
    explicit RecordingStatus(LiveRecorder* recorder, QWidget* parent = nullptr);

private:
    void showRows(int rows);
    void showRecording(bool recording);

    LiveRecorder* m_recorder;
};

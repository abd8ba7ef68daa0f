#pragma once

#include "comm/TraceCommand.h"
#include "config/Poller.h"

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class CsvRecorder;

// Records the live values to a CSV file while polling runs: one row per polling cycle, with
// the time since the recording began and one column per polled value (CsvRecorder writes
// the file). The trace controller says where a cycle begins and ends, the poller delivers
// the cycle's answers in between, the link's controller that the link was lost:
//
//     controller cycleStarted()              -> beginCycle()
//     poller     sampled(...)                -> takeSample(...)
//     controller cycleFinished()             -> endCycle()
//     link       stateChanged(Lost)          -> linkClosed()
//
// Every row reaches the file whole, so the file is complete whenever the recording ends:
// on stop(), on a lost link (after the row of the cycle in progress), on a write error (a
// full disk) or when the recorder is destroyed with the window. The file is created with
// the first complete cycle; until then an existing file of the name stays as it was.
class LiveRecorder : public QObject
{
    Q_OBJECT

public:
    explicit LiveRecorder(QObject* parent = nullptr);
    ~LiveRecorder() override;

    // Starts a recording into a new file (an existing one is replaced once the first cycle
    // is complete), one column for each listed value of motor/bank 0, in list order. false
    // (logged, and told by failed()) if the file cannot take a recording: a folder, a
    // device, a pipe, no such folder, a file that cannot be written. A recording in
    // progress ends first.
    // With force, a file that reads as a settings file, a script or a page is replaced.
    bool start(const QString& fileName, const QList<TraceCommand*>& traceCommands,
               bool force = false);
    // The module recorded (its port and address), for the recording's sidecar.
    void setModule(const QString& port, int address);
    // Ends the recording; the file holds the header and every row so far.
    void stop();

    bool isRecording() const;
    QString fileName() const;
    int rowCount() const;

signals:
    void recordingChanged(bool recording);
    // One more row is in the file.
    void rowsWritten(int rows);
    // The recording could not start, or ended because its file could not be written.
    void failed(const QString& fileName, const QString& reason);

public slots:
    void beginCycle();
    void takeValue(char motorBank, char type, int value);
    // Only a sample the module answered with status 100 on a clean line is a value to
    // record; the field of any other stays empty.
    void takeSample(const PollSample& sample);
    void endCycle();
    // The link was lost: the cycle in progress still gets its row (values that did not
    // come stay empty), then the recording ends.
    void linkClosed();

private:
    void finish(const char* why);

    std::unique_ptr<CsvRecorder> m_csv;
    QString m_port;
    int m_address = 0;
    bool m_inCycle = false;
    bool m_linkLost = false;
};

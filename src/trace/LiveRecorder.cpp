#include "trace/LiveRecorder.h"

#include "comm/DebugLine.h"
#include "config/CsvRecorder.h"

LiveRecorder::LiveRecorder(QObject* parent) : QObject(parent) {}

// The file is closed with its last complete row.
LiveRecorder::~LiveRecorder() = default;

bool LiveRecorder::start(const QString& fileName, const QList<TraceCommand*>& traceCommands,
                         bool force)
{
    if (isRecording())
        stop();
    QList<vokt::ParameterNumber> numbers;
    for (const TraceCommand* record : traceCommands)
        if (record->motorBank() == 0 && !numbers.contains(record->type()))
            numbers << record->type();
    auto csv = std::make_unique<CsvRecorder>(numbers);
    csv->setModule(m_port, m_address);
    if (!csv->open(fileName, force)) {
        DebugLine() << "could not record live values to: " << fileName << csv->errorString();
        emit failed(fileName, csv->errorString());
        return false;
    }
    m_csv = std::move(csv);
    m_inCycle = false;
    m_linkLost = false;
    DebugLine() << "recording live values to: " << fileName;
    emit recordingChanged(true);
    return true;
}

void LiveRecorder::stop()
{
    finish("recording stopped: ");
}

void LiveRecorder::setModule(const QString& port, int address)
{
    m_port = port;
    m_address = address;
}

bool LiveRecorder::isRecording() const
{
    return m_csv != nullptr;
}

QString LiveRecorder::fileName() const
{
    return m_csv ? m_csv->fileName() : QString();
}

int LiveRecorder::rowCount() const
{
    return m_csv ? m_csv->rowCount() : 0;
}

void LiveRecorder::beginCycle()
{
    if (!m_csv)
        return;
    m_csv->beginCycle();
    m_inCycle = true;
}

void LiveRecorder::takeValue(char motorBank, char type, int value)
{
    if (m_csv && m_inCycle && motorBank == 0)
        m_csv->setValue(static_cast<quint8>(type), value);
}

void LiveRecorder::takeSample(const PollSample& sample)
{
    if (sample.ok())
        takeValue(static_cast<char>(sample.motorBank), static_cast<char>(sample.type),
                  sample.value);
}

void LiveRecorder::endCycle()
{
    if (!m_csv || !m_inCycle)
        return;
    m_inCycle = false;
    const int rows = m_csv->rowCount();
    // The row of a cycle in which the link was lost is not a complete cycle.
    if (!m_csv->endCycle(!m_linkLost)) {
        const QString fileName = m_csv->fileName();
        const QString reason = m_csv->errorString();
        DebugLine() << "could not write the recording: " << fileName << reason;
        finish("recording stopped: ");
        emit failed(fileName, reason);
        return;
    }
    if (m_csv->rowCount() != rows)
        emit rowsWritten(m_csv->rowCount());
    if (m_linkLost)
        finish("recording ended, the link was lost: ");
}

void LiveRecorder::linkClosed()
{
    if (!m_csv)
        return;
    // Within a cycle the handler goes on through the list; the row is written at its end.
    if (m_inCycle)
        m_linkLost = true;
    else
        finish("recording ended, the link was lost: ");
}

void LiveRecorder::finish(const char* why)
{
    if (!m_csv)
        return;
    const std::unique_ptr<CsvRecorder> csv = std::move(m_csv);
    csv->close();
    m_inCycle = false;
    m_linkLost = false;
    DebugLine() << why << QString::number(csv->rowCount()) << " rows in " << csv->fileName();
    if (!csv->fileWritten())
        DebugLine() << "no complete cycle recorded; file not written: " << csv->fileName();
    emit recordingChanged(false);
}

#pragma once

#include <QColor>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <vector>

// One curve of a chart area: the live value of one motor/bank and axis parameter, its
// legend name and colour, and the samples received, oldest first. At most `capacity`
// samples are kept; a new sample beyond that pushes out the oldest one. A sample may carry
// the time it was taken (milliseconds on the chart area's clock); NoTime marks one that
// does not. A chart is a value: a copy keeps the samples as they are now.
class Chart
{
public:
    // Values of this format carry the 32 bits of an IEEE-754 single-precision number.
    static constexpr int FloatFormat = 135;
    static constexpr int IntegerFormat = 2;
    static constexpr qint64 NoTime = -1;

    Chart(char motorBank, char type, int valueFormat, const QString& name);
    Chart(char motorBank, char type, const QString& name);
    Chart(char motorBank, char type);

    char motorBank() const { return m_motorBank; }
    char type() const { return m_type; }
    int valueFormat() const { return m_valueFormat; }
    QString name() const { return m_name; }
    QColor color() const { return m_color; }
    int capacity() const { return m_capacity; }

    // A copy of the samples, oldest first.
    QList<double> samples() const;
    int sampleCount() const { return static_cast<int>(m_samples.size()); }
    // Sample `index` counted from the oldest (0) to the newest (sampleCount() - 1).
    double sample(int index) const
    {
        size_t at = m_oldest + static_cast<size_t>(index);
        if (at >= m_samples.size())
            at -= m_samples.size();
        return m_samples[at];
    }
    // The time sample `index` was taken, or NoTime.
    qint64 time(int index) const
    {
        size_t at = m_oldest + static_cast<size_t>(index);
        if (at >= m_times.size())
            at -= m_times.size();
        return m_times[at];
    }

    void setColor(const QColor& color) { m_color = color; }
    // Keeps at most n samples (dropping the oldest); n below 1 is ignored.
    void setCapacity(int n);
    // Appends v; into a full buffer it takes the place of the oldest sample.
    void addSample(double v, qint64 time = NoTime);
    void clearSamples();

private:
    // Puts the oldest sample first in storage again.
    void unwrap();

    char m_motorBank;
    char m_type;
    int m_valueFormat;
    QString m_name;
    // A ring: while the buffer is not full the samples lie in order from the front; once
    // it is full, each new sample overwrites the oldest and m_oldest moves on by one.
    std::vector<double> m_samples;
    // The samples' times, in the same places.
    std::vector<qint64> m_times;
    size_t m_oldest = 0;
    QColor m_color;
    int m_capacity = 100;
};

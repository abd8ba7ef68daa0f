#include "trace/Chart.h"

#include <algorithm>

Chart::Chart(char motorBank, char type, int valueFormat, const QString& name)
    : m_motorBank(motorBank), m_type(type), m_valueFormat(valueFormat), m_name(name)
{
}

Chart::Chart(char motorBank, char type, const QString& name)
    : Chart(motorBank, type, IntegerFormat, name)
{
}

Chart::Chart(char motorBank, char type)
    : Chart(motorBank, type, IntegerFormat, QStringLiteral("unknown"))
{
}

QList<double> Chart::samples() const
{
    QList<double> copy;
    copy.reserve(sampleCount());
    for (int i = 0; i < sampleCount(); ++i)
        copy.append(sample(i));
    return copy;
}

void Chart::setCapacity(int n)
{
    if (n < 1)
        return;
    unwrap();
    m_capacity = n;
    const size_t capacity = static_cast<size_t>(n);
    if (m_samples.size() > capacity) {
        const auto drop = static_cast<ptrdiff_t>(m_samples.size() - capacity);
        m_samples.erase(m_samples.begin(), m_samples.begin() + drop);
        m_times.erase(m_times.begin(), m_times.begin() + drop);
    }
}

void Chart::addSample(double v, qint64 time)
{
    if (m_samples.size() < static_cast<size_t>(m_capacity)) {
        // Not full: the samples lie in order, so the new one goes at the end.
        m_samples.push_back(v);
        m_times.push_back(time);
        return;
    }
    m_samples[m_oldest] = v;
    m_times[m_oldest] = time;
    if (++m_oldest == m_samples.size())
        m_oldest = 0;
}

void Chart::clearSamples()
{
    m_samples.clear();
    m_times.clear();
    m_oldest = 0;
}

void Chart::unwrap()
{
    const auto oldest = static_cast<ptrdiff_t>(m_oldest);
    std::rotate(m_samples.begin(), m_samples.begin() + oldest, m_samples.end());
    std::rotate(m_times.begin(), m_times.begin() + oldest, m_times.end());
    m_oldest = 0;
}

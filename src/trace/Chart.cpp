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
    if (m_samples.size() > capacity)
        m_samples.erase(m_samples.begin(), m_samples.end() - static_cast<ptrdiff_t>(capacity));
}

void Chart::addSample(double v)
{
    if (m_samples.size() < static_cast<size_t>(m_capacity)) {
        // Not full: the samples lie in order, so the new one goes at the end.
        m_samples.push_back(v);
        return;
    }
    m_samples[m_oldest] = v;
    if (++m_oldest == m_samples.size())
        m_oldest = 0;
}

void Chart::clearSamples()
{
    m_samples.clear();
    m_oldest = 0;
}

void Chart::unwrap()
{
    std::rotate(m_samples.begin(), m_samples.begin() + static_cast<ptrdiff_t>(m_oldest),
                m_samples.end());
    m_oldest = 0;
}

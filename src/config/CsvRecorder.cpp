#include "CsvRecorder.h"

#include "ParameterCatalogue.h"

const QString CsvRecorder::TimeColumn = QStringLiteral("time_ms");

QString CsvRecorder::field(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

CsvRecorder::CsvRecorder(const QList<int>& numbers) : m_numbers(numbers), m_values(numbers.size())
{
}

CsvRecorder::~CsvRecorder()
{
    close();
}

QStringList CsvRecorder::header() const
{
    QStringList fields{TimeColumn};
    for (int number : m_numbers)
        fields << ParameterCatalogue::nameOf(number);
    return fields;
}

bool CsvRecorder::open(const QString& fileName)
{
    close();
    m_rows = 0;
    m_file.setFileName(fileName);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = m_file.errorString();
        return false;
    }
    if (!writeLine(header())) {
        close();
        return false;
    }
    m_clock.start();
    m_rowTime = 0;
    return true;
}

void CsvRecorder::close()
{
    if (m_file.isOpen())
        m_file.close();
}

void CsvRecorder::beginCycle()
{
    m_rowTime = m_clock.isValid() ? m_clock.elapsed() : 0;
    for (std::optional<qint32>& value : m_values)
        value.reset();
}

void CsvRecorder::setValue(int number, qint32 value)
{
    for (int i = 0; i < m_numbers.size(); ++i)
        if (m_numbers.at(i) == number)
            m_values[i] = value;
}

bool CsvRecorder::endCycle()
{
    QStringList fields{QString::number(m_rowTime)};
    for (const std::optional<qint32>& value : std::as_const(m_values))
        fields << (value ? QString::number(*value) : QString());
    if (!writeLine(fields))
        return false;
    ++m_rows;
    return true;
}

bool CsvRecorder::writeLine(const QStringList& fields)
{
    if (!m_file.isOpen()) {
        m_error = QStringLiteral("the file is not open");
        return false;
    }
    QStringList escaped;
    for (const QString& field : fields)
        escaped << CsvRecorder::field(field);
    const QByteArray line = (escaped.join(QLatin1Char(',')) + QLatin1Char('\n')).toUtf8();
    const qint64 before = m_file.pos();
    // One write and a flush: the row reaches the file whole, or is taken back.
    if (m_file.write(line) != line.size() || !m_file.flush()) {
        m_error = m_file.errorString();
        m_file.resize(before);
        m_file.seek(before);
        return false;
    }
    return true;
}

#include "config/CsvRecorder.h"

#include "config/FileKind.h"
#include "config/FileTarget.h"
#include "config/ParameterCatalogue.h"
#include "config/Version.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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

CsvRecorder::CsvRecorder(const QList<vokt::ParameterNumber>& numbers)
    : m_numbers(numbers), m_values(numbers.size())
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

bool CsvRecorder::open(const QString& fileName, bool force)
{
    close();
    m_rows = 0;
    m_created = false;
    m_fileName = fileName;
    const QString problem = FileKind::targetProblem(fileName, FileKind::Kind::Other, force);
    if (!problem.isEmpty()) {
        m_error = problem;
        return false;
    }
    const QString sidecarProblem =
        FileKind::targetProblem(sidecarName(fileName), FileKind::Kind::Other, force);
    if (!sidecarProblem.isEmpty()) {
        m_error = QStringLiteral("%1: %2").arg(sidecarName(fileName), sidecarProblem);
        return false;
    }
    m_recording = true;
    m_started = QDateTime::currentDateTime();
    m_clock.start();
    m_rowTime = 0;
    return true;
}

void CsvRecorder::close()
{
    m_recording = false;
    if (m_file.isOpen())
        m_file.close();
}

void CsvRecorder::beginCycle()
{
    m_rowTime = m_clock.isValid() ? m_clock.elapsed() : 0;
    for (std::optional<qint32>& value : m_values)
        value.reset();
}

void CsvRecorder::setValue(vokt::ParameterNumber number, qint32 value)
{
    for (int i = 0; i < m_numbers.size(); ++i)
        if (m_numbers.at(i) == number)
            m_values[i] = value;
}

bool CsvRecorder::endCycle(bool complete)
{
    if (!m_recording)
        return fail(QStringLiteral("the recording is over"));
    QStringList fields{QString::number(m_rowTime)};
    for (const std::optional<qint32>& value : std::as_const(m_values))
        fields << (value ? QString::number(*value) : QString());
    const QByteArray row = line(fields);

    if (!m_file.isOpen()) {
        if (!complete)
            return true;
        // The header and the first row replace whatever the file held, in one piece; what
        // the recording is goes beside it first.
        QString why;
        if (!FileTarget::replace(sidecarName(m_fileName), sidecar(), &why))
            return fail(QStringLiteral("%1: %2").arg(sidecarName(m_fileName), why));
        if (!FileTarget::replace(m_fileName, line(header()) + row, &why))
            return fail(why);
        m_created = true;
        m_file.setFileName(m_fileName);
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
            return fail(m_file.errorString());
        ++m_rows;
        return true;
    }

    // The row reaches the file whole, or what got there of it is taken back.
    const qint64 before = m_file.size();
    QString why;
    if (!FileTarget::writeAll(m_file, row, &why)) {
        m_file.resize(before);
        return fail(why);
    }
    ++m_rows;
    return true;
}

void CsvRecorder::setModule(const QString& port, int address)
{
    m_port = port;
    m_address = address;
}

QString CsvRecorder::sidecarName(const QString& fileName)
{
    return fileName + QStringLiteral(".json");
}

QByteArray CsvRecorder::sidecar() const
{
    QString program = QCoreApplication::applicationName();
    if (program.isEmpty())
        program = QStringLiteral("ziro-bldc");
    QJsonObject module;
    module.insert(QStringLiteral("port"), m_port);
    module.insert(QStringLiteral("address"), m_address);
    QJsonObject info;
    info.insert(QStringLiteral("tool"), program);
    info.insert(QStringLiteral("version"), Version::full());
    info.insert(QStringLiteral("started"),
                m_started.toOffsetFromUtc(m_started.offsetFromUtc()).toString(Qt::ISODateWithMs));
    info.insert(QStringLiteral("module"), module);
    info.insert(QStringLiteral("columns"), QJsonArray::fromStringList(header()));
    return QJsonDocument(info).toJson(QJsonDocument::Indented);
}

QByteArray CsvRecorder::line(const QStringList& fields) const
{
    QStringList escaped;
    for (const QString& field : fields)
        escaped << CsvRecorder::field(field);
    return (escaped.join(QLatin1Char(',')) + QLatin1Char('\n')).toUtf8();
}

bool CsvRecorder::fail(const QString& why)
{
    m_error = why;
    close();
    return false;
}

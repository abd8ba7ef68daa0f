#include "config/SettingsComparison.h"

#include "comm/DebugLine.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "config/CsvRecorder.h"
#include "config/FileTarget.h"
#include "config/InputText.h"
#include "config/ParameterCatalogue.h"
#include "config/SettingsFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace SettingsComparison {

namespace {

const ParameterCatalogue::ConfigurationParameter& parameter(int index)
{
    return ParameterCatalogue::configuration().at(index);
}

int configurationSize()
{
    return static_cast<int>(ParameterCatalogue::configuration().size());
}

} // namespace

QString Value::shown() const
{
    switch (state) {
    case Number:
        return QString::number(number);
    case Missing:
        return QStringLiteral("(missing)");
    case NotANumber:
        break;
    }
    return QStringLiteral("(not a whole number: \"%1\")").arg(InputText::shown(text));
}

QString kindText(Kind kind)
{
    switch (kind) {
    case Kind::Same:
        return QStringLiteral("same");
    case Kind::Differs:
        return QStringLiteral("differs");
    case Kind::Missing:
        return QStringLiteral("missing");
    case Kind::NotANumber:
        break;
    }
    return QStringLiteral("not a whole number");
}

Kind Row::kind() const
{
    if (first.isNumber() && second.isNumber())
        return first.number == second.number ? Kind::Same : Kind::Differs;
    // Two files that lack the same key, or hold the same text that is no number, agree.
    if (first.state == second.state && first.text == second.text)
        return Kind::Same;
    if (first.state == Value::Missing || second.state == Value::Missing)
        return Kind::Missing;
    return Kind::NotANumber;
}

QString Row::group() const
{
    return QLatin1String(ParameterCatalogue::sections().at(parameter(index).section).group);
}

QString Row::key() const
{
    return QLatin1String(parameter(index).key);
}

vokt::ParameterNumber Row::number() const
{
    return parameter(index).number;
}

QString Row::name() const
{
    return group() + QLatin1Char('/') + key();
}

Rows compare(const QList<Value>& first, const QList<Value>& second)
{
    Rows rows;
    for (int i = 0; i < configurationSize(); ++i)
        rows.append({i, first.value(i), second.value(i)});
    return rows;
}

int differences(const Rows& rows)
{
    return static_cast<int>(
        std::count_if(rows.cbegin(), rows.cend(), [](const Row& row) { return row.differs(); }));
}

int changes(const Rows& rows)
{
    return static_cast<int>(std::count_if(
        rows.cbegin(), rows.cend(), [](const Row& row) { return row.kind() == Kind::Differs; }));
}

Rows differencesFirst(const Rows& rows)
{
    Rows ordered;
    for (const Row& row : rows)
        if (row.differs())
            ordered.append(row);
    for (const Row& row : rows)
        if (!row.differs())
            ordered.append(row);
    return ordered;
}

QString verdict(const Rows& rows, const QString& fileName)
{
    const int count = differences(rows);
    if (count == 0)
        return QStringLiteral("matches %1").arg(fileName);
    return count == 1 ? QStringLiteral("1 difference")
                      : QStringLiteral("%1 differences").arg(count);
}

QStringList differenceLines(const Rows& rows)
{
    QStringList lines;
    for (const Row& row : rows)
        if (row.differs())
            lines << QStringLiteral("%1\t%2\t%3")
                         .arg(row.name(), row.first.shown(), row.second.shown());
    return lines;
}

std::optional<QList<Value>> readFile(const QString& fileName, QString* why)
{
    const auto fail = [why](const QString& reason) {
        *why = reason;
        return std::nullopt;
    };
    // Only a regular file, opened without blocking: a pipe is refused, not waited on.
    QByteArray content;
    QString problem;
    if (!FileTarget::read(fileName, SettingsFile::MaxFileSize, &content, &problem))
        return fail(problem.startsWith(QLatin1String("cannot be read")) ||
                            problem == QLatin1String("is a folder")
                        ? problem
                        : QStringLiteral("cannot be read: %1").arg(problem));
    // The lines, and what the settings class makes of them.
    QSettings settings(fileName, QSettings::IniFormat);
    if (!SettingsFile::readsAsSettings(content) || settings.status() != QSettings::NoError)
        return fail(QStringLiteral("is not a settings file"));

    QList<Value> values;
    bool anyKey = false;
    for (const ParameterCatalogue::ConfigurationParameter& p :
         ParameterCatalogue::configuration()) {
        const QString key = QLatin1String(ParameterCatalogue::sections().at(p.section).group) +
                            QLatin1Char('/') + QLatin1String(p.key);
        Value value;
        if (settings.contains(key)) {
            anyKey = true;
            const std::optional<qint32> number = SettingsFile::valueOf(settings, key);
            const QVariant text = settings.value(key);
            // The settings class reads a value with commas as a list.
            value = number ? Value::of(*number)
                           : Value{Value::NotANumber, 0,
                                   text.typeId() == QMetaType::QStringList
                                       ? text.toStringList().join(QLatin1Char(','))
                                       : text.toString()};
        }
        values.append(value);
    }
    if (!anyKey)
        return fail(QStringLiteral("holds none of the %1 settings keys").arg(configurationSize()));
    return values;
}

std::optional<QList<qint32>> readModule(SerialUSBCommandHandler& handler,
                                        const ModuleExchange::Progress& progress, QString* why)
{
    why->clear();
    const auto fail = [why](const QString& reason) {
        *why = reason;
        DebugLine() << "reading the module's settings failed: " << reason;
        return std::nullopt;
    };
    if (!handler.isOpen())
        return fail(QStringLiteral("the link is closed"));
    SerialUSBCommandHandler::Batch batch(handler);
    QList<qint32> values;
    const int total = configurationSize();
    for (const ParameterCatalogue::ConfigurationParameter& p :
         ParameterCatalogue::configuration()) {
        const SerialUSBCommandHandler::Outcome outcome =
            handler.exchange(vokt::GetAxisParameter, p.number, 0, 0);
        if (!outcome.reply)
            return fail(QStringLiteral("parameter %1: %2")
                            .arg(p.number)
                            .arg(SerialUSBCommandHandler::failureText(outcome.failure)));
        if (outcome.reply->status() != vokt::StatusOk)
            return fail(QStringLiteral("parameter %1: refused by the module (status %2)")
                            .arg(p.number)
                            .arg(outcome.reply->status()));
        values.append(outcome.reply->value());
        DebugLine() << QLatin1String(p.key) << " = " << QString::number(outcome.reply->value());
        const int done = static_cast<int>(values.size());
        if (!ModuleExchange::carryOn(progress, done, total) && done < total) {
            DebugLine() << "reading the module's settings cancelled after " << QString::number(done)
                        << " of " << QString::number(total) << " parameters";
            return std::nullopt;
        }
    }
    // A value may be the answer to another parameter's request.
    if (!batch.isClean())
        return fail(QStringLiteral("the line is not clean"));
    return values;
}

QList<std::optional<qint32>> writeValues(SerialUSBCommandHandler& handler,
                                         const QList<Assignment>& assignments,
                                         const ModuleExchange::Progress& progress,
                                         QList<std::optional<quint8>>* statuses)
{
    QList<std::optional<qint32>> readBack;
    if (statuses)
        statuses->clear();
    // The read-back goes through the slot, so that every panel hears it; its answer is
    // taken from the same signal.
    std::optional<qint32> answer;
    int asked = -1;
    const QMetaObject::Connection listening =
        QObject::connect(&handler, &SerialUSBCommandHandler::requestedValue,
                         [&answer, &asked](char motorBank, char type, int value) {
                             if (motorBank == 0 && static_cast<quint8>(type) == asked)
                                 answer = value;
                         });
    const int total = static_cast<int>(assignments.size());
    for (const Assignment& assignment : assignments) {
        const SerialUSBCommandHandler::Outcome outcome =
            handler.exchange(vokt::SetAxisParameter, assignment.number, 0, assignment.value);
        if (!outcome.reply) {
            DebugLine() << "could not set parameter " << QString::number(assignment.number);
            break;
        }
        DebugLine() << ParameterCatalogue::nameOf(assignment.number) << " = "
                    << QString::number(assignment.value) << "("
                    << QString::number(static_cast<qint8>(outcome.reply->status())) << ")";
        if (statuses)
            statuses->append(outcome.reply->status());
        answer.reset();
        asked = assignment.number;
        handler.getAxisParameter(0, static_cast<char>(assignment.number));
        readBack.append(answer);
        const int done = static_cast<int>(readBack.size());
        if (!ModuleExchange::carryOn(progress, done, total) && done < total) {
            DebugLine() << "writing values cancelled after " << QString::number(done) << " of "
                        << QString::number(total);
            break;
        }
    }
    QObject::disconnect(listening);
    while (readBack.size() < assignments.size())
        readBack.append(std::nullopt);
    while (statuses && statuses->size() < assignments.size())
        statuses->append(std::nullopt);
    return readBack;
}

QByteArray csv(const Rows& rows, const QString& firstTitle, const QString& secondTitle)
{
    QStringList lines{QStringList{QStringLiteral("section"), QStringLiteral("key"),
                                  QStringLiteral("number"), CsvRecorder::field(firstTitle),
                                  CsvRecorder::field(secondTitle), QStringLiteral("result")}
                          .join(QLatin1Char(','))};
    for (const Row& row : rows)
        lines << QStringList{row.group(),
                             row.key(),
                             QString::number(row.number()),
                             CsvRecorder::field(row.first.shown()),
                             CsvRecorder::field(row.second.shown()),
                             kindText(row.kind())}
                     .join(QLatin1Char(','));
    return (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
}

} // namespace SettingsComparison

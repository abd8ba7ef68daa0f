#include "config/SettingsFile.h"

#include "comm/DebugLine.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/VOKTUSBReply.h"
#include "config/FileKind.h"
#include "config/FileTarget.h"
#include "config/InputText.h"
#include "config/ModuleExchange.h"
#include "config/ParameterCatalogue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QMap>
#include <QSettings>
#include <QTemporaryFile>

#include <limits>
#include <memory>

namespace SettingsFile {

namespace {

// Parameter numbers travel as char; the log and the files show them as 0 to 255.
QString numberText(vokt::ParameterNumber number)
{
    return QString::number(number);
}

} // namespace

bool readsAsSettings(const QByteArray& content)
{
    if (content.size() > MaxFileSize || content.contains('\0'))
        return false;
    bool entries = false;
    const QByteArray text = content.startsWith("\xEF\xBB\xBF") ? content.mid(3) : content;
    for (const QByteArray& raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            if (!line.endsWith(']'))
                return false;
        } else {
            const qsizetype equals = line.indexOf('=');
            if (equals < 0 || line.left(equals).trimmed().isEmpty())
                return false;
        }
        entries = true;
    }
    return entries;
}

namespace {

// The content of the file an export is to merge into: empty for a new or empty file, and,
// with force, for a file that is no settings file (it is replaced whole). false, with the
// reason, when the file cannot take an export.
bool readTarget(const QString& fileName, bool force, QByteArray* content, QString* why)
{
    content->clear();
    *why = FileTarget::problem(fileName);
    if (!why->isEmpty())
        return false;
    if (!QFileInfo::exists(fileName))
        return true;
    if (!FileTarget::read(fileName, MaxFileSize, content, why)) {
        *why = QStringLiteral("cannot be read: %1").arg(*why);
        return false;
    }
    if (content->trimmed().isEmpty())
        return true;
    // What the lines say, and what the settings class makes of them.
    if (!readsAsSettings(*content) ||
        QSettings(fileName, QSettings::IniFormat).status() != QSettings::NoError) {
        if (force) {
            content->clear();
            return true;
        }
        *why = QStringLiteral("is not a settings file");
        return false;
    }
    return true;
}

// A temporary file beside fileName holding content, removed with the object; nullptr,
// with the reason, when it cannot be written whole.
std::unique_ptr<QTemporaryFile> scratchCopy(const QString& fileName, const QByteArray& content,
                                            QString* why)
{
    const QFileInfo info(fileName);
    auto scratch = std::make_unique<QTemporaryFile>(info.absoluteDir().filePath(
        QLatin1Char('.') + info.fileName() + QStringLiteral(".XXXXXX")));
    if (!scratch->open()) {
        *why = scratch->errorString();
        return nullptr;
    }
    scratch->close();
    QFile file(scratch->fileName());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered) ||
        !FileTarget::writeAll(file, content, why)) {
        if (why->isEmpty())
            *why = file.errorString();
        return nullptr;
    }
    return scratch;
}

// The existing text with every key of the configuration set to its value, line by line:
// a key's line keeps its place (and whatever stands before its "="), a key the file lacks
// goes after the last key of its group, a group the file lacks at the end. Every other
// line (comments, blank lines, other groups and keys, a byte order mark, the line ends)
// stays as it was.
QByteArray mergedText(const QByteArray& existing, const QList<qint32>& values)
{
    const QByteArray bom("\xEF\xBB\xBF");
    const bool hasBom = existing.startsWith(bom);
    const QByteArray text = hasBom ? existing.mid(bom.size()) : existing;
    const QByteArray eol = text.contains("\r\n") ? QByteArray("\r\n") : QByteArray("\n");
    QList<QByteArray> lines = text.split('\n');
    // The split leaves an empty last piece after the final line end.
    const bool endsWithEol = text.isEmpty() || text.endsWith('\n');
    if (endsWithEol)
        lines.removeLast();
    for (QByteArray& line : lines)
        if (line.endsWith('\r'))
            line.chop(1);

    const QList<ParameterCatalogue::ConfigurationParameter>& table =
        ParameterCatalogue::configuration();
    const auto groupOf = [&table](int i) {
        return QByteArray(ParameterCatalogue::sections().at(table.at(i).section).group);
    };
    QList<bool> found(table.size(), false);
    // The line after which a group's missing keys go: its last key, or its header.
    QMap<QByteArray, int> groupEnd;
    QByteArray group;
    for (int n = 0; n < lines.size(); ++n) {
        const QByteArray trimmed = lines.at(n).trimmed();
        if (trimmed.startsWith('[') && trimmed.endsWith(']')) {
            group = trimmed.mid(1, trimmed.size() - 2).trimmed();
            groupEnd[group] = n;
            continue;
        }
        if (trimmed.isEmpty() || trimmed.startsWith(';') || trimmed.startsWith('#'))
            continue;
        const qsizetype equals = lines.at(n).indexOf('=');
        if (equals < 0)
            continue;
        groupEnd[group] = n;
        const QByteArray key = lines.at(n).left(equals).trimmed();
        for (int i = 0; i < table.size(); ++i) {
            if (key == table.at(i).key && group == groupOf(i)) {
                lines[n] = lines.at(n).left(equals + 1) + QByteArray::number(values.at(i));
                found[i] = true;
            }
        }
    }
    // What goes after a line of the file, and the groups it lacks.
    QMap<int, QList<QByteArray>> after;
    QList<QByteArray> newGroups;
    QMap<QByteArray, QList<QByteArray>> newKeys;
    for (int i = 0; i < table.size(); ++i) {
        if (found.at(i))
            continue;
        const QByteArray line =
            QByteArray(table.at(i).key) + '=' + QByteArray::number(values.at(i));
        if (groupEnd.contains(groupOf(i))) {
            after[groupEnd.value(groupOf(i))].append(line);
        } else {
            if (!newKeys.contains(groupOf(i)))
                newGroups.append(groupOf(i));
            newKeys[groupOf(i)].append(line);
        }
    }
    QList<QByteArray> out;
    for (int n = 0; n < lines.size(); ++n) {
        out.append(lines.at(n));
        out.append(after.value(n));
    }
    for (const QByteArray& name : std::as_const(newGroups)) {
        if (!out.isEmpty() && !out.constLast().trimmed().isEmpty())
            out.append(QByteArray());
        out.append('[' + name + ']');
        out.append(newKeys.value(name));
    }
    return (hasBom ? bom : QByteArray()) + out.join(eol) + eol;
}

const QString NotReadBack =
    QStringLiteral("the settings class does not read the merged file back as written");

// The settings file that the existing content becomes with the values set. Its text is
// read back by the settings class from a copy beside the file and must give every key of
// the configuration its value, so that what is written is what a later import reads.
bool merge(const QString& fileName, const QByteArray& existing, const QList<qint32>& values,
           QByteArray* merged, QString* why)
{
    *merged = mergedText(existing, values);
    const std::unique_ptr<QTemporaryFile> check = scratchCopy(fileName, *merged, why);
    if (!check)
        return false;
    QSettings readBack(check->fileName(), QSettings::IniFormat);
    bool complete = readBack.status() == QSettings::NoError;
    const QList<ParameterCatalogue::ConfigurationParameter>& table =
        ParameterCatalogue::configuration();
    for (int i = 0; complete && i < table.size(); ++i) {
        readBack.beginGroup(
            QLatin1String(ParameterCatalogue::sections().at(table.at(i).section).group));
        complete = valueOf(readBack, QLatin1String(table.at(i).key)) == values.at(i);
        readBack.endGroup();
    }
    if (!complete) {
        *why = NotReadBack;
        return false;
    }
    return true;
}

} // namespace

QString targetProblem(const QString& fileName, bool force)
{
    QByteArray content;
    QString why;
    QByteArray merged;
    if (!readTarget(fileName, force, &content, &why))
        return why;
    // A file whose merge the settings class would not read back is refused before anything
    // is read; one that cannot be written is found when it is written.
    if (!merge(fileName, content, QList<qint32>(ParameterCatalogue::configuration().size(), 0),
               &merged, &why) &&
        why == NotReadBack)
        return why;
    return QString();
}

bool exportTo(const QString& fileName, SerialUSBCommandHandler& handler,
              const ModuleExchange::Progress& progress, QString* error, bool force)
{
    DebugLine() << "export to: " << fileName;
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };

    // Nothing is read from the module for a file that cannot take the export.
    QString why = targetProblem(fileName, force);
    if (!why.isEmpty()) {
        DebugLine() << "export refused: " << fileName << why;
        return fail(why);
    }

    // Every parameter is read before the file is touched, so that a link lost half-way, or
    // a cancel, leaves the file as it was rather than half old and half new.
    QList<qint32> values;
    const auto read = [&](const ParameterCatalogue::ConfigurationParameter& p, QString* failure) {
        const std::optional<qint32> value =
            exportKey(handler, p.number, QLatin1String(p.key), failure);
        values.append(value.value_or(0));
        return value.has_value();
    };
    if (!ModuleExchange::readConfiguration(handler, read, progress, "file left as it was", fileName,
                                           &why))
        return fail(why);

    // The file as it is now (it may have changed while the module was read) with the
    // values merged in replaces it whole, or it stays as it was.
    QByteArray existing;
    QByteArray merged;
    if (!readTarget(fileName, force, &existing, &why) ||
        !merge(fileName, existing, values, &merged, &why) ||
        !FileTarget::replace(fileName, merged, &why)) {
        DebugLine() << "export failed: could not write the settings file: " << fileName << why;
        return fail(QStringLiteral("could not be written: %1").arg(why));
    }
    return true;
}

std::optional<qint32> exportKey(SerialUSBCommandHandler& handler, vokt::ParameterNumber number,
                                const QString& key, QString* why)
{
    QString failure;
    const std::optional<qint32> value = ModuleExchange::valueRead(handler, number, &failure);
    if (why)
        *why = failure;
    if (!value) {
        DebugLine() << "could not receive parameter " << numberText(number) << " from module!";
        return std::nullopt;
    }
    DebugLine() << key << " = " << QString::number(*value);
    return value;
}

bool importFrom(const QString& fileName, SerialUSBCommandHandler& handler,
                const ModuleExchange::Progress& progress, ImportReport* report)
{
    DebugLine() << "importFileName: " << fileName;
    ImportReport local;
    ImportReport& result = report ? *report : local;
    result = ImportReport();
    const QList<ParameterCatalogue::ConfigurationParameter>& table =
        ParameterCatalogue::configuration();
    const int total = static_cast<int>(table.size());
    // A file that cannot be read holds no values: nothing may be written to the module.
    QByteArray content;
    QString why;
    if (!FileTarget::read(fileName, MaxFileSize, &content, &why)) {
        DebugLine() << "could not read the settings file: " << fileName << why;
        result.notReached = total;
        return false;
    }

    QSettings settings(fileName, QSettings::IniFormat);
    if (settings.status() == QSettings::FormatError)
        DebugLine() << "the settings file is not in INI format: " << fileName;
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
    int section = -1;
    int done = 0;
    for (const ParameterCatalogue::ConfigurationParameter& p : table) {
        if (p.section != section) {
            if (section >= 0)
                settings.endGroup();
            section = p.section;
            settings.beginGroup(QLatin1String(ParameterCatalogue::sections().at(section).group));
        }
        const QString name = settings.group() + QLatin1Char('/') + QLatin1String(p.key);
        answer.reset();
        asked = p.number;
        qint32 value = 0;
        quint8 status = 0;
        if (!valueOf(settings, QLatin1String(p.key))) {
            result.skipped << QStringLiteral("%1 (%2)").arg(name).arg(p.number);
            importKey(settings, handler, p.number, QLatin1String(p.key));
        } else if (!importKey(settings, handler, p.number, QLatin1String(p.key), &value, &status)) {
            result.notTaken << QStringLiteral("%1 = %2: not answered").arg(name).arg(value);
        } else {
            ++result.written;
            if (status != vokt::StatusOk)
                result.notTaken << QStringLiteral("%1 = %2: refused by the module (status %3)")
                                       .arg(name)
                                       .arg(value)
                                       .arg(status);
            else if (answer != value)
                result.notTaken << QStringLiteral("%1 = %2: the module answers %3")
                                       .arg(name)
                                       .arg(value)
                                       .arg(answer ? QString::number(*answer)
                                                   : QStringLiteral("nothing"));
        }
        ++done;
        if (!ModuleExchange::carryOn(progress, done, total) && done < total) {
            // The module keeps the values written so far; the later keys are not sent.
            DebugLine() << "import cancelled after " << QString::number(done) << " of "
                        << QString::number(total) << " parameters; the last one was "
                        << QString::number(p.number);
            result.notReached = total - done;
            break;
        }
    }
    QObject::disconnect(listening);
    settings.endGroup();
    return result.complete();
}

std::optional<qint32> valueOf(const QSettings& settings, const QString& key)
{
    return InputText::wholeNumber(settings.value(key).toString(),
                                  std::numeric_limits<qint32>::min(),
                                  std::numeric_limits<qint32>::max());
}

bool importKey(QSettings& settings, SerialUSBCommandHandler& handler, vokt::ParameterNumber number,
               const QString& key, qint32* written, quint8* status)
{
    if (!handler.isOpen()) {
        DebugLine() << "could not set parameter " << numberText(number);
        return false;
    }
    // Only a value the file really holds goes to the module: a missing key or text that is
    // not an integer would otherwise be written as 0.
    const std::optional<qint32> read = valueOf(settings, key);
    if (!read) {
        DebugLine() << "skipped parameter " << numberText(number) << ": no integer for "
                    << settings.group() + QLatin1Char('/') + key;
        return false;
    }
    const qint32 value = *read;
    if (written)
        *written = value;
    const std::optional<VOKTUSBReply> reply =
        handler.exchange(vokt::SetAxisParameter, number, 0, value).reply;
    if (!reply) {
        DebugLine() << "could not set parameter " << numberText(number);
        return false;
    }
    DebugLine() << key << " = " << QString::number(value) << "("
                << QString::number(static_cast<qint8>(reply->status())) << ")";
    if (status)
        *status = reply->status();
    // Read back, so that every panel showing the parameter shows what the module took.
    handler.getAxisParameter(0, static_cast<char>(number));
    return true;
}

} // namespace SettingsFile

#include "config/SettingsFile.h"

#include "comm/DebugLine.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/VOKTUSBReply.h"
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
QString numberText(char type)
{
    return QString::number(static_cast<quint8>(type));
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

// The content of the file an export is to merge into: empty for a new or empty file.
// false, with the reason, when the file cannot take an export.
bool readTarget(const QString& fileName, QByteArray* content, QString* why)
{
    content->clear();
    *why = FileTarget::problem(fileName);
    if (!why->isEmpty())
        return false;
    if (!QFileInfo::exists(fileName))
        return true;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("cannot be read: %1").arg(file.errorString());
        return false;
    }
    *content = file.read(MaxFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        *why = QStringLiteral("cannot be read: %1").arg(file.errorString());
        return false;
    }
    if (content->trimmed().isEmpty())
        return true;
    // What the lines say, and what the settings class makes of them.
    if (!readsAsSettings(*content) ||
        QSettings(fileName, QSettings::IniFormat).status() != QSettings::NoError) {
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

// Both values as the settings class reads them back from its own text.
bool sameValue(const QVariant& a, const QVariant& b)
{
    if (a.typeId() == QMetaType::QStringList || b.typeId() == QMetaType::QStringList)
        return a.toStringList() == b.toStringList();
    return a.toString() == b.toString();
}

// The settings file that the existing content becomes with the values set: the settings
// class merges them into a copy beside the file. Its own report of a failed write is not
// enough (a write that the disk cut short can go unnoticed), so the result is read back
// from a second copy and must hold every group and key with its value.
bool merge(const QString& fileName, const QByteArray& existing, const QList<qint32>& values,
           QByteArray* merged, QString* why)
{
    // The settings class reads a byte order mark but does not merge behind one.
    const QByteArray bom("\xEF\xBB\xBF");
    const std::unique_ptr<QTemporaryFile> scratch =
        scratchCopy(fileName, existing.startsWith(bom) ? existing.mid(bom.size()) : existing, why);
    if (!scratch)
        return false;
    QMap<QString, QVariant> expected;
    {
        QSettings settings(scratch->fileName(), QSettings::IniFormat);
        const QList<ParameterCatalogue::ConfigurationParameter>& table =
            ParameterCatalogue::configuration();
        for (int i = 0; i < table.size(); ++i) {
            settings.beginGroup(
                QLatin1String(ParameterCatalogue::sections().at(table.at(i).section).group));
            settings.setValue(QLatin1String(table.at(i).key), values.at(i));
            settings.endGroup();
        }
        settings.sync();
        if (settings.status() != QSettings::NoError) {
            *why = settings.status() == QSettings::FormatError
                       ? QStringLiteral("the settings class cannot read it")
                       : QStringLiteral("the copy could not be written");
            return false;
        }
        for (const QString& key : settings.allKeys())
            expected.insert(key, settings.value(key));
    }
    QFile written(scratch->fileName());
    if (!written.open(QIODevice::ReadOnly)) {
        *why = written.errorString();
        return false;
    }
    *merged = written.readAll();
    if (written.error() != QFileDevice::NoError) {
        *why = written.errorString();
        return false;
    }
    const std::unique_ptr<QTemporaryFile> check = scratchCopy(fileName, *merged, why);
    if (!check)
        return false;
    QSettings readBack(check->fileName(), QSettings::IniFormat);
    bool complete =
        readBack.status() == QSettings::NoError && readBack.allKeys().size() == expected.size();
    for (auto it = expected.cbegin(); complete && it != expected.cend(); ++it)
        complete = readBack.contains(it.key()) && sameValue(readBack.value(it.key()), it.value());
    if (!complete) {
        *why = QStringLiteral("the merged copy came out incomplete (is the disk full?)");
        return false;
    }
    return true;
}

} // namespace

QString targetProblem(const QString& fileName)
{
    QByteArray content;
    QString why;
    readTarget(fileName, &content, &why);
    return why;
}

bool exportTo(const QString& fileName, SerialUSBCommandHandler& handler,
              const ModuleExchange::Progress& progress, QString* error)
{
    DebugLine() << "export to: " << fileName;
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };

    // Nothing is read from the module for a file that cannot take the export.
    QByteArray existing;
    QString why;
    if (!readTarget(fileName, &existing, &why)) {
        DebugLine() << "export refused: " << fileName << why;
        return fail(why);
    }

    // Every parameter is read before the file is touched, so that a link lost half-way, or
    // a cancel, leaves the file as it was rather than half old and half new.
    QList<qint32> values;
    const auto read = [&](const ParameterCatalogue::ConfigurationParameter& p) {
        const std::optional<qint32> value =
            exportKey(handler, static_cast<char>(p.number), QLatin1String(p.key));
        values.append(value.value_or(0));
        return value.has_value();
    };
    if (!ModuleExchange::readConfiguration(handler, read, progress, "file left as it was", fileName,
                                           &why))
        return fail(why);

    // The file as it is now (it may have changed while the module was read) with the
    // values merged in replaces it whole, or it stays as it was.
    QByteArray merged;
    if (!readTarget(fileName, &existing, &why) ||
        !merge(fileName, existing, values, &merged, &why) ||
        !FileTarget::replace(fileName, merged, &why)) {
        DebugLine() << "export failed: could not write the settings file: " << fileName << why;
        return fail(QStringLiteral("could not be written: %1").arg(why));
    }
    return true;
}

std::optional<qint32> exportKey(SerialUSBCommandHandler& handler, char type, const QString& key)
{
    std::optional<VOKTUSBReply> reply;
    if (handler.isOpen())
        reply = handler.exchange(vokt::GetAxisParameter, static_cast<quint8>(type), 0, 0).reply;
    if (!reply) {
        DebugLine() << "could not receive parameter " << numberText(type) << " from module!";
        return std::nullopt;
    }
    DebugLine() << key << " = " << QString::number(reply->value());
    return reply->value();
}

bool importFrom(const QString& fileName, SerialUSBCommandHandler& handler,
                const ModuleExchange::Progress& progress)
{
    DebugLine() << "importFileName: " << fileName;
    // A file that cannot be read holds no values: nothing may be written to the module.
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        DebugLine() << "could not read the settings file: " << fileName << file.errorString();
        return false;
    }
    file.close();

    QSettings settings(fileName, QSettings::IniFormat);
    if (settings.status() == QSettings::FormatError)
        DebugLine() << "the settings file is not in INI format: " << fileName;
    const QList<ParameterCatalogue::ConfigurationParameter>& table =
        ParameterCatalogue::configuration();
    const int total = static_cast<int>(table.size());
    bool complete = true;
    int section = -1;
    int done = 0;
    for (const ParameterCatalogue::ConfigurationParameter& p : table) {
        if (p.section != section) {
            if (section >= 0)
                settings.endGroup();
            section = p.section;
            settings.beginGroup(QLatin1String(ParameterCatalogue::sections().at(section).group));
        }
        complete =
            importKey(settings, handler, static_cast<char>(p.number), QLatin1String(p.key)) &&
            complete;
        ++done;
        if (!ModuleExchange::carryOn(progress, done, total) && done < total) {
            // The module keeps the values written so far; the later keys are not sent.
            DebugLine() << "import cancelled after " << QString::number(done) << " of "
                        << QString::number(total) << " parameters; the last one was "
                        << QString::number(p.number);
            return false;
        }
    }
    settings.endGroup();
    return complete;
}

std::optional<qint32> valueOf(const QSettings& settings, const QString& key)
{
    return InputText::wholeNumber(settings.value(key).toString(),
                                  std::numeric_limits<qint32>::min(),
                                  std::numeric_limits<qint32>::max());
}

bool importKey(QSettings& settings, SerialUSBCommandHandler& handler, char type, const QString& key)
{
    if (!handler.isOpen()) {
        DebugLine() << "could not set parameter " << numberText(type);
        return false;
    }
    // Only a value the file really holds goes to the module: a missing key or text that is
    // not an integer would otherwise be written as 0.
    const std::optional<qint32> read = valueOf(settings, key);
    if (!read) {
        DebugLine() << "skipped parameter " << numberText(type) << ": no integer for "
                    << settings.group() + QLatin1Char('/') + key;
        return false;
    }
    const qint32 value = *read;
    const std::optional<VOKTUSBReply> reply =
        handler.exchange(vokt::SetAxisParameter, static_cast<quint8>(type), 0, value).reply;
    if (!reply) {
        DebugLine() << "could not set parameter " << numberText(type);
        return false;
    }
    DebugLine() << key << " = " << QString::number(value) << "("
                << QString::number(static_cast<qint8>(reply->status())) << ")";
    // Read back, so that every panel showing the parameter shows what the module took.
    handler.getAxisParameter(0, type);
    return true;
}

} // namespace SettingsFile

#include "SettingsFile.h"

#include "DebugLine.h"
#include "ModuleExchange.h"
#include "ParameterCatalogue.h"
#include "SerialUSBCommandHandler.h"
#include "VOKTUSBReply.h"

#include <QFile>
#include <QList>
#include <QSettings>

namespace SettingsFile {

namespace {

constexpr int GetAxisParameter = 6;
constexpr int SetAxisParameter = 5;

// Parameter numbers travel as char; the log and the files show them as 0 to 255.
QString numberText(char type)
{
    return QString::number(static_cast<quint8>(type));
}

} // namespace

bool exportTo(const QString& fileName, SerialUSBCommandHandler& handler,
              const ModuleExchange::Progress& progress)
{
    DebugLine() << "export to: " << fileName;

    // Every parameter is read before the file is touched, so that a link lost half-way, or
    // a cancel, leaves the file as it was rather than half old and half new.
    const QList<ParameterCatalogue::ConfigurationParameter>& table =
        ParameterCatalogue::configuration();
    const int total = static_cast<int>(table.size());
    SerialUSBCommandHandler::Batch batch(handler);
    QList<qint32> values;
    bool complete = true;
    for (const ParameterCatalogue::ConfigurationParameter& p : table) {
        const std::optional<qint32> value =
            exportKey(handler, static_cast<char>(p.number), QLatin1String(p.key));
        complete = complete && value.has_value();
        values.append(value.value_or(0));
        const int done = static_cast<int>(values.size());
        if (!ModuleExchange::carryOn(progress, done, total) && done < total) {
            DebugLine() << "export cancelled after " << QString::number(done) << " of "
                        << QString::number(total)
                        << " parameters; file left as it was: " << fileName;
            return false;
        }
    }
    if (!complete) {
        DebugLine() << "export failed: not every parameter could be read; file left as it was: "
                    << fileName;
        return false;
    }
    // A value may be the answer to another parameter's request.
    if (!batch.isClean()) {
        DebugLine() << "export failed: the line is not clean; file left as it was: " << fileName;
        return false;
    }

    QSettings settings(fileName, QSettings::IniFormat);
    for (int i = 0; i < table.size(); ++i) {
        settings.beginGroup(
            QLatin1String(ParameterCatalogue::sections().at(table.at(i).section).group));
        settings.setValue(QLatin1String(table.at(i).key), values.at(i));
        settings.endGroup();
    }
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        DebugLine() << "export failed: could not write the settings file: " << fileName;
        return false;
    }
    return true;
}

std::optional<qint32> exportKey(SerialUSBCommandHandler& handler, char type, const QString& key)
{
    std::unique_ptr<VOKTUSBReply> reply;
    if (handler.isOpen())
        reply = ModuleExchange::axisParameter(handler, GetAxisParameter, static_cast<quint8>(type));
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

bool importKey(QSettings& settings, SerialUSBCommandHandler& handler, char type, const QString& key)
{
    if (!handler.isOpen()) {
        DebugLine() << "could not set parameter " << numberText(type);
        return false;
    }
    // Only a value the file really holds goes to the module: a missing key or text that is
    // not an integer would otherwise be written as 0.
    bool isInteger = false;
    const qint32 value = settings.value(key).toString().toInt(&isInteger, 10);
    if (!isInteger) {
        DebugLine() << "skipped parameter " << numberText(type) << ": no integer for "
                    << settings.group() + QLatin1Char('/') + key;
        return false;
    }
    std::unique_ptr<VOKTUSBReply> reply =
        ModuleExchange::axisParameter(handler, SetAxisParameter, static_cast<quint8>(type), value);
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

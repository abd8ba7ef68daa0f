#include "cli/FileCommands.h"

#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/StopSignals.h"
#include "comm/DebugLine.h"
#include "comm/Protocol.h"
#include "config/CommandScript.h"
#include "config/ModuleExchange.h"
#include "config/ParameterCatalogue.h"
#include "config/ParameterStore.h"
#include "config/SettingsFile.h"
#include "config/Version.h"

#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSettings>

#include <memory>

namespace cli {

Action prepareExport(const QString& command, const QStringList& args, QString* error)
{
    if (args.size() != 1) {
        *error = QStringLiteral("%1 wants one file (%1 FILE)").arg(command);
        return {};
    }
    const QString fileName = args.at(0);
    const bool script = command == QLatin1String("export-script");
    if (!checkWritable(fileName, error))
        return {};
    // A settings export merges into an existing file: only into a settings file.
    const QString problem = script ? QString() : SettingsFile::targetProblem(fileName);
    if (!problem.isEmpty()) {
        *error = QStringLiteral("%1: %2; an export of settings does not merge into it")
                     .arg(fileName, problem);
        return {};
    }
    return [command, fileName, script](Link& link) {
        const int total = static_cast<int>(ParameterCatalogue::configuration().size());
        SerialUSBCommandHandler::Batch batch(link.handler());
        const ModuleExchange::Progress stop = [&batch](int, int) {
            return !interruptedOnDirtyLine(batch);
        };
        QString why;
        const bool written = runWithProgress(link, command, total, [&](SerialUSBCommandHandler& h) {
            return script ? CommandScript::exportTo(fileName, h, stop, &why)
                          : SettingsFile::exportTo(fileName, h, stop, &why);
        });
        if (!lineWasClean(batch, command, link.handler().moduleAddress())) {
            printError(QStringLiteral("%1: nothing written").arg(fileName));
            return int(ExitRefused);
        }
        if (!written) {
            printError(QStringLiteral("%1: %2; nothing written").arg(fileName, why));
            return int(ExitRefused);
        }
        DebugLine().plain(QStringLiteral("%1 written by %2")
                              .arg(fileName, Version::of(QStringLiteral("ziro-bldc-cli"))));
        printOut(QStringLiteral("%1: %2 parameters written").arg(fileName).arg(total));
        return int(ExitOk);
    };
}

Action prepareImport(const QStringList& args, QString* error)
{
    if (args.size() != 1) {
        *error = QStringLiteral("import-ini wants one file (import-ini FILE)");
        return {};
    }
    const QString fileName = args.at(0);
    QFile file(fileName);
    if (QFileInfo(fileName).isDir() || !file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: cannot be read: %2")
                     .arg(fileName, QFileInfo(fileName).isDir() ? QStringLiteral("is a folder")
                                                                : file.errorString());
        return {};
    }
    file.close();
    QSettings settings(fileName, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        *error = QStringLiteral("%1: not a settings file").arg(fileName);
        return {};
    }
    // What the import will write: every key that holds an integer. The others are named
    // now, as the import skips them and the module keeps its value.
    auto expected = std::make_shared<QMap<int, qint32>>();
    QStringList skipped;
    for (const ParameterCatalogue::ConfigurationParameter& p :
         ParameterCatalogue::configuration()) {
        const QString key = QLatin1String(ParameterCatalogue::sections().at(p.section).group) +
                            QLatin1Char('/') + QLatin1String(p.key);
        const std::optional<qint32> value = SettingsFile::valueOf(settings, key);
        if (value)
            expected->insert(p.number, *value);
        else
            skipped << QStringLiteral("%1 (%2)").arg(key).arg(p.number);
    }
    if (expected->isEmpty()) {
        *error = QStringLiteral("%1: holds none of the %2 settings keys")
                     .arg(fileName)
                     .arg(ParameterCatalogue::configuration().size());
        return {};
    }
    for (const QString& key : std::as_const(skipped))
        printError(QStringLiteral("%1: no integer for %2; not written, the module keeps its value")
                       .arg(fileName, key));

    return [fileName, expected](Link& link) {
        // Each written parameter is read back; what the module answers must be what the
        // file holds.
        QMap<int, qint32> readBack;
        const QMetaObject::Connection answers =
            QObject::connect(&link.handler(), &SerialUSBCommandHandler::requestedValue,
                             [&readBack](char, char type, int value) {
                                 readBack.insert(static_cast<quint8>(type), value);
                             });
        SerialUSBCommandHandler::Batch batch(link.handler());
        runWithProgress(link, QStringLiteral("import-ini"), 2 * static_cast<int>(expected->size()),
                        [&](SerialUSBCommandHandler& h) {
                            return SettingsFile::importFrom(fileName, h, [&batch](int, int) {
                                return !interruptedOnDirtyLine(batch);
                            });
                        });
        QObject::disconnect(answers);
        // A value read back may be another parameter's: nothing can be judged.
        if (!lineWasClean(batch, QStringLiteral("import-ini"), link.handler().moduleAddress()))
            return int(ExitRefused);
        if (!link.handler().isOpen()) {
            printError(QStringLiteral("%1: the module stopped answering; the import is "
                                      "incomplete")
                           .arg(fileName));
            return int(ExitRefused);
        }
        int refused = 0;
        for (auto it = expected->cbegin(); it != expected->cend(); ++it) {
            if (readBack.contains(it.key()) && readBack.value(it.key()) == it.value())
                continue;
            printError(QStringLiteral("%1: %2 = %3 was not taken; the module answers %4")
                           .arg(fileName, ParameterCatalogue::nameOf(it.key()))
                           .arg(it.value())
                           .arg(readBack.contains(it.key())
                                    ? QString::number(readBack.value(it.key()))
                                    : QStringLiteral("nothing")));
            ++refused;
        }
        printOut(QStringLiteral("%1: %2 parameters written, %3 not taken")
                     .arg(fileName)
                     .arg(expected->size())
                     .arg(refused));
        return refused > 0 ? int(ExitRefused) : int(ExitOk);
    };
}

Action prepareStoreOrRestore(const QString& command, const QStringList& args, QString* error)
{
    if (!args.isEmpty()) {
        *error = QStringLiteral("%1 takes no argument").arg(command);
        return {};
    }
    const bool store = command == QLatin1String("store");
    return [command, store](Link& link) {
        SerialUSBCommandHandler::Batch batch(link.handler());
        ParameterStore::Tally tally;
        // Ctrl-C stops the walk after the parameter in progress.
        const ModuleExchange::Progress stop = [](int, int) { return !StopSignals::requested(); };
        // A restore reads each parameter back.
        runWithProgress(link, command, (store ? 1 : 2) * vokt::ParameterNumbers,
                        [&](SerialUSBCommandHandler& h) {
                            return store ? ParameterStore::storeAll(h, stop, &tally)
                                         : ParameterStore::restoreAll(h, stop, &tally);
                        });
        const QString counts =
            QStringLiteral("%1 %2, refused %3")
                .arg(store ? QStringLiteral("stored") : QStringLiteral("restored"))
                .arg(tally.accepted)
                .arg(tally.refused);
        if (tally.walked < vokt::ParameterNumbers) {
            printError(QStringLiteral("%1: interrupted after %2 of %3 parameters; %4")
                           .arg(command)
                           .arg(tally.walked)
                           .arg(vokt::ParameterNumbers)
                           .arg(counts));
            return int(ExitRefused);
        }
        if (!lineWasClean(batch, command, link.handler().moduleAddress()))
            return int(ExitRefused);
        if (!link.handler().isOpen()) {
            printError(QStringLiteral("%1: the module stopped answering before parameter 255; %2")
                           .arg(command, counts));
            return int(ExitRefused);
        }
        // The module may refuse numbers it does not know or keeps no copy of; a refused
        // setting is not kept.
        for (const ParameterStore::Tally::Refusal& refusal : std::as_const(tally.refusedSettings))
            printError(QStringLiteral("%1: the module refused %2 (status %3)")
                           .arg(command, ParameterCatalogue::nameOf(refusal.number))
                           .arg(refusal.status));
        printOut(QStringLiteral("%1: %2").arg(command, counts));
        return tally.refusedSettings.isEmpty() ? int(ExitOk) : int(ExitRefused);
    };
}

} // namespace cli

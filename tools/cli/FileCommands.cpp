#include "cli/FileCommands.h"

#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/StopSignals.h"
#include "comm/DebugLine.h"
#include "comm/Protocol.h"
#include "config/CommandScript.h"
#include "config/FileTarget.h"
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

Action prepareExport(const QString& command, const QStringList& args, QString* error, bool force)
{
    if (args.size() != 1) {
        *error = QStringLiteral("%1 wants one file (%1 FILE)").arg(command);
        return {};
    }
    const QString fileName = args.at(0);
    const bool script = command == QLatin1String("export-script");
    if (script && !checkTarget(fileName, FileKind::Kind::Script, force, error))
        return {};
    if (!script && !checkWritable(fileName, error))
        return {};
    // A settings export merges into an existing file: only into a settings file.
    const QString problem = script ? QString() : SettingsFile::targetProblem(fileName, force);
    if (!problem.isEmpty()) {
        *error = QStringLiteral("%1: %2; an export of settings does not merge into it%3")
                     .arg(fileName, problem,
                          problem.startsWith(QLatin1String("cannot"))
                              ? QString()
                              : QStringLiteral(" (--force replaces it)"));
        return {};
    }
    return [command, fileName, script, force](Link& link) {
        const int total = static_cast<int>(ParameterCatalogue::configuration().size());
        SerialUSBCommandHandler::Batch batch(link.handler());
        const ModuleExchange::Progress stop = [&batch](int, int) {
            return !interruptedOnDirtyLine(batch);
        };
        QString why;
        const bool written = runWithProgress(link, command, total, [&](SerialUSBCommandHandler& h) {
            return script ? CommandScript::exportTo(fileName, h, stop, &why, force)
                          : SettingsFile::exportTo(fileName, h, stop, &why, force);
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
    // Only a regular file, opened without blocking: a pipe is refused at once.
    QByteArray content;
    QString why;
    if (!FileTarget::read(fileName, SettingsFile::MaxFileSize, &content, &why)) {
        *error = QStringLiteral("%1: cannot be read: %2").arg(fileName, why);
        return {};
    }
    QSettings settings(fileName, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        *error = QStringLiteral("%1: not a settings file").arg(fileName);
        return {};
    }
    // A file without any of the keys is no settings file of the tool's.
    bool anyValue = false;
    for (const ParameterCatalogue::ConfigurationParameter& p :
         ParameterCatalogue::configuration()) {
        const QString key = QLatin1String(ParameterCatalogue::sections().at(p.section).group) +
                            QLatin1Char('/') + QLatin1String(p.key);
        anyValue = anyValue || SettingsFile::valueOf(settings, key).has_value();
    }
    if (!anyValue) {
        *error = QStringLiteral("%1: holds none of the %2 settings keys")
                     .arg(fileName)
                     .arg(ParameterCatalogue::configuration().size());
        return {};
    }

    return [fileName](Link& link) {
        SerialUSBCommandHandler::Batch batch(link.handler());
        SettingsFile::ImportReport report;
        const int total = static_cast<int>(ParameterCatalogue::configuration().size());
        runWithProgress(
            link, QStringLiteral("import-ini"), 2 * total, [&](SerialUSBCommandHandler& h) {
                return SettingsFile::importFrom(
                    fileName, h, [&batch](int, int) { return !interruptedOnDirtyLine(batch); },
                    &report);
            });
        // A value read back may be another parameter's: nothing can be judged.
        if (!lineWasClean(batch, QStringLiteral("import-ini"), link.handler().moduleAddress()))
            return int(ExitRefused);
        for (const QString& key : std::as_const(report.skipped))
            printError(QStringLiteral("%1: no integer for %2; not written, the module keeps its "
                                      "value")
                           .arg(fileName, key));
        for (const QString& failure : std::as_const(report.notTaken))
            printError(QStringLiteral("%1: %2; not taken").arg(fileName, failure));
        if (!link.controller().state().isOpen())
            printError(QStringLiteral("%1: the module stopped answering; the import is "
                                      "incomplete")
                           .arg(fileName));
        else if (report.notReached > 0)
            printError(QStringLiteral("%1: interrupted; %2 parameters not written")
                           .arg(fileName)
                           .arg(report.notReached));
        printOut(QStringLiteral("%1: %2 parameters written, %3 not taken")
                     .arg(fileName)
                     .arg(report.written)
                     .arg(report.notTaken.size()));
        return report.complete() ? int(ExitOk) : int(ExitRefused);
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
        if (!link.controller().state().isOpen()) {
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

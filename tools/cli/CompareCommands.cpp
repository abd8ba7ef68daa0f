#include "cli/CompareCommands.h"

#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/StopSignals.h"
#include "config/CommissioningRecord.h"
#include "config/ParameterCatalogue.h"
#include "config/SettingsComparison.h"

#include <QFileInfo>

#include <memory>

namespace cli {

namespace {

using SettingsComparison::Value;

// The values of a settings file; nothing, with *error naming the file, for one that is
// not a settings file.
std::optional<QList<Value>> readSettings(const QString& fileName, QString* error)
{
    QString why;
    const std::optional<QList<Value>> values = SettingsComparison::readFile(fileName, &why);
    if (!values)
        *error = QStringLiteral("%1: %2").arg(fileName, why);
    return values;
}

// Prints the rows that differ; 0 when none does, otherwise 1.
int printDifferences(const SettingsComparison::Rows& rows)
{
    for (const QString& line : SettingsComparison::differenceLines(rows))
        printOut(line);
    return SettingsComparison::differences(rows) == 0 ? int(ExitOk) : int(ExitRefused);
}

// Ctrl-C ends a read of the module after the parameter in progress.
bool notInterrupted(int, int)
{
    return !StopSignals::requested();
}

} // namespace

int diffFiles(const QStringList& args)
{
    QString error;
    const std::optional<QList<Value>> first = readSettings(args.at(0), &error);
    const std::optional<QList<Value>> second =
        first ? readSettings(args.at(1), &error) : std::nullopt;
    if (!second) {
        printError(QStringLiteral("diff: ") + error);
        return ExitUsage;
    }
    return printDifferences(SettingsComparison::compare(*first, *second));
}

Action prepareDiff(const QStringList& args, QString* error)
{
    if (args.size() != 1) {
        *error = QStringLiteral("diff wants one or two settings files (diff FILE: the module "
                                "against FILE; diff FILE_A FILE_B: two files)");
        return {};
    }
    QString why;
    const std::optional<QList<Value>> file = readSettings(args.at(0), &why);
    if (!file) {
        *error = QStringLiteral("diff: ") + why;
        return {};
    }
    return [values = *file](Link& link) {
        SerialUSBCommandHandler::Batch batch(link.handler());
        QString why;
        std::optional<QList<qint32>> module;
        runWithProgress(link, QStringLiteral("diff"),
                        static_cast<int>(ParameterCatalogue::configuration().size()),
                        [&](SerialUSBCommandHandler& handler) {
                            module = SettingsComparison::readModule(handler, notInterrupted, &why);
                            return module.has_value();
                        });
        if (!lineWasClean(batch, QStringLiteral("diff"), link.handler().moduleAddress()))
            return int(ExitRefused);
        if (!module) {
            printError(
                why.isEmpty()
                    ? QStringLiteral("diff: interrupted; nothing compared")
                    : QStringLiteral("diff: the module's values could not be read: %1").arg(why));
            return int(ExitRefused);
        }
        QList<Value> moduleValues;
        for (qint32 value : std::as_const(*module))
            moduleValues.append(Value::of(value));
        return printDifferences(SettingsComparison::compare(moduleValues, values));
    };
}

Action prepareReport(const Invocation& invocation, QString* error)
{
    if (invocation.arguments.size() != 1) {
        *error = QStringLiteral("report wants one file (report FILE.html [--against GOLDEN.ini])");
        return {};
    }
    const QString fileName = invocation.arguments.at(0);
    if (!checkTarget(fileName, FileKind::Kind::Page, invocation.force, error))
        return {};
    std::shared_ptr<CommissioningRecord::Golden> golden;
    if (invocation.against) {
        QString why;
        const std::optional<QList<Value>> values = readSettings(*invocation.against, &why);
        if (!values) {
            *error = QStringLiteral("--against ") + why;
            return {};
        }
        golden = std::make_shared<CommissioningRecord::Golden>(
            CommissioningRecord::Golden{*invocation.against, *values});
    }
    return [fileName, golden](Link& link) {
        SerialUSBCommandHandler::Batch batch(link.handler());
        QString why;
        std::optional<CommissioningRecord::Snapshot> snapshot;
        runWithProgress(link, QStringLiteral("report"), CommissioningRecord::exchanges(),
                        [&](SerialUSBCommandHandler& handler) {
                            snapshot = CommissioningRecord::take(handler, notInterrupted, &why);
                            return snapshot.has_value();
                        });
        if (!lineWasClean(batch, QStringLiteral("report"), link.handler().moduleAddress())) {
            printError(QStringLiteral("%1: nothing written").arg(fileName));
            return int(ExitRefused);
        }
        if (!snapshot) {
            printError(why.isEmpty()
                           ? QStringLiteral("%1: interrupted; nothing written").arg(fileName)
                           : QStringLiteral("%1: the module could not be read: %2; nothing "
                                            "written")
                                 .arg(fileName, why));
            return int(ExitRefused);
        }
        if (golden)
            snapshot->golden = *golden;
        snapshot->simulated = link.isSimulated();
        if (!CommissioningRecord::write(fileName, *snapshot, &why)) {
            printError(QStringLiteral("%1: could not be written: %2").arg(fileName, why));
            return int(ExitRefused);
        }
        if (!golden) {
            printOut(QStringLiteral("%1: record written").arg(fileName));
            return int(ExitOk);
        }
        const SettingsComparison::Rows rows = snapshot->rows();
        const QString goldenName = QFileInfo(golden->fileName).fileName();
        const QString verdict = SettingsComparison::verdict(rows, goldenName);
        printOut(snapshot->matches()
                     ? QStringLiteral("%1: %2").arg(fileName, verdict)
                     : QStringLiteral("%1: %2 from %3").arg(fileName, verdict, goldenName));
        return snapshot->matches() ? int(ExitOk) : int(ExitRefused);
    };
}

} // namespace cli

#include "cli/Cli.h"

#include "cli/BodeCommand.h"
#include "cli/CommissionCommand.h"
#include "cli/CompareCommands.h"
#include "cli/FileCommands.h"
#include "cli/Help.h"
#include "cli/Link.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/ParameterCommands.h"
#include "cli/ScanCommand.h"
#include "cli/ScriptCommand.h"
#include "cli/StepCommand.h"
#include "cli/StopSignals.h"
#include "cli/TuneCommands.h"
#include "cli/WatchCommand.h"
#include "config/InputText.h"
#include "config/Version.h"

#include <cstdio>

namespace cli {

int run(const QStringList& arguments)
{
    Invocation invocation;
    QString error;
    const auto usageError = [](const QString& text) {
        printError(text);
        std::fputs("Try ziro-bldc-cli --help.\n", stderr);
        return int(ExitUsage);
    };
    if (!parseCommandLine(arguments, &invocation, &error))
        return usageError(error);
    setQuiet(invocation.quiet);

    const CommandHelp* command = findCommand(invocation.command);
    if (invocation.command == QLatin1String("help")) {
        invocation.help = true;
        command = invocation.arguments.isEmpty() ? nullptr
                                                 : findCommand(invocation.arguments.constFirst());
    }
    if (invocation.version && !invocation.help) {
        std::fputs((Version::of(QStringLiteral("ziro-bldc-cli")) + QLatin1Char('\n'))
                       .toLocal8Bit()
                       .constData(),
                   stdout);
        return checkedOutput(ExitOk);
    }
    if (invocation.help) {
        std::fputs((command ? helpFor(*command) : generalHelp()).toLocal8Bit().constData(), stdout);
        return checkedOutput(ExitOk);
    }
    if (invocation.command.isEmpty())
        return usageError(QStringLiteral("no command given"));
    if (!command)
        return usageError(
            QStringLiteral("unknown command \"%1\"").arg(InputText::shown(invocation.command)));

    const QString name = invocation.command;
    if (name == QLatin1String("ports")) {
        if (!invocation.arguments.isEmpty())
            return usageError(QStringLiteral("ports takes no argument"));
        return checkedOutput(listPorts());
    }
    // The scan opens the port itself, once for each rate.
    if (name == QLatin1String("scan"))
        return checkedOutput(runScan(invocation));
    // Two files are compared without a module.
    if (name == QLatin1String("diff") && invocation.arguments.size() == 2)
        return checkedOutput(diffFiles(invocation.arguments));

    Action action;
    if (name == QLatin1String("get"))
        action = prepareGet(invocation.arguments, &error);
    else if (name == QLatin1String("set"))
        action = prepareSet(invocation.arguments, &error);
    else if (name == QLatin1String("stop"))
        action = prepareStop(invocation.arguments, &error);
    else if (name == QLatin1String("raw"))
        action = prepareRaw(invocation.arguments, &error);
    else if (name == QLatin1String("run-script"))
        action = prepareRunScript(invocation.arguments, invocation.keepGoing, &error);
    else if (name == QLatin1String("watch"))
        action = prepareWatch(invocation, &error);
    else if (name == QLatin1String("step"))
        action = prepareStep(invocation, &error);
    else if (name == QLatin1String("bode"))
        action = prepareBode(invocation, &error);
    // identify and tune
    else if (name == QLatin1String("identify"))
        action = prepareIdentify(invocation, &error);
    else if (name == QLatin1String("tune"))
        action = prepareTune(invocation, &error);
    else if (name == QLatin1String("export-ini") || name == QLatin1String("export-script"))
        action = prepareExport(name, invocation.arguments, &error, invocation.force);
    else if (name == QLatin1String("import-ini"))
        action = prepareImport(invocation.arguments, &error);
    else if (name == QLatin1String("diff"))
        action = prepareDiff(invocation.arguments, &error);
    else if (name == QLatin1String("report"))
        action = prepareReport(invocation, &error);
    else if (name == QLatin1String("commission"))
        action = prepareCommission(invocation, &error);
    else
        action = prepareStoreOrRestore(name, invocation.arguments, &error);
    if (!action) {
        printError(error);
        return ExitUsage;
    }

    if (invocation.sim == !invocation.port.isEmpty())
        return usageError(invocation.sim ? QStringLiteral("--port and --sim exclude each other")
                                         : QStringLiteral("which module? (--port PATH or --sim)"));

    StopSignals::catchAll(
        "\nziro-bldc-cli: interrupted: ending as soon as it is safe (again to end at once)\n");
    Link link;
    if (!link.open(invocation, &error)) {
        printError(error);
        return ExitPort;
    }
    return checkedOutput(action(link));
}

} // namespace cli

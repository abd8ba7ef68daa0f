#include "cli/ScanCommand.h"

#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/StopSignals.h"
#include "comm/ModuleScanner.h"
#include "config/InputText.h"
#include "sim/ServedModule.h"

#include <memory>

namespace cli {

namespace {

bool parseAddress(const std::optional<QString>& text, const char* option, int* address,
                  QString* error)
{
    if (!text)
        return true;
    const auto number =
        parseNumber(*text, 1, 255, QStringLiteral("--%1").arg(QLatin1String(option)), error);
    if (number)
        *address = static_cast<int>(*number);
    return number.has_value();
}

} // namespace

int runScan(const Invocation& invocation)
{
    const auto usageError = [](const QString& text) {
        printError(text);
        return int(ExitUsage);
    };
    if (!invocation.arguments.isEmpty())
        return usageError(QStringLiteral("scan takes no argument \"%1\" (options: --baud "
                                         "N[,N...], --from A, --to B)")
                              .arg(InputText::shown(invocation.arguments.constFirst())));
    ModuleScanner::Plan plan;
    plan.baudRates = invocation.baudRates;
    QString error;
    if (!parseAddress(invocation.from, "from", &plan.from, &error) ||
        !parseAddress(invocation.to, "to", &plan.to, &error))
        return usageError(error);
    if (invocation.turnaround) {
        const auto ms =
            parseNumber(*invocation.turnaround, 0, 1000, QStringLiteral("--turnaround"), &error);
        if (!ms)
            return usageError(error);
        plan.turnaroundMs = static_cast<int>(*ms);
    }
    if (plan.from > plan.to)
        return usageError(QStringLiteral("--from %1 is above --to %2").arg(plan.from).arg(plan.to));
    if (invocation.sim == !invocation.port.isEmpty())
        return usageError(invocation.sim ? QStringLiteral("--port and --sim exclude each other")
                                         : QStringLiteral("which line? (--port PATH or --sim)"));

    std::unique_ptr<ServedModule> served;
    plan.port = invocation.port;
    if (invocation.sim) {
        served = std::make_unique<ServedModule>(invocation.address);
        if (!served->start(&error)) {
            printError(QStringLiteral("cannot serve the simulated module: %1").arg(error));
            return ExitPort;
        }
        plan.port = served->portName();
    }

    StopSignals::catchAll("\nziro-bldc-cli: interrupted: the scan ends after this address\n");
    ModuleScanner scanner(plan);
    bool printed = true;
    scanner.setOnFound([&printed](const ModuleScanner::Found& found) {
        if (Progress::current())
            Progress::current()->clear();
        QString line = QStringLiteral("%1\t%2").arg(found.address).arg(found.baudRate);
        if (found.conflict)
            line += QStringLiteral("\tconflict");
        printed = printOut(line) && printed;
    });
    // One progress line for each rate, left standing when the rate is done.
    const QList<int> rates = scanner.plan().baudRates;
    const int perRate = scanner.plan().to - scanner.plan().from + 1;
    std::unique_ptr<Progress> progress;
    qsizetype shown = -1;
    const auto showProgress = [&] {
        const qsizetype index = scanner.probesDone() / perRate;
        if (index != shown) {
            if (progress)
                progress->setDone(perRate);
            progress.reset();
            shown = index;
            if (index < rates.size())
                progress = std::make_unique<Progress>(
                    QStringLiteral("scan at %1 baud").arg(rates.at(index)), perRate);
        }
        if (progress)
            progress->setDone(scanner.probesDone() % perRate);
    };
    while (!StopSignals::requested() && scanner.step())
        showProgress();
    showProgress();
    progress.reset();

    for (const QString& problem : scanner.problems())
        printError(problem);
    if (scanner.lineEchoes())
        printError(QStringLiteral("the line echoes every request (an adapter that hears its own "
                                  "transmission); only the modules that answered are listed"));
    if (!scanner.portOpened())
        return ExitPort;
    if (!scanner.failure().isEmpty()) {
        printError(scanner.failure());
        return ExitRefused;
    }
    if (!printed)
        return ExitRefused;
    if (scanner.found().isEmpty()) {
        printError(StopSignals::requested() ? QStringLiteral("no module answered before the "
                                                             "scan was interrupted")
                                            : QStringLiteral("no module answered"));
        return ExitRefused;
    }
    // What was found is printed, but the scan is not complete: a module may be missing.
    if (StopSignals::requested()) {
        printError(QStringLiteral("the scan was interrupted at address %1, %2 baud; the list "
                                  "may be incomplete")
                       .arg(scanner.address())
                       .arg(scanner.baudRate()));
        return ExitRefused;
    }
    return ExitOk;
}

} // namespace cli

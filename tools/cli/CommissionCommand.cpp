#include "cli/CommissionCommand.h"

#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/StopSignals.h"
#include "config/Commissioning.h"

#include <memory>

namespace cli {

namespace {

// "3,7,12": each address once.
bool parseAddresses(const QString& text, QList<int>* addresses, QString* error)
{
    for (const QString& part : text.split(QLatin1Char(','))) {
        const auto number = parseNumber(part, 1, 255, QStringLiteral("--addresses"), error);
        if (!number)
            return false;
        if (addresses->contains(int(*number))) {
            *error = QStringLiteral("--addresses: %1 is given twice").arg(*number);
            return false;
        }
        *addresses << int(*number);
    }
    return true;
}

bool parseRange(const Invocation& invocation, Commissioning::Line::Plan* plan, QString* error)
{
    if (invocation.from) {
        const auto from = parseNumber(*invocation.from, 1, 255, QStringLiteral("--from"), error);
        if (!from)
            return false;
        plan->from = int(*from);
    }
    if (invocation.to) {
        const auto to = parseNumber(*invocation.to, 1, 255, QStringLiteral("--to"), error);
        if (!to)
            return false;
        plan->to = int(*to);
    }
    if (plan->from > plan->to) {
        *error = QStringLiteral("--from %1 is above --to %2").arg(plan->from).arg(plan->to);
        return false;
    }
    return true;
}

// One line for each module, its problems on standard error.
bool printResult(const Commissioning::Result& result)
{
    if (Progress::current())
        Progress::current()->clear();
    for (const QString& problem : result.problems)
        printError(QStringLiteral("commission: address %1: %2").arg(result.address).arg(problem));
    if (result.verdict == Commissioning::Verdict::Conflict)
        printError(QStringLiteral("commission: address %1: more than one module answers; "
                                  "nothing written (give each module an address of its own)")
                       .arg(result.address));
    return printOut(QStringLiteral("%1\t%2\t%3\t%4")
                        .arg(result.address)
                        .arg(Commissioning::verdictText(result.verdict))
                        .arg(result.changed)
                        .arg(QString::number(result.ms / 1000.0, 'f', 2)));
}

} // namespace

Action prepareCommission(const Invocation& invocation, QString* error)
{
    if (invocation.arguments.size() != 1) {
        *error = QStringLiteral("commission wants one golden settings file (commission "
                                "GOLDEN_FILE --addresses A[,B...] | --scan)");
        return {};
    }
    auto plan = std::make_shared<Commissioning::Line::Plan>();
    if (invocation.addresses.has_value() == invocation.scanLine) {
        *error = invocation.scanLine
                     ? QStringLiteral("commission: --addresses and --scan exclude each other")
                     : QStringLiteral("commission: which modules? (--addresses A[,B...] or "
                                      "--scan)");
        return {};
    }
    if (invocation.addresses) {
        if (invocation.from || invocation.to) {
            *error = QStringLiteral("commission: --from and --to go with --scan");
            return {};
        }
        if (!parseAddresses(*invocation.addresses, &plan->addresses, error))
            return {};
    }
    plan->scan = invocation.scanLine;
    if (!parseRange(invocation, plan.get(), error))
        return {};
    if (invocation.turnaround) {
        const auto ms =
            parseNumber(*invocation.turnaround, 0, 1000, QStringLiteral("--turnaround"), error);
        if (!ms)
            return {};
        plan->settings.turnaroundMs = int(*ms);
    }
    plan->settings.store = invocation.store;
    plan->keepGoing = invocation.keepGoing;

    QString why;
    const QString goldenFile = invocation.arguments.constFirst();
    const std::optional<CommissioningRecord::Golden> golden =
        Commissioning::readGolden(goldenFile, &why);
    if (!golden) {
        *error = QStringLiteral("%1: %2").arg(goldenFile, why);
        return {};
    }
    plan->settings.golden = *golden;
    if (invocation.records) {
        why = Commissioning::recordsProblem(*invocation.records);
        if (!why.isEmpty()) {
            *error = QStringLiteral("--records %1: %2").arg(*invocation.records, why);
            return {};
        }
        plan->settings.recordsDir = *invocation.records;
    }

    return [plan](Link& link) {
        Commissioning::Line line(link.handler(), *plan, &link.controller());
        std::unique_ptr<Progress> progress;
        bool scanShown = false;
        bool printed = true;
        Commissioning::Line::Callbacks callbacks;
        callbacks.progress = [&](const Commissioning::Line& at) {
            if (at.scanning()) {
                if (!progress)
                    progress = std::make_unique<Progress>(QStringLiteral("commission: scan"),
                                                          at.probeCount());
                scanShown = true;
                progress->setDone(at.probesDone());
                return;
            }
            if (scanShown || !progress) {
                progress = std::make_unique<Progress>(QStringLiteral("commission"),
                                                      qMax(1, at.moduleCount()));
                scanShown = false;
            }
            progress->setDone(at.modulesDone());
        };
        callbacks.result = [&printed](const Commissioning::Result& result) {
            printed = printResult(result) && printed;
        };
        callbacks.cancelled = [] { return StopSignals::requested(); };
        line.run(callbacks);
        progress.reset();

        if (!line.failure().isEmpty())
            printError(QStringLiteral("commission: %1; the line ends here").arg(line.failure()));
        if (line.cancelled())
            printError(QStringLiteral("commission: interrupted after %1 of %2 modules")
                           .arg(line.modulesDone())
                           .arg(line.moduleCount()));
        if (plan->scan && line.moduleCount() == 0 && line.failure().isEmpty() && !line.cancelled())
            printError(QStringLiteral("commission: no module answered from address %1 to %2")
                           .arg(plan->from)
                           .arg(plan->to));
        printed = printOut(line.summary()) && printed;
        return line.allOk() && printed ? int(ExitOk) : int(ExitRefused);
    };
}

} // namespace cli

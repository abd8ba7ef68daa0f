#include "cli/ScriptCommand.h"

#include "cli/Output.h"
#include "cli/StopSignals.h"
#include "config/InputText.h"
#include "config/ScriptRunner.h"

#include <memory>

namespace cli {

Action prepareRunScript(const QStringList& args, bool keepGoing, QString* error)
{
    if (args.size() != 1) {
        *error = QStringLiteral("run-script wants one file (run-script [--keep-going] FILE)");
        return {};
    }
    auto script = std::make_shared<ScriptRunner>();
    if (!script->load(args.at(0), error))
        return {};
    const QString fileName = args.at(0);
    return [script, keepGoing, fileName](Link& link) {
        const int total = static_cast<int>(script->commands().size());
        Progress progress(QStringLiteral("run-script"), total);
        const auto report = [&fileName](const ScriptRunner::Failure& failure) {
            const QString where = QStringLiteral("%1:%2: %3")
                                      .arg(fileName)
                                      .arg(failure.command.line)
                                      .arg(InputText::shown(failure.command.text));
            if (failure.answered)
                printError(QStringLiteral("%1: refused by the module (status %2); it answered %3")
                               .arg(where)
                               .arg(failure.status)
                               .arg(failure.value));
            else
                printError(noReply(where));
        };
        SerialUSBCommandHandler::Batch batch(link.handler());
        const ScriptRunner::Result result =
            script->run(link.handler(), keepGoing, report, [&progress](int done, int) {
                progress.setDone(done);
                return !StopSignals::requested();
            });
        progress.finish();
        const bool clean =
            lineWasClean(batch, QStringLiteral("run-script"), link.handler().moduleAddress());
        QString summary = QStringLiteral("%1 of %2 commands sent, %3 failed")
                              .arg(result.sent)
                              .arg(total)
                              .arg(result.failed);
        if (result.stopped)
            summary += StopSignals::requested() ? QStringLiteral("; interrupted")
                                                : QStringLiteral("; stopped at the first failure");
        printOut(summary);
        return result.failed > 0 || result.stopped || !clean ? int(ExitRefused) : int(ExitOk);
    };
}

} // namespace cli

#include "cli/ParameterCommands.h"

#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/StopSignals.h"
#include "comm/PortDiscovery.h"
#include "config/InputText.h"

namespace cli {

int listPorts()
{
    const QList<PortDiscovery::Port> ports = PortDiscovery::systemPorts();
    for (const PortDiscovery::Port& port : ports) {
        if (port.usb) {
            printOut(QStringLiteral("%1\tUSB\t%2").arg(port.name, port.description));
            const QString problem = PortDiscovery::permissionProblem(port.name);
            if (!problem.isEmpty())
                printError(QStringLiteral("%1 cannot be opened: %2").arg(port.name, problem));
            continue;
        }
        bool permission = false;
        const QString problem = PortDiscovery::openProblem(port.name, &permission);
        if (problem.isEmpty())
            printOut(QStringLiteral("%1\tserial").arg(port.name));
        else if (permission)
            printError(QStringLiteral("%1 cannot be opened: %2").arg(port.name, problem));
    }
    return ExitOk;
}

Action prepareGet(const QStringList& args, QString* error)
{
    if (args.isEmpty()) {
        *error = QStringLiteral("get: which parameter? (get PARAMETER [PARAMETER...])");
        return {};
    }
    QList<quint8> numbers;
    for (const QString& arg : args) {
        const auto number = parseParameter(arg, error);
        if (!number)
            return {};
        numbers << *number;
    }
    return [args, numbers](Link& link) {
        // The values are shown only when the line stayed clean.
        SerialUSBCommandHandler::Batch batch(link.handler());
        QStringList lines;
        int result = ExitOk;
        for (int i = 0; i < numbers.size(); ++i) {
            if (StopSignals::requested()) {
                printError(QStringLiteral("get: interrupted"));
                result = ExitRefused;
                break;
            }
            const auto reply = link.exchange(vokt::GetAxisParameter, numbers.at(i), 0, 0);
            if (!reply) {
                printError(noReply(QStringLiteral("get %1").arg(InputText::shown(args.at(i)))));
                result = ExitRefused;
                break;
            }
            if (reply->status() != vokt::StatusOk) {
                printError(QStringLiteral("get %1: refused by the module (%2)")
                               .arg(InputText::shown(args.at(i)), statusText(*reply)));
                result = ExitRefused;
                continue;
            }
            lines << QStringLiteral("%1\t%2").arg(args.at(i)).arg(reply->value());
        }
        if (!lineWasClean(batch, QStringLiteral("get"), link.handler().moduleAddress()))
            return int(ExitRefused);
        for (const QString& line : std::as_const(lines))
            printOut(line);
        return result;
    };
}

Action prepareSet(const QStringList& args, QString* error)
{
    if (args.size() != 2) {
        *error = QStringLiteral("set wants a parameter and a value (set PARAMETER VALUE)");
        return {};
    }
    const auto number = parseParameter(args.at(0), error);
    if (!number)
        return {};
    const auto value = parseValue(args.at(1), error);
    if (!value)
        return {};
    return [args, number, value](Link& link) {
        SerialUSBCommandHandler::Batch batch(link.handler());
        const auto reply = link.exchange(vokt::SetAxisParameter, *number, 0, *value);
        const QString what = QStringLiteral("set %1 %2")
                                 .arg(InputText::shown(args.at(0)), InputText::shown(args.at(1)));
        const bool clean = lineWasClean(batch, what, link.handler().moduleAddress());
        if (!reply) {
            printError(noReply(what));
            return int(ExitRefused);
        }
        if (!clean)
            return int(ExitRefused);
        if (reply->status() != vokt::StatusOk) {
            printError(QStringLiteral("%1: refused by the module (%2); it answered %3")
                           .arg(what, statusText(*reply))
                           .arg(reply->value()));
            return int(ExitRefused);
        }
        printOut(QStringLiteral("%1\t%2").arg(args.at(0)).arg(reply->value()));
        return int(ExitOk);
    };
}

Action prepareStop(const QStringList& args, QString* error)
{
    if (!args.isEmpty()) {
        *error = QStringLiteral("stop takes no argument");
        return {};
    }
    return prepareSet({QStringLiteral("TargetVelocity"), QStringLiteral("0")}, error);
}

Action prepareRaw(const QStringList& args, QString* error)
{
    if (args.size() != 4) {
        *error = QStringLiteral("raw wants four numbers (raw COMMAND TYPE BANK VALUE)");
        return {};
    }
    const auto command = parseByte(args.at(0), QStringLiteral("command"), error);
    if (!command)
        return {};
    const auto type = parseByte(args.at(1), QStringLiteral("type"), error);
    if (!type)
        return {};
    const auto bank = parseByte(args.at(2), QStringLiteral("motor/bank"), error);
    if (!bank)
        return {};
    const auto value = parseValue(args.at(3), error);
    if (!value)
        return {};
    return [=](Link& link) {
        SerialUSBCommandHandler::Batch batch(link.handler());
        const auto reply = link.exchange(*command, *type, *bank, *value);
        const bool clean =
            lineWasClean(batch, QStringLiteral("raw"), link.handler().moduleAddress());
        if (!reply) {
            printError(noReply(QStringLiteral("raw")));
            return int(ExitRefused);
        }
        if (!clean)
            return int(ExitRefused);
        printOut(QStringLiteral("reply-address=%1 module-address=%2 status=%3 command=%4 "
                                "value=%5")
                     .arg(reply->replyAddress())
                     .arg(reply->moduleAddress())
                     .arg(reply->status())
                     .arg(reply->command())
                     .arg(reply->value()));
        if (reply->status() != vokt::StatusOk) {
            printError(QStringLiteral("raw: refused by the module (%1)").arg(statusText(*reply)));
            return int(ExitRefused);
        }
        return int(ExitOk);
    };
}

} // namespace cli

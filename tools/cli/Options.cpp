#include "cli/Options.h"

#include "config/FileKind.h"
#include "config/FileTarget.h"
#include "config/InputText.h"
#include "config/ParameterCatalogue.h"

#include <QFileInfo>

#include <limits>

namespace cli {

bool parseCommandLine(const QStringList& args, Invocation* invocation, QString* error)
{
    struct Option
    {
        const char* name;
        bool takesValue;
        // The commands it belongs to, separated by "/"; nullptr for every command.
        const char* command;
    };
    static const Option options[] = {
        {"port", true, nullptr},
        {"sim", false, nullptr},
        {"baud", true, nullptr},
        {"address", true, nullptr},
        {"quiet", false, nullptr},
        {"help", false, nullptr},
        {"interval", true, "watch"},
        {"count", true, "watch"},
        {"csv", true, "watch/step/bode"},
        {"keep-going", false, "run-script/commission"},
        {"against", true, "report"},
        {"duration", true, "step"},
        {"from", true, "scan/bode/commission"},
        {"to", true, "scan/bode/commission"},
        {"turnaround", true, "scan/commission"},
        {"version", false, nullptr},
        {"points", true, "bode"},
        {"amplitude", true, "bode"},
        {"offset", true, "bode"},
        // identify and tune
        {"max-velocity", true, "identify/tune"},
        {"max-current", true, "identify/tune"},
        {"bandwidth", true, "tune"},
        {"set", true, "tune"},
        {"apply", false, "tune"},
        {"force", false, "export-ini/export-script/report/watch/step/bode"},
        // commission
        {"addresses", true, "commission"},
        {"scan", false, "commission"},
        {"store", false, "commission"},
        {"records", true, "commission"},
    };
    QList<const Option*> commandOptions;
    QString baud;
    QString address;
    bool onlyArguments = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (!onlyArguments && arg == QLatin1String("--")) {
            onlyArguments = true;
            continue;
        }
        if (onlyArguments || !arg.startsWith(QLatin1String("--"))) {
            if (!onlyArguments && arg == QLatin1String("-h"))
                invocation->help = true;
            else if (invocation->command.isEmpty())
                invocation->command = arg;
            else
                invocation->arguments << arg;
            continue;
        }
        const qsizetype equals = arg.indexOf(QLatin1Char('='));
        const QString name = arg.mid(2, equals < 0 ? -1 : equals - 2);
        const Option* option = nullptr;
        for (const Option& candidate : options)
            if (name == QLatin1String(candidate.name))
                option = &candidate;
        if (!option) {
            *error = QStringLiteral("unknown option --%1").arg(InputText::shown(name));
            return false;
        }
        if (option->command)
            commandOptions << option;
        QString value;
        if (option->takesValue) {
            if (equals >= 0) {
                value = arg.mid(equals + 1);
            } else if (i + 1 < args.size()) {
                value = args.at(++i);
            } else {
                *error = QStringLiteral("--%1 needs a value").arg(name);
                return false;
            }
        } else if (equals >= 0) {
            *error = QStringLiteral("--%1 takes no value").arg(name);
            return false;
        }
        if (name == QLatin1String("port"))
            // A relative path is a path (./bus), not a name under /dev.
            invocation->port =
                value.contains(QLatin1Char('/')) && !value.startsWith(QLatin1Char('/'))
                    ? QFileInfo(value).absoluteFilePath()
                    : value;
        else if (name == QLatin1String("sim"))
            invocation->sim = true;
        else if (name == QLatin1String("baud"))
            baud = value;
        else if (name == QLatin1String("address"))
            address = value;
        else if (name == QLatin1String("quiet"))
            invocation->quiet = true;
        else if (name == QLatin1String("help"))
            invocation->help = true;
        else if (name == QLatin1String("version"))
            invocation->version = true;
        else if (name == QLatin1String("interval"))
            invocation->interval = value;
        else if (name == QLatin1String("count"))
            invocation->count = value;
        else if (name == QLatin1String("csv"))
            invocation->csv = value;
        else if (name == QLatin1String("force"))
            invocation->force = true;
        else if (name == QLatin1String("keep-going"))
            invocation->keepGoing = true;
        else if (name == QLatin1String("from"))
            invocation->from = value;
        else if (name == QLatin1String("to"))
            invocation->to = value;
        else if (name == QLatin1String("turnaround"))
            invocation->turnaround = value;
        else if (name == QLatin1String("against"))
            invocation->against = value;
        else if (name == QLatin1String("duration"))
            invocation->duration = value;
        // bode
        else if (name == QLatin1String("points"))
            invocation->points = value;
        else if (name == QLatin1String("amplitude"))
            invocation->amplitude = value;
        else if (name == QLatin1String("offset"))
            invocation->offset = value;
        // identify and tune
        else if (name == QLatin1String("max-velocity"))
            invocation->maxVelocity = value;
        else if (name == QLatin1String("max-current"))
            invocation->maxCurrent = value;
        else if (name == QLatin1String("bandwidth"))
            invocation->bandwidth = value;
        else if (name == QLatin1String("set"))
            invocation->pidSet = value;
        else if (name == QLatin1String("apply"))
            invocation->apply = true;
        // commission
        else if (name == QLatin1String("addresses"))
            invocation->addresses = value;
        else if (name == QLatin1String("scan"))
            invocation->scanLine = true;
        else if (name == QLatin1String("store"))
            invocation->store = true;
        else if (name == QLatin1String("records"))
            invocation->records = value;
    }
    for (const Option* option : std::as_const(commandOptions)) {
        const QStringList commands = QString::fromLatin1(option->command).split(QLatin1Char('/'));
        if (!invocation->help && !commands.contains(invocation->command)) {
            // "watch, step and bode"
            const QString named =
                commands.size() > 1
                    ? commands.mid(0, commands.size() - 1).join(QStringLiteral(", ")) +
                          QStringLiteral(" and ") + commands.constLast()
                    : commands.constFirst();
            *error = QStringLiteral("--%1 belongs to the %2 command%3")
                         .arg(QLatin1String(option->name), named,
                              commands.size() > 1 ? QStringLiteral("s") : QString());
            return false;
        }
    }
    if (!baud.isNull() && invocation->command == QLatin1String("scan")) {
        for (const QString& rate : baud.split(QLatin1Char(','))) {
            const auto number = parseNumber(rate, 1, 4000000, QStringLiteral("--baud"), error);
            if (!number)
                return false;
            invocation->baudRates << static_cast<int>(*number);
        }
    } else if (!baud.isNull()) {
        const auto number = parseNumber(baud, 1, 4000000, QStringLiteral("--baud"), error);
        if (!number)
            return false;
        invocation->baud = static_cast<int>(*number);
    }
    if (!address.isNull()) {
        const auto number = parseNumber(address, 1, 255, QStringLiteral("--address"), error);
        if (!number)
            return false;
        invocation->address = static_cast<int>(*number);
    }
    return true;
}

std::optional<qint64> parseNumber(const QString& text, qint64 minimum, qint64 maximum,
                                  const QString& what, QString* error)
{
    QString why;
    const std::optional<qint64> value = InputText::wholeNumber(text, minimum, maximum, &why);
    if (!value)
        *error = QStringLiteral("%1: %2").arg(what, why);
    return value;
}

std::optional<quint8> parseByte(const QString& text, const QString& what, QString* error)
{
    const auto value = parseNumber(text, 0, 255, what, error);
    return value ? std::optional<quint8>(static_cast<quint8>(*value)) : std::nullopt;
}

std::optional<qint32> parseValue(const QString& text, QString* error)
{
    const auto value =
        parseNumber(text, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max(),
                    QStringLiteral("value (32-bit)"), error);
    return value ? std::optional<qint32>(static_cast<qint32>(*value)) : std::nullopt;
}

std::optional<vokt::ParameterNumber> parseParameter(const QString& text, QString* error)
{
    const int number = ParameterCatalogue::numberOf(text, error);
    return number < 0
               ? std::nullopt
               : std::optional<vokt::ParameterNumber>(static_cast<vokt::ParameterNumber>(number));
}

bool checkWritable(const QString& fileName, QString* error)
{
    const QString why = FileTarget::problem(fileName);
    if (why.isEmpty())
        return true;
    *error = QStringLiteral("%1: %2").arg(fileName, why);
    return false;
}

} // namespace cli

namespace cli {

bool checkTarget(const QString& fileName, FileKind::Kind writes, bool force, QString* error)
{
    if (!checkWritable(fileName, error))
        return false;
    const QString why = FileKind::targetProblem(fileName, writes, force);
    if (why.isEmpty())
        return true;
    *error = why.startsWith(QLatin1String("reads as"))
                 ? QStringLiteral("%1: %2; not replaced (--force replaces it)").arg(fileName, why)
                 : QStringLiteral("%1: %2").arg(fileName, why);
    return false;
}

std::optional<QString> csvTarget(const Invocation& invocation, QString* error)
{
    const QString csv = invocation.csv.value_or(QString());
    if (invocation.csv && csv.isEmpty()) {
        *error = QStringLiteral("--csv needs a file name");
        return std::nullopt;
    }
    if (!csv.isEmpty() && !checkTarget(csv, FileKind::Kind::Other, invocation.force, error)) {
        *error = QStringLiteral("--csv ") + *error;
        return std::nullopt;
    }
    return csv;
}

} // namespace cli

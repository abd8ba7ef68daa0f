#include "config/ScriptRunner.h"

#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/VOKTUSBReply.h"
#include "config/FileTarget.h"
#include "config/InputText.h"

#include <QRegularExpression>

#include <limits>

namespace {

// A whole decimal number within [minimum, maximum]; *why says what is wrong with it.
bool parseNumber(const QString& text, qint64 minimum, qint64 maximum, const char* what,
                 qint64* number, QString* why)
{
    if (text.isEmpty()) {
        *why = QStringLiteral("%1 missing").arg(QLatin1String(what));
        return false;
    }
    QString problem;
    const std::optional<qint64> value = InputText::wholeNumber(text, minimum, maximum, &problem);
    if (!value) {
        *why = QStringLiteral("%1 %2").arg(QLatin1String(what), problem);
        return false;
    }
    *number = *value;
    return true;
}

} // namespace

bool ScriptRunner::load(const QString& fileName, QString* error)
{
    // Only a regular file, opened without blocking: a pipe or a device is refused at once.
    QByteArray script;
    QString why;
    if (!FileTarget::read(fileName, MaxFileSize, &script, &why)) {
        *error = QStringLiteral("%1: cannot be read: %2").arg(fileName, why);
        return false;
    }
    if (script.size() > MaxFileSize) {
        *error = QStringLiteral("%1: larger than %2 bytes, not a command script")
                     .arg(fileName)
                     .arg(MaxFileSize);
        return false;
    }
    return parse(script, fileName, error);
}

bool ScriptRunner::parse(const QByteArray& script, const QString& name, QString* error)
{
    static const QRegularExpression commandLine(QStringLiteral("^([A-Za-z]+)\\s+(.*)$"));
    QList<Command> commands;
    const QList<QByteArray> lines = script.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const int lineNumber = i + 1;
        const auto fail = [&](const QString& why) {
            *error = QStringLiteral("%1:%2: %3").arg(name).arg(lineNumber).arg(why);
            return false;
        };
        QString line = QString::fromLatin1(lines.at(i));
        const qsizetype comment = line.indexOf(QStringLiteral("//"));
        if (comment >= 0)
            line.truncate(comment);
        line = line.trimmed();
        if (line.isEmpty())
            continue;

        const QRegularExpressionMatch match = commandLine.match(line);
        const QString mnemonic = match.hasMatch() ? match.captured(1).toUpper() : line;
        Command command{lineNumber, line, 0, 0, 0, 0};
        int wanted = 0;
        if (mnemonic == QLatin1String("SAP")) {
            command.command = vokt::SetAxisParameter;
            wanted = 3;
        } else if (mnemonic == QLatin1String("STAP")) {
            command.command = vokt::StoreAxisParameter;
            wanted = 2;
        } else {
            return fail(QStringLiteral("unknown command \"%1\" (SAP or STAP expected)")
                            .arg(InputText::shown(line.section(QLatin1Char(' '), 0, 0))));
        }
        QStringList arguments;
        if (match.hasMatch())
            arguments = match.captured(2).split(QLatin1Char(','));
        for (QString& argument : arguments)
            argument = argument.trimmed();
        if (arguments.size() != wanted)
            return fail(wanted == 3 ? QStringLiteral("SAP wants three numbers: parameter, "
                                                     "motor/bank, value")
                                    : QStringLiteral("STAP wants two numbers: parameter, "
                                                     "motor/bank"));
        QString why;
        qint64 type = 0;
        qint64 motorBank = 0;
        qint64 value = 0;
        if (!parseNumber(arguments.at(0), 0, 255, "parameter number", &type, &why) ||
            !parseNumber(arguments.at(1), 0, 255, "motor/bank", &motorBank, &why) ||
            (wanted == 3 &&
             !parseNumber(arguments.at(2), std::numeric_limits<qint32>::min(),
                          std::numeric_limits<qint32>::max(), "value", &value, &why)))
            return fail(why);
        command.type = static_cast<quint8>(type);
        command.motorBank = static_cast<quint8>(motorBank);
        command.value = static_cast<qint32>(value);
        commands.append(command);
    }
    if (commands.isEmpty()) {
        *error = QStringLiteral("%1: holds no SAP or STAP command").arg(name);
        return false;
    }
    m_commands = commands;
    return true;
}

ScriptRunner::Result ScriptRunner::run(SerialUSBCommandHandler& handler, bool keepGoing,
                                       const std::function<void(const Failure&)>& failed,
                                       const std::function<bool(int, int)>& progress) const
{
    Result result;
    const int total = static_cast<int>(m_commands.size());
    for (const Command& command : m_commands) {
        const std::optional<VOKTUSBReply> reply =
            handler.exchange(command.command, command.type, command.motorBank, command.value).reply;
        ++result.sent;
        bool goOn = !progress || progress(result.sent, total);
        if (!reply || reply->status() != vokt::StatusOk) {
            ++result.failed;
            if (failed)
                failed(Failure{command, reply.has_value(), reply ? reply->status() : quint8(0),
                               reply ? reply->value() : 0});
            goOn = goOn && keepGoing && handler.isOpen();
        }
        if (!goOn) {
            result.stopped = result.sent < total;
            break;
        }
    }
    return result;
}

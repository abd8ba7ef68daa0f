#include "config/CommandScript.h"

#include "comm/DebugLine.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/VOKTUSBReply.h"
#include "config/FileKind.h"
#include "config/FileTarget.h"
#include "config/ModuleExchange.h"
#include "config/ParameterCatalogue.h"

namespace CommandScript {

bool exportTo(const QString& fileName, SerialUSBCommandHandler& handler,
              const ModuleExchange::Progress& progress, QString* error, bool force)
{
    DebugLine() << "export to: " << fileName;
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (!handler.isOpen()) {
        DebugLine() << "could not read parameters: is module open?";
        return fail(QStringLiteral("the link is not open"));
    }
    // Nothing is read for a file that cannot be written, or that holds something else.
    const QString problem = FileKind::targetProblem(fileName, FileKind::Kind::Script, force);
    if (!problem.isEmpty()) {
        DebugLine() << "could not open the script file for writing: " << fileName << problem;
        return fail(problem);
    }

    QByteArray script;
    int section = -1;
    const auto read = [&](const ParameterCatalogue::ConfigurationParameter& p, QString* failure) {
        if (p.section != section) {
            section = p.section;
            script += ParameterCatalogue::sections().at(section).scriptHeader;
        }
        const QString lines = scriptLines(handler, p.number, QLatin1String(p.comment), failure);
        script += lines.toLatin1();
        if (p.blankLineAfter)
            script += '\n';
        return !lines.isEmpty();
    };
    QString why;
    if (!ModuleExchange::readConfiguration(handler, read, progress, "no script written", fileName,
                                           &why))
        return fail(why);
    // Written aside and put in place at the end, so the file never holds half a script.
    if (!FileTarget::replace(fileName, script, &why)) {
        DebugLine() << "export failed: could not write the script file: " << fileName << why;
        return fail(QStringLiteral("could not be written: %1").arg(why));
    }
    DebugLine() << "export ready.";
    return true;
}

QString scriptLines(SerialUSBCommandHandler& handler, vokt::ParameterNumber number,
                    const QString& comment, QString* why)
{
    QString failure;
    const std::optional<qint32> value = ModuleExchange::valueRead(handler, number, &failure);
    if (why)
        *why = failure;
    if (!value) {
        DebugLine() << "could not receive parameter " << QString::number(number) << " from module!";
        return QString();
    }
    const QString numberText = QString::number(number);
    const QString motorBank = QStringLiteral("0");
    return QStringLiteral("SAP %1, %2, %3 %4\n")
               .arg(numberText, motorBank, QString::number(*value), comment) +
           QStringLiteral("STAP %1, %2 \n").arg(numberText, motorBank);
}

} // namespace CommandScript

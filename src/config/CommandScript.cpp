#include "CommandScript.h"

#include "DebugLine.h"
#include "ModuleExchange.h"
#include "ParameterCatalogue.h"
#include "SerialUSBCommandHandler.h"
#include "VOKTUSBReply.h"

#include <QSaveFile>

namespace CommandScript {

namespace {

constexpr int GetAxisParameter = 6;

} // namespace

bool exportTo(const QString& fileName, SerialUSBCommandHandler& handler,
              const ModuleExchange::Progress& progress)
{
    DebugLine() << "export to: " << fileName;
    if (!handler.isOpen()) {
        DebugLine() << "could not read parameters: is module open?";
        return false;
    }
    // Written aside and put in place at the end, so the file never holds half a script.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        DebugLine() << "could not open the script file for writing: " << fileName
                    << file.errorString();
        return false;
    }

    const QList<ParameterCatalogue::ConfigurationParameter>& table =
        ParameterCatalogue::configuration();
    const int total = static_cast<int>(table.size());
    SerialUSBCommandHandler::Batch batch(handler);
    bool complete = true;
    int section = -1;
    int done = 0;
    for (const ParameterCatalogue::ConfigurationParameter& p : table) {
        if (p.section != section) {
            section = p.section;
            file.write(ParameterCatalogue::sections().at(section).scriptHeader);
        }
        const QString lines =
            scriptLines(handler, static_cast<char>(p.number), QLatin1String(p.comment));
        complete = complete && !lines.isEmpty();
        file.write(lines.toLatin1());
        if (p.blankLineAfter)
            file.write("\n");
        ++done;
        if (!ModuleExchange::carryOn(progress, done, total) && done < total) {
            file.cancelWriting();
            DebugLine() << "export cancelled after " << QString::number(done) << " of "
                        << QString::number(total) << " parameters; no script written: " << fileName;
            return false;
        }
    }
    if (!complete) {
        // Discarded when the file is destroyed uncommitted.
        file.cancelWriting();
        DebugLine() << "export failed: not every parameter could be read; no script written: "
                    << fileName;
        return false;
    }
    // A value may be the answer to another parameter's request.
    if (!batch.isClean()) {
        file.cancelWriting();
        DebugLine() << "export failed: the line is not clean; no script written: " << fileName;
        return false;
    }
    if (!file.commit()) {
        DebugLine() << "export failed: could not write the script file: " << fileName
                    << file.errorString();
        return false;
    }
    DebugLine() << "export ready.";
    return true;
}

QString scriptLines(SerialUSBCommandHandler& handler, char type, const QString& comment)
{
    const int number = static_cast<quint8>(type);
    std::unique_ptr<VOKTUSBReply> reply;
    if (handler.isOpen())
        reply = ModuleExchange::axisParameter(handler, GetAxisParameter, number);
    if (!reply) {
        DebugLine() << "could not receive parameter " << QString::number(number) << " from module!";
        return QString();
    }
    const QString numberText = QString::number(number);
    const QString motorBank = QStringLiteral("0");
    return QStringLiteral("SAP %1, %2, %3 %4\n")
               .arg(numberText, motorBank, QString::number(reply->value()), comment) +
           QStringLiteral("STAP %1, %2 \n").arg(numberText, motorBank);
}

} // namespace CommandScript

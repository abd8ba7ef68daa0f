#include "config/ModuleExchange.h"

#include "comm/DebugLine.h"
#include "comm/SerialUSBCommandHandler.h"

namespace ModuleExchange {

bool carryOn(const Progress& progress, int done, int total)
{
    return !progress || progress(done, total);
}

bool readConfiguration(SerialUSBCommandHandler& handler, const ReadParameter& read,
                       const Progress& progress, const char* outcome, const QString& fileName,
                       QString* why)
{
    why->clear();
    const QByteArray onFile = QByteArray("; ") + outcome + ": ";
    const QList<ParameterCatalogue::ConfigurationParameter>& table =
        ParameterCatalogue::configuration();
    const int total = static_cast<int>(table.size());
    SerialUSBCommandHandler::Batch batch(handler);
    bool complete = true;
    int done = 0;
    for (const ParameterCatalogue::ConfigurationParameter& p : table) {
        complete = read(p) && complete;
        ++done;
        if (!carryOn(progress, done, total) && done < total) {
            DebugLine() << "export cancelled after " << QString::number(done) << " of "
                        << QString::number(total) << (" parameters" + onFile).constData()
                        << fileName;
            return false;
        }
    }
    if (!complete) {
        *why = QStringLiteral("not every parameter could be read");
    } else if (!batch.isClean()) {
        // A value may be the answer to another parameter's request.
        *why = QStringLiteral("the line is not clean");
    } else {
        return true;
    }
    DebugLine() << ("export failed: " + why->toLatin1() + onFile).constData() << fileName;
    return false;
}

} // namespace ModuleExchange

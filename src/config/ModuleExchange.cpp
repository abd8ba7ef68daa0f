#include "config/ModuleExchange.h"

#include "comm/DebugLine.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"

namespace ModuleExchange {

bool carryOn(const Progress& progress, int done, int total)
{
    return !progress || progress(done, total);
}

std::optional<qint32> valueRead(SerialUSBCommandHandler& handler, quint8 number, QString* why)
{
    if (!handler.isOpen()) {
        if (why)
            *why = SerialUSBCommandHandler::failureText(SerialUSBCommandHandler::Failure::LinkLost);
        return std::nullopt;
    }
    const SerialUSBCommandHandler::Outcome outcome =
        handler.exchange(vokt::GetAxisParameter, number, 0, 0);
    if (outcome.ok())
        return outcome.reply->value();
    if (why) {
        *why = SerialUSBCommandHandler::failureText(outcome.failure);
        if (outcome.failure == SerialUSBCommandHandler::Failure::Refused)
            *why += QStringLiteral(" (status %1)").arg(outcome.reply->status());
    }
    return std::nullopt;
}

QString failedParameters(const QStringList& failures)
{
    constexpr int Named = 5;
    QString text = failures.mid(0, Named).join(QStringLiteral(", "));
    if (failures.size() > Named)
        text += QStringLiteral(" and %1 more").arg(failures.size() - Named);
    return text;
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
    QStringList failures;
    int done = 0;
    for (const ParameterCatalogue::ConfigurationParameter& p : table) {
        QString failure;
        if (!read(p, &failure))
            failures << QStringLiteral("%1 (%2): %3")
                            .arg(ParameterCatalogue::nameOf(p.number))
                            .arg(p.number)
                            .arg(failure);
        ++done;
        if (!carryOn(progress, done, total) && done < total) {
            DebugLine() << "export cancelled after " << QString::number(done) << " of "
                        << QString::number(total) << (" parameters" + onFile).constData()
                        << fileName;
            return false;
        }
    }
    // On a line that was not clean no value can be trusted, whatever else went wrong.
    if (!batch.isClean()) {
        // A value may be the answer to another parameter's request.
        *why = QStringLiteral("the line is not clean");
    } else if (!failures.isEmpty()) {
        *why =
            QStringLiteral("not every parameter could be read: %1").arg(failedParameters(failures));
    } else {
        return true;
    }
    DebugLine() << ("export failed: " + why->toLatin1() + onFile).constData() << fileName;
    return false;
}

} // namespace ModuleExchange

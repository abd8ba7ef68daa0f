#include "config/ParameterStore.h"

#include "comm/DebugLine.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/VOKTUSBReply.h"
#include "config/ModuleExchange.h"
#include "config/ParameterCatalogue.h"

namespace ParameterStore {

namespace {

constexpr int Numbers = vokt::ParameterNumbers;

bool isSetting(vokt::ParameterNumber number)
{
    for (const ParameterCatalogue::ConfigurationParameter& p : ParameterCatalogue::configuration())
        if (p.number == number)
            return true;
    return false;
}

// "stored 45, refused 211", and the settings among the refused with their status.
void logTally(int command, const Tally& tally)
{
    DebugLine().plain(QStringLiteral("%1 %2, refused %3")
                          .arg(command == vokt::RestoreAxisParameter ? QStringLiteral("restored")
                                                                     : QStringLiteral("stored"))
                          .arg(tally.accepted)
                          .arg(tally.refused));
    if (tally.refusedSettings.isEmpty())
        return;
    QStringList refused;
    for (const Tally::Refusal& r : tally.refusedSettings)
        refused << QStringLiteral("%1 (status %2)").arg(r.number).arg(r.status);
    DebugLine().plain(QStringLiteral("the module refused %1 of the configuration: %2")
                          .arg(tally.refusedSettings.size())
                          .arg(refused.join(QStringLiteral(", "))));
}

QList<vokt::ParameterNumber> everyNumber()
{
    QList<vokt::ParameterNumber> numbers;
    for (int number = 0; number < Numbers; ++number)
        numbers << static_cast<vokt::ParameterNumber>(number);
    return numbers;
}

QList<vokt::ParameterNumber> settingNumbers()
{
    QList<vokt::ParameterNumber> numbers;
    for (const ParameterCatalogue::ConfigurationParameter& p : ParameterCatalogue::configuration())
        numbers << p.number;
    return numbers;
}

bool walk(SerialUSBCommandHandler& handler, int command,
          const QList<vokt::ParameterNumber>& numbers, const ModuleExchange::Progress& progress,
          Tally* tally)
{
    // The walk runs to its last number unless it is cancelled: after a lost link every
    // remaining number says so.
    Tally counted;
    bool complete = true;
    const int total = static_cast<int>(numbers.size());
    for (int i = 0; i < total; ++i) {
        const vokt::ParameterNumber number = numbers.at(i);
        quint8 status = 0;
        const bool answered = storeOrRestore(handler, command, number, &status);
        complete = answered && complete;
        ++counted.walked;
        if (answered && status == vokt::StatusOk) {
            ++counted.accepted;
        } else if (answered) {
            ++counted.refused;
            if (isSetting(number))
                counted.refusedSettings.append({number, status});
        }
        const int done = i + 1;
        if (!ModuleExchange::carryOn(progress, done, total) && done < total) {
            logTally(command, counted);
            DebugLine() << (command == vokt::RestoreAxisParameter ? "restore cancelled after "
                                                                  : "store cancelled after ")
                        << QString::number(done) << " of " << QString::number(total)
                        << " parameters";
            if (tally)
                *tally = counted;
            return false;
        }
    }
    logTally(command, counted);
    if (tally)
        *tally = counted;
    return complete;
}

} // namespace

bool storeAll(SerialUSBCommandHandler& handler, const ModuleExchange::Progress& progress,
              Tally* tally)
{
    DebugLine() << "store actual values on module";
    return walk(handler, vokt::StoreAxisParameter, everyNumber(), progress, tally);
}

bool restoreAll(SerialUSBCommandHandler& handler, const ModuleExchange::Progress& progress,
                Tally* tally)
{
    DebugLine() << "restore values on module";
    return walk(handler, vokt::RestoreAxisParameter, everyNumber(), progress, tally);
}

bool storeSettings(SerialUSBCommandHandler& handler, const ModuleExchange::Progress& progress,
                   Tally* tally)
{
    DebugLine() << "store the configuration on module";
    return walk(handler, vokt::StoreAxisParameter, settingNumbers(), progress, tally);
}

bool restoreSettings(SerialUSBCommandHandler& handler, const ModuleExchange::Progress& progress,
                     Tally* tally)
{
    DebugLine() << "restore the configuration on module";
    return walk(handler, vokt::RestoreAxisParameter, settingNumbers(), progress, tally);
}

bool storeOrRestore(SerialUSBCommandHandler& handler, int command, vokt::ParameterNumber number,
                    quint8* status)
{
    std::optional<VOKTUSBReply> reply;
    if (handler.isOpen())
        reply = handler.exchange(static_cast<quint8>(command), number, 0, 0).reply;
    if (!reply) {
        DebugLine() << (command == vokt::RestoreAxisParameter ? "could not restore parameter "
                                                              : "could not store parameter ")
                    << QString::number(number);
        return false;
    }
    DebugLine() << QString::number(number) << ": "
                << QString::number(static_cast<qint8>(reply->status()));
    if (status)
        *status = reply->status();
    // Read back, so that every panel showing the parameter shows the restored value.
    if (command == vokt::RestoreAxisParameter)
        handler.getAxisParameter(0, static_cast<char>(number));
    return true;
}

} // namespace ParameterStore

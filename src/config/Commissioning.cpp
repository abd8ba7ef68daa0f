#include "config/Commissioning.h"

#include "comm/DebugLine.h"
#include "comm/LinkController.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/SerialUSBDevice.h"
#include "config/ParameterCatalogue.h"
#include "config/ParameterStore.h"
#include "config/SettingsComparison.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>

#include <algorithm>

namespace Commissioning {

namespace {

using SettingsComparison::Value;

const QList<ParameterCatalogue::ConfigurationParameter>& configuration()
{
    return ParameterCatalogue::configuration();
}

// "motor_settings/MaxCurrent"
QString nameAt(int index)
{
    const ParameterCatalogue::ConfigurationParameter& p = configuration().at(index);
    return QLatin1String(ParameterCatalogue::sections().at(p.section).group) + QLatin1Char('/') +
           QLatin1String(p.key);
}

int indexOf(int number)
{
    for (int i = 0; i < configuration().size(); ++i)
        if (configuration().at(i).number == number)
            return i;
    return -1;
}

QList<Value> valuesOf(const QList<qint32>& numbers)
{
    QList<Value> values;
    for (qint32 number : numbers)
        values.append(Value::of(number));
    return values;
}

// The line's rate for a probe's deadline: the rate the link set, or, for a port that keeps
// its own settings, the slowest the serial panel offers (a longer wait, never a module
// missed).
int lineRate(const SerialUSBCommandHandler& handler)
{
    const SerialUSBDevice* device = handler.device();
    if (device && device->isBaudRateSet() && device->baudRate() > 0)
        return device->baudRate();
    return vokt::SerialBaudRates[0];
}

// One module's work, its problems gathered as they come.
class ModuleRun
{
public:
    ModuleRun(SerialUSBCommandHandler& handler, const Settings& settings, Result& result,
              const Tick& tick)
        : m_handler(handler), m_settings(settings), m_result(result), m_progress([tick](int, int) {
              if (tick)
                  tick();
              return true;
          })
    {
    }

    void run()
    {
        SerialUSBCommandHandler::Batch batch(m_handler);
        const std::optional<QList<qint32>> before = read(QStringLiteral("reading it"));
        if (!before)
            return;
        if (bringToGolden(*before) && m_settings.store)
            storeAndCheck();
        if (!batch.isClean())
            fail(QStringLiteral("the line is not clean: %1 bytes arrived that answered no "
                                "request (a late answer, a line echo or a second module at "
                                "address %2); a value read may belong to another request")
                     .arg(batch.unansweredBytes())
                     .arg(m_result.address));
        if (!m_settings.recordsDir.isEmpty())
            writeRecord();
    }

private:
    void fail(const QString& problem)
    {
        DebugLine().plain(
            QStringLiteral("commissioning address %1: %2").arg(m_result.address).arg(problem));
        m_result.problems << problem;
    }

    std::optional<QList<qint32>> read(const QString& what)
    {
        QString why;
        std::optional<QList<qint32>> values =
            SettingsComparison::readModule(m_handler, m_progress, &why);
        if (!values)
            fail(QStringLiteral("%1 failed: %2").arg(what, why));
        return values;
    }

    // Writes the values that differ and reads every parameter back; true when the module
    // then holds the golden file.
    bool bringToGolden(const QList<qint32>& before)
    {
        const QList<Value>& golden = m_settings.golden.values;
        const SettingsComparison::Rows rows = SettingsComparison::compare(valuesOf(before), golden);
        QList<SettingsComparison::Assignment> assignments;
        QList<int> indexes;
        for (const SettingsComparison::Row& row : rows) {
            if (row.kind() != SettingsComparison::Kind::Differs)
                continue;
            assignments.append({row.number(), row.second.number});
            indexes << row.index;
        }
        if (assignments.isEmpty())
            return true;

        QList<std::optional<quint8>> statuses;
        SettingsComparison::writeValues(m_handler, assignments, m_progress, &statuses);
        QList<int> named;
        for (int i = 0; i < assignments.size(); ++i) {
            const std::optional<quint8> status = statuses.value(i);
            if (status && *status == vokt::StatusOk) {
                ++m_result.changed;
                continue;
            }
            named << indexes.at(i);
            fail(status ? QStringLiteral("%1 = %2 refused by the module (status %3)")
                              .arg(nameAt(indexes.at(i)))
                              .arg(assignments.at(i).value)
                              .arg(*status)
                        : QStringLiteral("%1 = %2: no answer to the write")
                              .arg(nameAt(indexes.at(i)))
                              .arg(assignments.at(i).value));
        }
        const std::optional<QList<qint32>> after = read(QStringLiteral("reading it back"));
        if (!after)
            return false;
        bool holds = true;
        for (const SettingsComparison::Row& row :
             SettingsComparison::compare(valuesOf(*after), golden)) {
            if (!row.differs())
                continue;
            holds = false;
            if (!named.contains(row.index))
                fail(QStringLiteral("%1: wrote %2, the module answers %3")
                         .arg(row.name(), row.second.shown(), row.first.shown()));
        }
        return holds && m_result.problems.isEmpty();
    }

    // Stores the configuration, restores it and compares what the restore brought back.
    void storeAndCheck()
    {
        ParameterStore::Tally stored;
        const bool storeAnswered = ParameterStore::storeSettings(m_handler, m_progress, &stored);
        for (const ParameterStore::Tally::Refusal& refusal : std::as_const(stored.refusedSettings))
            fail(QStringLiteral("%1: store refused by the module (status %2)")
                     .arg(nameAt(indexOf(refusal.number)))
                     .arg(refusal.status));
        if (!storeAnswered) {
            fail(QStringLiteral("the module did not answer every store"));
            return;
        }

        // A restore reads each parameter back through the handler's slot.
        QMap<int, qint32> restored;
        const QMetaObject::Connection answers =
            QObject::connect(&m_handler, &SerialUSBCommandHandler::requestedValue,
                             [&restored](char motorBank, char type, int value) {
                                 if (motorBank == 0)
                                     restored.insert(static_cast<quint8>(type), value);
                             });
        ParameterStore::Tally tally;
        const bool restoreAnswered = ParameterStore::restoreSettings(m_handler, m_progress, &tally);
        QObject::disconnect(answers);
        for (const ParameterStore::Tally::Refusal& refusal : std::as_const(tally.refusedSettings))
            fail(QStringLiteral("%1: restore refused by the module (status %2)")
                     .arg(nameAt(indexOf(refusal.number)))
                     .arg(refusal.status));
        if (!restoreAnswered) {
            fail(QStringLiteral("the module did not answer every restore"));
            return;
        }
        for (int i = 0; i < configuration().size(); ++i) {
            const int number = configuration().at(i).number;
            const qint32 golden = m_settings.golden.values.at(i).number;
            if (!restored.contains(number))
                fail(QStringLiteral("%1: not read back after the restore").arg(nameAt(i)));
            else if (restored.value(number) != golden)
                fail(QStringLiteral("%1: not kept: %2 after a restore, golden %3")
                         .arg(nameAt(i))
                         .arg(restored.value(number))
                         .arg(golden));
        }
    }

    void writeRecord()
    {
        const QString fileName = recordPath(m_settings.recordsDir, m_result.address);
        QString why;
        std::optional<CommissioningRecord::Snapshot> snapshot =
            CommissioningRecord::take(m_handler, m_progress, &why);
        if (!snapshot) {
            fail(QStringLiteral("no record: the module could not be read: %1").arg(why));
            return;
        }
        snapshot->golden = m_settings.golden;
        if (!CommissioningRecord::write(fileName, *snapshot, &why)) {
            fail(QStringLiteral("%1 could not be written: %2").arg(fileName, why));
            return;
        }
        m_result.record = fileName;
    }

    SerialUSBCommandHandler& m_handler;
    const Settings& m_settings;
    Result& m_result;
    const ModuleExchange::Progress m_progress;
};

} // namespace

QString verdictText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Ok:
        return QStringLiteral("ok");
    case Verdict::Failed:
        return QStringLiteral("failed");
    case Verdict::Absent:
        return QStringLiteral("absent");
    case Verdict::Conflict:
        break;
    }
    return QStringLiteral("conflict");
}

std::optional<CommissioningRecord::Golden> readGolden(const QString& fileName, QString* why)
{
    std::optional<QList<Value>> values = SettingsComparison::readFile(fileName, why);
    if (!values)
        return std::nullopt;
    QStringList lacking;
    for (int i = 0; i < values->size(); ++i)
        if (!values->at(i).isNumber())
            lacking << nameAt(i);
    if (!lacking.isEmpty()) {
        *why = QStringLiteral("holds no whole number for %1%2")
                   .arg(lacking.mid(0, 3).join(QStringLiteral(", ")))
                   .arg(lacking.size() > 3 ? QStringLiteral(" and %1 more").arg(lacking.size() - 3)
                                           : QString());
        return std::nullopt;
    }
    return CommissioningRecord::Golden{fileName, *values};
}

QString recordsProblem(const QString& dir)
{
    const QFileInfo info(dir);
    if (info.exists() && !info.isDir())
        return QStringLiteral("is not a folder");
    if (!info.exists() && !QDir().mkpath(dir))
        return QStringLiteral("could not be made");
    if (!QFileInfo(dir).isWritable())
        return QStringLiteral("cannot be written");
    return QString();
}

QString recordPath(const QString& dir, int address)
{
    return QDir(dir).filePath(QStringLiteral("module-%1.html").arg(address));
}

Result commissionModule(SerialUSBCommandHandler& handler, int address, const Settings& settings,
                        std::optional<ModuleScanner::Presence> presence, const Tick& tick)
{
    QElapsedTimer timer;
    timer.start();
    Result result;
    result.address = address;
    DebugLine().plain(QStringLiteral("commissioning address %1").arg(address));
    if (!presence) {
        presence = ModuleScanner::probe(handler, address, lineRate(handler), settings.turnaroundMs);
        if (tick)
            tick();
    }
    switch (*presence) {
    case ModuleScanner::Presence::Absent:
        result.verdict = Verdict::Absent;
        break;
    case ModuleScanner::Presence::Conflict:
        // Nothing is written where two modules would take it.
        result.verdict = Verdict::Conflict;
        break;
    case ModuleScanner::Presence::LinkLost:
        result.problems << QStringLiteral("the link failed");
        break;
    case ModuleScanner::Presence::Module: {
        handler.setModuleAddress(address);
        ModuleRun(handler, settings, result, tick).run();
        result.verdict = result.problems.isEmpty() ? Verdict::Ok : Verdict::Failed;
        break;
    }
    }
    result.ms = timer.elapsed();
    DebugLine().plain(QStringLiteral("commissioning address %1: %2, %3 values changed, %4 ms")
                          .arg(address)
                          .arg(verdictText(result.verdict))
                          .arg(result.changed)
                          .arg(result.ms));
    return result;
}

Line::Line(SerialUSBCommandHandler& handler, const Plan& plan, LinkController* link)
    : m_handler(handler), m_link(link), m_plan(plan)
{
    std::sort(m_plan.addresses.begin(), m_plan.addresses.end());
    m_plan.addresses.erase(std::unique(m_plan.addresses.begin(), m_plan.addresses.end()),
                           m_plan.addresses.end());
    if (!m_plan.scan)
        for (int address : std::as_const(m_plan.addresses))
            m_targets.append({address, std::nullopt});
}

bool Line::linkUp()
{
    if (m_handler.isOpen())
        return true;
    // A module that fell silent closed the link; the others may well answer.
    if (m_link && m_link->reconnect()) {
        DebugLine().plain(QStringLiteral("commissioning: the link is open again"));
        return true;
    }
    m_failure = QStringLiteral("the link is closed");
    if (m_link && !m_link->closeReason().isEmpty())
        m_failure += QStringLiteral(" (%1)").arg(m_link->closeReason());
    return false;
}

bool Line::scan(const Callbacks& callbacks)
{
    m_scanning = true;
    const int rate = lineRate(m_handler);
    for (int address = m_plan.from; address <= m_plan.to; ++address) {
        if (callbacks.cancelled && callbacks.cancelled()) {
            m_cancelled = true;
            break;
        }
        m_address = address;
        const ModuleScanner::Presence presence =
            ModuleScanner::probe(m_handler, address, rate, m_plan.settings.turnaroundMs);
        ++m_probesDone;
        if (presence == ModuleScanner::Presence::LinkLost) {
            m_failure =
                QStringLiteral("the link failed during the scan at address %1").arg(address);
            break;
        }
        if (presence != ModuleScanner::Presence::Absent)
            m_targets.append({address, presence});
        if (callbacks.progress)
            callbacks.progress(*this);
    }
    m_scanning = false;
    return !m_cancelled && m_failure.isEmpty();
}

void Line::run(const Callbacks& callbacks)
{
    m_timer.start();
    const int original = m_handler.moduleAddress();
    // Each module's batches end with a read rather than a wait of their own.
    m_handler.setClosingRead(true);
    if (!m_plan.scan || scan(callbacks)) {
        const Tick tick = [this, &callbacks] {
            if (callbacks.progress)
                callbacks.progress(*this);
        };
        for (const Target& target : std::as_const(m_targets)) {
            if (callbacks.cancelled && callbacks.cancelled()) {
                m_cancelled = true;
                break;
            }
            if (!linkUp())
                break;
            m_address = target.address;
            const Result result =
                commissionModule(m_handler, target.address, m_plan.settings, target.presence, tick);
            m_results << result;
            if (callbacks.result)
                callbacks.result(result);
            if (!result.ok() && !m_plan.keepGoing)
                break;
        }
    }
    m_handler.setClosingRead(false);
    m_handler.setModuleAddress(original);
    DebugLine().plain(summary());
}

int Line::okCount() const
{
    return static_cast<int>(std::count_if(m_results.cbegin(), m_results.cend(),
                                          [](const Result& r) { return r.ok(); }));
}

bool Line::allOk() const
{
    return !m_targets.isEmpty() && okCount() == moduleCount();
}

QString Line::summary() const
{
    return QStringLiteral("commissioned %1 of %2 modules in %3 s")
        .arg(okCount())
        .arg(moduleCount())
        .arg(QString::number(elapsedMs() / 1000.0, 'f', 1));
}

} // namespace Commissioning

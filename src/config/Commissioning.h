#pragma once

#include "comm/ModuleScanner.h"
#include "config/CommissioningRecord.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class LinkController;
class SerialUSBCommandHandler;

// Commissioning: brings every module of a line to the golden settings, proves that each
// holds them (and, when asked, that its non-volatile memory keeps them), and keeps a record
// of each. Built of the operations the menu offers one at a time: the comparison with a
// settings file, the writes of an import with their read-back, store and restore, the
// commissioning record and the scan's probe.
//
// For one module: a probe with the scan's short deadline (nobody there, or more than one
// module, ends it: nothing is written then); the 44 parameters read and compared with the
// golden file; only the values that differ written, then all 44 read back and compared
// again; with store, the 44 stored and restored, each restored value read back and
// compared; with records, the record written. A module that already matches costs the
// probe and one read of its configuration.
namespace Commissioning {

enum class Verdict
{
    Ok,
    // A value refused, not kept or not read back; the line was not clean; a record not
    // written.
    Failed,
    // Nobody answers at the address.
    Absent,
    // More than one module answers at the address.
    Conflict
};

// "ok", "failed", "absent", "conflict"
QString verdictText(Verdict verdict);

// What to do with each module.
struct Settings
{
    // Every value a whole number (see readGolden()).
    CommissioningRecord::Golden golden;
    bool store = false;
    // The folder of the records; empty: no records.
    QString recordsDir;
    // The time a module has to turn a probe round (see ModuleScanner).
    int turnaroundMs = ModuleScanner::TurnaroundMarginMs;
};

// What became of one module.
struct Result
{
    int address = 0;
    Verdict verdict = Verdict::Failed;
    // The values written that the module took.
    int changed = 0;
    qint64 ms = 0;
    // Why it failed, one text each; a parameter to blame is named
    // ("motor_settings/MaxCurrent = 250000 refused by the module (status 4)").
    QStringList problems;
    // The record written; empty when none.
    QString record;

    bool ok() const { return verdict == Verdict::Ok; }
};

// The golden file: a settings file that holds every key of the configuration as a whole
// number. Nothing, with *why, for any other (a file that is no settings file, a key
// missing or not a whole number: a module could never be proved to match it).
std::optional<CommissioningRecord::Golden> readGolden(const QString& fileName, QString* why);

// Why dir cannot take the records (it is no folder, cannot be made or written); empty when
// it can. A folder that does not exist yet is made.
QString recordsProblem(const QString& dir);
// "DIR/module-<address>.html"
QString recordPath(const QString& dir, int address);

// Told after every exchange of a module; for a window to serve its events.
using Tick = std::function<void()>;

// Commissions the module at address on the line the handler has open. presence: what a
// scan found there; nothing to probe the address first. The handler's module address is
// left at address.
Result commissionModule(SerialUSBCommandHandler& handler, int address, const Settings& settings,
                        std::optional<ModuleScanner::Presence> presence, const Tick& tick = {});

// A line of modules, in address order.
//
//     Commissioning::Line line(handler, plan, &link);
//     line.run({showProgress, printResult, [] { return StopSignals::requested(); }});
//     print(line.summary());
class Line
{
public:
    struct Plan
    {
        Settings settings;
        // The addresses to commission, each probed first; or, with scan, every address
        // from..to probed and whoever answers commissioned.
        QList<int> addresses;
        bool scan = false;
        int from = 1;
        int to = 255;
        // Without it the line ends at the first module that is not ok.
        bool keepGoing = false;
    };
    struct Callbacks
    {
        // After every exchange and probe.
        std::function<void(const Line&)> progress;
        // Each module's result as soon as it is known.
        std::function<void(const Result&)> result;
        // Asked before every module and probe: true ends the line there; the module in
        // progress is finished first.
        std::function<bool()> cancelled;
    };

    // link may be null: then a link that a module's silence closed is not opened again for
    // the next module, and the line ends there.
    Line(SerialUSBCommandHandler& handler, const Plan& plan, LinkController* link = nullptr);

    // Runs the line to its end. The handler's module address is as before afterwards.
    void run(const Callbacks& callbacks);

    bool scanning() const { return m_scanning; }
    int probesDone() const { return m_probesDone; }
    int probeCount() const { return m_plan.to - m_plan.from + 1; }
    // The modules to commission (listed, or found by the scan) and those done.
    int moduleCount() const { return static_cast<int>(m_targets.size()); }
    int modulesDone() const { return static_cast<int>(m_results.size()); }
    // The address in progress.
    int address() const { return m_address; }
    const QList<Result>& results() const { return m_results; }
    int okCount() const;
    bool allOk() const;
    // Ended by a cancel.
    bool cancelled() const { return m_cancelled; }
    // Why the line ended before its last module (a link that failed), if it did.
    const QString& failure() const { return m_failure; }
    qint64 elapsedMs() const { return m_timer.isValid() ? m_timer.elapsed() : 0; }
    // "commissioned N of M modules in S s"
    QString summary() const;

private:
    struct Target
    {
        int address;
        std::optional<ModuleScanner::Presence> presence;
    };
    bool scan(const Callbacks& callbacks);
    bool linkUp();

    SerialUSBCommandHandler& m_handler;
    LinkController* m_link;
    Plan m_plan;
    QList<Target> m_targets;
    QList<Result> m_results;
    QElapsedTimer m_timer;
    QString m_failure;
    int m_probesDone = 0;
    int m_address = 0;
    bool m_scanning = false;
    bool m_cancelled = false;
};

} // namespace Commissioning

// Commissioning a line of modules: a simulated bus brought to a golden file, what reached
// each module, the records, and the command that does it.

#include "comm/LinkController.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/VOKTRequest.h"
#include "config/Commissioning.h"
#include "config/ParameterCatalogue.h"
#include "sim/ServedModule.h"
#include "sim/SimulatedModule.h"
#include "support/CliProcess.h"
#include "support/LogCapture.h"

#include <QMutex>
#include <QProcess>
#include <QSettings>
#include <QtTest>

namespace {

// Room for a busy machine: the probe's deadline is not what these tests look at.
constexpr int Turnaround = 60;

const QList<ParameterCatalogue::ConfigurationParameter>& configuration()
{
    return ParameterCatalogue::configuration();
}

// The simulated module's own values, with changes: the golden file of the tests.
CommissioningRecord::Golden golden(const QMap<int, qint32>& changes)
{
    SimulatedModule module;
    CommissioningRecord::Golden file{QStringLiteral("golden.ini"), {}};
    for (const ParameterCatalogue::ConfigurationParameter& p : configuration())
        file.values.append(
            SettingsComparison::Value::of(changes.value(p.number, module.axisParameter(p.number))));
    return file;
}

void writeGolden(const QString& path, const CommissioningRecord::Golden& golden)
{
    QSettings settings(path, QSettings::IniFormat);
    for (int i = 0; i < configuration().size(); ++i) {
        const ParameterCatalogue::ConfigurationParameter& p = configuration().at(i);
        settings.setValue(QLatin1String(ParameterCatalogue::sections().at(p.section).group) +
                              QLatin1Char('/') + QLatin1String(p.key),
                          golden.values.at(i).number);
    }
}

// The frames that reached the bus, by address: "command type" each.
class Frames
{
public:
    void note(const QByteArray& frame)
    {
        QMutexLocker lock(&m_mutex);
        m_byAddress[quint8(frame.at(0))]
            << QStringLiteral("%1 %2").arg(quint8(frame.at(1))).arg(quint8(frame.at(2)));
    }
    QStringList at(int address)
    {
        QMutexLocker lock(&m_mutex);
        return m_byAddress.value(address);
    }
    // The commands of the frames to address, each once.
    QSet<int> commandsAt(int address)
    {
        QSet<int> commands;
        for (const QString& frame : at(address))
            commands << frame.section(QLatin1Char(' '), 0, 0).toInt();
        return commands;
    }

private:
    QMutex m_mutex;
    QMap<int, QStringList> m_byAddress;
};

} // namespace

class TestCommission : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void lineOfModules_data();
    void lineOfModules();
    void refusedValueEndsTheLine();
    void cancelEndsAfterTheModuleInProgress();
    void aSilentModuleDoesNotEndTheLine();
    void commandLine();

private:
    qint32 held(int index, int number)
    {
        qint32 value = 0;
        m_served->withModule(index, [&](SimulatedModule& m) { value = m.axisParameter(number); });
        return value;
    }
    void setHeld(int index, int number, qint32 value)
    {
        m_served->withModule(index, [&](SimulatedModule& m) {
            m.handle(
                VOKTRequest(quint8(m.address()), vokt::SetAxisParameter, quint8(number), 0, value));
        });
    }
    Commissioning::Line::Plan plan(const QList<int>& addresses,
                                   const CommissioningRecord::Golden& file)
    {
        Commissioning::Line::Plan plan;
        plan.addresses = addresses;
        plan.settings.golden = file;
        plan.settings.turnaroundMs = Turnaround;
        return plan;
    }

    // Modules at 3, 5, 7 and again 7; nobody at 4.
    std::unique_ptr<ServedModule> m_served;
    std::unique_ptr<Frames> m_frames;
    std::unique_ptr<SerialUSBCommandHandler> m_handler;
    std::unique_ptr<LinkController> m_link;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<LogCapture> m_log;
};

void TestCommission::init()
{
    m_frames = std::make_unique<Frames>();
    m_served = std::make_unique<ServedModule>(QList<int>{3, 5, 7, 7});
    m_served->setRequestObserver(
        [frames = m_frames.get()](const QByteArray& frame) { frames->note(frame); });
    QString error;
    QVERIFY2(m_served->start(&error), qPrintable(error));
    m_handler = std::make_unique<SerialUSBCommandHandler>();
    m_link = std::make_unique<LinkController>(*m_handler);
    QVERIFY(m_link->open({m_served->portName(), QString(), 115200, 1}));
    m_dir = std::make_unique<QTemporaryDir>();
    m_log = std::make_unique<LogCapture>();
}

void TestCommission::cleanup()
{
    m_log.reset();
    m_link.reset();
    m_handler.reset();
    m_served.reset();
    m_frames.reset();
    m_dir.reset();
}

void TestCommission::lineOfModules_data()
{
    QTest::addColumn<bool>("store");
    QTest::newRow("compared and written") << false;
    QTest::newRow("stored and recorded") << true;
}

void TestCommission::lineOfModules()
{
    QFETCH(bool, store);
    const QMap<int, qint32> changes{{ParameterCatalogue::MaxCurrent, 2500},
                                    {ParameterCatalogue::Acceleration, 1500},
                                    {140, 2100}};
    const CommissioningRecord::Golden file = golden(changes);
    // Module 5 holds the golden values already; module 3 its own.
    for (auto it = changes.cbegin(); it != changes.cend(); ++it)
        setHeld(1, it.key(), it.value());

    Commissioning::Line::Plan line = plan({7, 5, 4, 3}, file);
    line.keepGoing = true;
    line.settings.store = store;
    if (store)
        line.settings.recordsDir = m_dir->filePath(QStringLiteral("records"));
    if (store)
        QCOMPARE(Commissioning::recordsProblem(line.settings.recordsDir), QString());
    Commissioning::Line commissioning(*m_handler, line);
    QList<int> reported;
    commissioning.run({{}, [&](const Commissioning::Result& r) { reported << r.address; }, {}});

    // In address order, each reported as it was done.
    QCOMPARE(reported, (QList<int>{3, 4, 5, 7}));
    const QList<Commissioning::Result>& results = commissioning.results();
    QStringList verdicts;
    for (const Commissioning::Result& r : results)
        verdicts << QStringLiteral("%1 %2 %3")
                        .arg(r.address)
                        .arg(Commissioning::verdictText(r.verdict))
                        .arg(r.changed);
    QCOMPARE(verdicts, (QStringList{"3 ok 3", "4 absent 0", "5 ok 0", "7 conflict 0"}));
    QVERIFY2(results.at(0).problems.isEmpty(), qPrintable(results.at(0).problems.join('\n')));
    QCOMPARE(commissioning.summary().section(QLatin1String(" in "), 0, 0),
             QStringLiteral("commissioned 2 of 4 modules"));
    QVERIFY(!commissioning.allOk());
    QCOMPARE(m_handler->moduleAddress(), 1);

    // Module 3 holds every golden value now, and with store keeps them: its stored copy
    // comes back on a restore.
    for (int i = 0; i < configuration().size(); ++i)
        QCOMPARE(held(0, configuration().at(i).number), file.values.at(i).number);
    if (store) {
        setHeld(0, ParameterCatalogue::MaxCurrent, 1234);
        m_served->withModule(0, [](SimulatedModule& m) {
            m.handle(
                VOKTRequest(3, vokt::RestoreAxisParameter, ParameterCatalogue::MaxCurrent, 0, 0));
        });
        QCOMPARE(held(0, ParameterCatalogue::MaxCurrent), 2500);
    }

    // Nothing but the probe reached the two modules at 7; no value was written to module 5,
    // which matched: reads, and with store its store and restore.
    QCOMPARE(m_frames->at(7), (QStringList{"6 0"}));
    const QSet<int> atFive = m_frames->commandsAt(5);
    QVERIFY(!atFive.contains(vokt::SetAxisParameter));
    QCOMPARE(atFive.contains(vokt::StoreAxisParameter), store);
    QCOMPARE(m_frames->at(3).count(QStringLiteral("5 %1").arg(ParameterCatalogue::MaxCurrent)), 1);
    QCOMPARE(m_frames->at(4), (QStringList{"6 0"}));

    // The records of the modules that answered, each against the golden file.
    if (store) {
        for (int address : {3, 5}) {
            QCOMPARE(results.at(address == 3 ? 0 : 2).record,
                     Commissioning::recordPath(line.settings.recordsDir, address));
            const QByteArray page = readFile(results.at(address == 3 ? 0 : 2).record);
            QVERIFY(page.contains("matches golden.ini"));
            QVERIFY(page.contains(QStringLiteral("<td>%1</td>").arg(address).toUtf8()));
        }
        QCOMPARE(QDir(line.settings.recordsDir).entryList(QDir::Files),
                 (QStringList{"module-3.html", "module-5.html"}));
    }
}

void TestCommission::refusedValueEndsTheLine()
{
    // The module refuses a max. current beyond its range: the value is named, the module
    // fails, and without keep-going the line ends there.
    const CommissioningRecord::Golden file = golden(
        {{ParameterCatalogue::MaxCurrent, 250000}, {ParameterCatalogue::Acceleration, 1500}});
    Commissioning::Line commissioning(*m_handler, plan({3, 5}, file));
    commissioning.run({});
    QCOMPARE(commissioning.results().size(), 1);
    const Commissioning::Result& result = commissioning.results().constFirst();
    QCOMPARE(result.verdict, Commissioning::Verdict::Failed);
    QCOMPARE(result.changed, 1);
    QCOMPARE(result.problems,
             QStringList{
                 "motor_and_module_settings/MaxCurrent = 250000 refused by the module (status 4)"});
    QCOMPARE(held(0, ParameterCatalogue::Acceleration), 1500);
    QVERIFY(m_frames->at(5).isEmpty());
    QCOMPARE(commissioning.summary().section(QLatin1String(" in "), 0, 0),
             QStringLiteral("commissioned 0 of 2 modules"));
}

void TestCommission::cancelEndsAfterTheModuleInProgress()
{
    // A cancel asked for during module 3 lets it finish; module 5 is not touched.
    bool cancel = false;
    Commissioning::Line commissioning(
        *m_handler, plan({3, 5}, golden({{ParameterCatalogue::Acceleration, 1500}})));
    commissioning.run({[&cancel](const Commissioning::Line&) { cancel = true; },
                       {},
                       [&cancel] { return cancel; }});
    QVERIFY(commissioning.cancelled());
    QCOMPARE(commissioning.results().size(), 1);
    QCOMPARE(commissioning.results().constFirst().verdict, Commissioning::Verdict::Ok);
    QCOMPARE(held(0, ParameterCatalogue::Acceleration), 1500);
    QVERIFY(m_frames->at(5).isEmpty());
}

void TestCommission::aSilentModuleDoesNotEndTheLine()
{
    // Module 3 falls silent after its probe: its time-out closes the port, which is opened
    // again for module 5.
    Commissioning::Line::Plan line =
        plan({3, 5}, golden({{ParameterCatalogue::Acceleration, 1500}}));
    line.keepGoing = true;
    Commissioning::Line commissioning(*m_handler, line, m_link.get());
    commissioning.run({[this](const Commissioning::Line& at) {
                           if (at.address() == 3)
                               m_served->peer().setSilent(true);
                       },
                       [this](const Commissioning::Result&) { m_served->peer().setSilent(false); },
                       {}});
    QCOMPARE(commissioning.results().size(), 2);
    const Commissioning::Result& silent = commissioning.results().at(0);
    QCOMPARE(silent.verdict, Commissioning::Verdict::Failed);
    QVERIFY2(silent.problems.constFirst().startsWith("reading it failed: parameter 253:"),
             qPrintable(silent.problems.join('\n')));
    QCOMPARE(commissioning.results().at(1).verdict, Commissioning::Verdict::Ok);
    QCOMPARE(held(1, ParameterCatalogue::Acceleration), 1500);
    QVERIFY(m_link->isOpen());
}

void TestCommission::commandLine()
{
    // The command against the simulator command's bus: one line per module, the summary,
    // the exit status; a golden file that lacks a key sends nothing.
    QTemporaryDir dir;
    QProcess sim;
    sim.start(QStringLiteral(ZIRO_SIM_COMMAND), {"--link", dir.filePath("bus"), "--address",
                                                 "2,6,6", "--log", dir.filePath("received.log")});
    QVERIFY(sim.waitForStarted() && sim.waitForReadyRead(10000));
    const QStringList line{"--port", dir.filePath("bus"), "--quiet", "commission"};
    writeGolden(dir.filePath("golden.ini"), golden({{ParameterCatalogue::Acceleration, 1500}}));

    QSettings(dir.filePath("partial.ini"), QSettings::IniFormat)
        .setValue(QStringLiteral("motion_settings/Acceleration"), 1500);
    Run run = cli(line + QStringList{dir.filePath("partial.ini"), "--addresses", "2"});
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains("holds no whole number for motor_and_module_settings/MotorPoles"),
             qPrintable(run.err));
    QCOMPARE(readFile(dir.filePath("received.log")), QByteArray());

    run = cli(line + QStringList{dir.filePath("golden.ini"), "--addresses", "6,2,4", "--keep-going",
                                 "--turnaround", QString::number(Turnaround)});
    QCOMPARE(run.exitCode, 1);
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QVERIFY2(QRegularExpression("^2\tok\t1\t\\d+\\.\\d\\d$").match(lines.at(0)).hasMatch(),
             qPrintable(describe(run)));
    QVERIFY(lines.at(1).startsWith("4\tabsent\t0\t"));
    QVERIFY(lines.at(2).startsWith("6\tconflict\t0\t"));
    QVERIFY(QRegularExpression("^commissioned 1 of 3 modules in \\d+\\.\\d s$")
                .match(lines.at(3))
                .hasMatch());
    QVERIFY(run.err.contains("address 6: more than one module answers; nothing written"));

    // Again: module 2 matches now and takes reads alone.
    const qsizetype before = readFile(dir.filePath("received.log")).count('\n');
    run = cli(line + QStringList{dir.filePath("golden.ini"), "--addresses", "2", "--turnaround",
                                 QString::number(Turnaround)});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.startsWith("2\tok\t0\t"));
    const QList<QByteArray> sent =
        readFile(dir.filePath("received.log")).split('\n').mid(int(before));
    // Gets of axis parameters, and of global parameter 0 that closes the module's batch.
    for (const QByteArray& frame : sent)
        QVERIFY2(frame.isEmpty() || frame.mid(3, 2) == "06" || frame.mid(3, 8) == "0a 00 00",
                 frame.constData());
    sim.terminate();
    QVERIFY(sim.waitForFinished(10000));
}

QTEST_GUILESS_MAIN(TestCommission)
#include "test_commission.moc"

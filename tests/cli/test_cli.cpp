#include "comm/Protocol.h"
#include "comm/VOKTRequest.h"
#include "config/CsvRecorder.h"
#include "config/InputText.h"
#include "config/ParameterCatalogue.h"
#include "sim/PtyPeer.h"
#include "sim/ServedModule.h"
#include "sim/SimulatedModule.h"
#include "support/CliProcess.h"
#include "support/FileSizeLimit.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <thread>

namespace {

// Whatever is at path: its bytes for a regular file, its kind otherwise (reading a pipe
// would wait for a writer).
QByteArray whatIsAt(const QString& path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return "(nothing)";
    if (!S_ISREG(info.st_mode))
        return "(not a regular file)";
    return readFile(path);
}

QList<QStringList> csvRows(const QString& path)
{
    QList<QStringList> rows;
    const QList<QByteArray> lines = readFile(path).split('\n');
    for (const QByteArray& line : lines)
        if (!line.isEmpty())
            rows << QString::fromUtf8(line).split(QLatin1Char(','));
    return rows;
}

// A simulated module on a pseudo-terminal of the test's own whose line misbehaves: every
// reply comes through `line`, which may repeat, delay or replace it.
std::unique_ptr<ServedModule> misbehavingModule(
    const std::function<QList<PtyPeer::Chunk>(const QByteArray& request, const QByteArray& reply)>&
        line)
{
    auto served = std::make_unique<ServedModule>();
    ServedModule* module = served.get();
    served->peer().setResponder([module, line](const QByteArray& request) {
        QByteArray reply;
        module->withModule([&](SimulatedModule& m) { reply = m.handle(request); });
        return line(request, reply);
    });
    QString error;
    if (!served->start(&error))
        qWarning("no pseudo-terminal: %s", qPrintable(error));
    return served;
}

QStringList onPort(const ServedModule& served, const QStringList& args)
{
    return QStringList{QStringLiteral("--port"), served.portName(), QStringLiteral("--quiet")} +
           args;
}

} // namespace

// Runs the real command against the simulator command, which serves one module on a link
// for the whole test and logs every frame that reaches it.
class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void getAndSet_data();
    void getAndSet();
    void stopWritesTargetVelocityZero();
    void refusalsExitOne();
    void exportedFilesRestoreTheModule_data();
    void exportedFilesRestoreTheModule();
    void storeAndRestore();
    void wholeNumbers_data();
    void wholeNumbers();
    void badInputSendsNothing_data();
    void badInputSendsNothing();
    void fullDiskLeavesFilesWholeAndExitsOne_data();
    void fullDiskLeavesFilesWholeAndExitsOne();
    void watchCountsCompleteCycles_data();
    void watchCountsCompleteCycles();
    void standardOutputErrorsExitOne_data();
    void standardOutputErrorsExitOne();
    void portThatCannotBeOpenedExitsThree();
    void silentModuleExitsOne();
    void watchWritesCsv();
    void watchLeavesARefusedValueEmpty();
    void stepMeasuresAndStops();
    void signalsDuringAStepEndWithTheStop_data();
    void signalsDuringAStepEndWithTheStop();
    void watchEndsCleanlyOnInterrupt();
    void interruptedExportCompletesItsFile();
    void signalEndsAStoreAfterTheParameterInProgress_data();
    void signalEndsAStoreAfterTheParameterInProgress();
    void refusedSettingsFailAStore();
    void lineThatIsNotCleanFailsTheCommand_data();
    void lineThatIsNotCleanFailsTheCommand();
    void lateAnswerDoesNotAnswerTheNextRun();
    void floodEndsPromptlyOnSignal();
    void recorderLeavesMissingValuesEmpty();
    void simulatedModuleInProcess();
    void portsNamesTheirKind();
    void helpListsEveryCommand();
    void everyToolNamesItsVersion();

private:
    QStringList onLink(const QStringList& args) const { return m_sim.onLink(args); }
    QStringList received() const { return m_sim.received(); }
    QString path(const QString& name) const { return m_sim.path(name); }

    SimulatorProcess m_sim;
};

void TestCli::initTestCase()
{
    QVERIFY(m_sim.start());
}

void TestCli::cleanupTestCase()
{
    QVERIFY(m_sim.stop());
}

void TestCli::getAndSet_data()
{
    QTest::addColumn<QString>("setName");
    QTest::addColumn<QString>("getName");
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("value");
    QTest::newRow("number, key") << "6"
                                 << "MaxCurrent" << 6 << 1500;
    QTest::newRow("group/key, number") << "motion_settings/Acceleration"
                                       << "11" << 11 << 2000;
    QTest::newRow("PID key of one group") << "position_PID_values/P_set_1"
                                          << "position_PID_values/P_set_1" << 130 << 250;
    QTest::newRow("negative value") << "TargetPosition"
                                    << "0" << 0 << -70000;
}

void TestCli::getAndSet()
{
    QFETCH(QString, setName);
    QFETCH(QString, getName);
    QFETCH(int, number);
    QFETCH(int, value);
    const int before = static_cast<int>(received().size());

    Run run = cli(onLink({QStringLiteral("set"), setName, QString::number(value)}));
    QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
    QCOMPARE(run.out, QStringLiteral("%1\t%2\n").arg(setName).arg(value));

    run = cli(onLink({QStringLiteral("get"), getName}));
    QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
    QCOMPARE(run.out, QStringLiteral("%1\t%2\n").arg(getName).arg(value));

    // Exactly the two frames, byte for byte as the window sends them.
    const QStringList frames = received().mid(before);
    QCOMPARE(frames.size(), 2);
    QCOMPARE(frames.at(0).toLatin1(),
             VOKTRequest(1, 5, quint8(number), 0, value).toWire().toHex(' '));
    QCOMPARE(frames.at(1).toLatin1(), VOKTRequest(1, 6, quint8(number), 0, 0).toWire().toHex(' '));
}

void TestCli::stopWritesTargetVelocityZero()
{
    QCOMPARE(cli(onLink({QStringLiteral("set"), QStringLiteral("TargetVelocity"),
                         QStringLiteral("1500")}))
                 .exitCode,
             0);
    const int before = static_cast<int>(received().size());
    const Run run = cli(onLink({QStringLiteral("stop")}));
    QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
    QCOMPARE(run.out, QStringLiteral("TargetVelocity\t0\n"));
    // One frame: the window's Stop motor.
    const QStringList frames = received().mid(before);
    QCOMPARE(frames,
             QStringList(QString::fromLatin1(VOKTRequest(1, 5, 2, 0, 0).toWire().toHex(' '))));
}

void TestCli::refusalsExitOne()
{
    // Above the module's range: refused, and the module keeps what it had.
    const Run kept = cli(onLink({QStringLiteral("get"), QStringLiteral("6")}));
    Run run = cli(onLink({QStringLiteral("set"), QStringLiteral("6"), QStringLiteral("100001")}));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("status 4")), qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
    QCOMPARE(cli(onLink({QStringLiteral("get"), QStringLiteral("6")})).out, kept.out);

    // A command the module does not know: the reply is shown, and the exit is 1.
    run = cli(onLink({QStringLiteral("raw"), QStringLiteral("9"), QStringLiteral("0"),
                      QStringLiteral("0"), QStringLiteral("0")}));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.out.contains(QStringLiteral("status=2 command=9")), qPrintable(run.out));

    // A script line the module refuses stops the run there; --keep-going runs the rest.
    const QString script = path(QStringLiteral("refused.vkt"));
    writeFile(script, "SAP 4, 0, 2100\nSAP 6, 0, -1\nSAP 4, 0, 2200\n");
    run = cli(onLink({QStringLiteral("run-script"), script}));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("refused.vkt:2: SAP 6, 0, -1: refused by the module "
                                             "(status 4)")),
             qPrintable(run.err));
    QCOMPARE(cli(onLink({QStringLiteral("get"), QStringLiteral("4")})).out,
             QStringLiteral("4\t2100\n"));
    run = cli(onLink({QStringLiteral("run-script"), QStringLiteral("--keep-going"), script}));
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(cli(onLink({QStringLiteral("get"), QStringLiteral("4")})).out,
             QStringLiteral("4\t2200\n"));

    // An import that leaves keys out is no import: exit 1, each key named.
    const QString partial = path(QStringLiteral("partial.ini"));
    QCOMPARE(cli(onLink({QStringLiteral("export-ini"), partial})).exitCode, 0);
    QByteArray text = readFile(partial);
    text.replace("\nStartCurrent=", "junk\nStartCurrent=");
    text.replace("\nAcceleration=", "\nAccel=");
    writeFile(partial, text);
    run = cli(onLink({QStringLiteral("import-ini"), partial}));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("motor_and_module_settings/MaxCurrent (6)")) &&
                 run.err.contains(QStringLiteral("motion_settings/Acceleration (11)")),
             qPrintable(run.err));
    QCOMPARE(run.out, partial + QStringLiteral(": 42 parameters written, 0 not taken\n"));
}

void TestCli::exportedFilesRestoreTheModule_data()
{
    QTest::addColumn<QString>("exportCommand");
    QTest::addColumn<QString>("runCommand");
    QTest::newRow("settings file") << "export-ini"
                                   << "import-ini";
    QTest::newRow("command script") << "export-script"
                                    << "run-script";
}

void TestCli::exportedFilesRestoreTheModule()
{
    QFETCH(QString, exportCommand);
    QFETCH(QString, runCommand);
    const QStringList names{"MaxCurrent", "encoder_settings/EncoderSteps",
                            "velocity_PID_values/I-Clipping_set_2", "TargetReachedDistance"};
    const Run before = cli(onLink(QStringList{QStringLiteral("get")} + names));
    QCOMPARE(before.exitCode, 0);

    const QString file = path(exportCommand);
    Run run = cli(onLink({exportCommand, file}));
    QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
    for (const QString& name : names)
        QCOMPARE(cli(onLink({QStringLiteral("set"), name, QStringLiteral("7")})).exitCode, 0);
    QVERIFY(cli(onLink(QStringList{QStringLiteral("get")} + names)).out != before.out);

    run = cli(onLink({runCommand, file}));
    QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
    QCOMPARE(cli(onLink(QStringList{QStringLiteral("get")} + names)).out, before.out);
}

void TestCli::storeAndRestore()
{
    QCOMPARE(
        cli(onLink({QStringLiteral("set"), QStringLiteral("4"), QStringLiteral("2600")})).exitCode,
        0);
    const int before = static_cast<int>(received().size());
    Run run = cli(onLink({QStringLiteral("store")}));
    QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
    // The module refuses the numbers it keeps no copy of, none of the settings.
    QCOMPARE(run.out, QStringLiteral("store: stored 45, refused 211\n"));
    QCOMPARE(
        cli(onLink({QStringLiteral("set"), QStringLiteral("4"), QStringLiteral("900")})).exitCode,
        0);
    run = cli(onLink({QStringLiteral("restore")}));
    QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
    QCOMPARE(run.out, QStringLiteral("restore: restored 45, refused 211\n"));
    QCOMPARE(cli(onLink({QStringLiteral("get"), QStringLiteral("4")})).out,
             QStringLiteral("4\t2600\n"));
    // 256 stores, a set, 256 restores each read back, a get: the window's walks.
    const QStringList frames = received().mid(before);
    QCOMPARE(frames.size(), 256 + 1 + 512 + 1);
    QCOMPARE(frames.at(255).toLatin1(), VOKTRequest(1, 7, 255, 0, 0).toWire().toHex(' '));
    QCOMPARE(frames.at(257).toLatin1(), VOKTRequest(1, 8, 0, 0, 0).toWire().toHex(' '));
    QCOMPARE(frames.at(258).toLatin1(), VOKTRequest(1, 6, 0, 0, 0).toWire().toHex(' '));
}

void TestCli::badInputSendsNothing_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("kept"); // a file that must stay as it was
    const QString missing = path(QStringLiteral("missing.vkt"));
    const QString malformed = path(QStringLiteral("malformed.vkt"));
    // A good script but for one line in its middle.
    writeFile(malformed, "//=== motion settings ===\nSAP 4, 0, 1234\t// max ramp velocity\n"
                         "STAP 4, 0 \nSAP 11, 0, 12x\nSAP 7, 0, 10\n");

    QTest::newRow("unknown command")
        << QStringList{"spin"} << "unknown command \"spin\"" << QString();
    QTest::newRow("stop with an argument")
        << QStringList{"stop", "0"} << "stop takes no argument" << QString();
    QTest::newRow("unknown parameter")
        << QStringList{"get", "6", "MaxCurent"} << "unknown parameter: MaxCurent" << QString();
    QTest::newRow("key of three groups")
        << QStringList{"get", "P_set_1"} << "several groups" << QString();
    QTest::newRow("parameter above 255")
        << QStringList{"set", "256", "1"} << "outside 0 to 255" << QString();
    QTest::newRow("raw command above 255") << QStringList{"raw", "300", "4", "0", "0"}
                                           << "command: 300 is outside 0 to 255" << QString();
    QTest::newRow("raw bank negative") << QStringList{"raw", "6", "4", "-1", "0"}
                                       << "motor/bank: -1 is outside 0 to 255" << QString();
    QTest::newRow("value above 32 bits") << QStringList{"set", "6", "2147483648"}
                                         << "outside -2147483648 to 2147483647" << QString();
    QTest::newRow("value not a number")
        << QStringList{"set", "6", "2k"} << "not a whole number" << QString();
    QTest::newRow("missing value")
        << QStringList{"set", "6"} << "set wants a parameter and a value" << QString();
    QTest::newRow("missing parameter") << QStringList{"get"} << "which parameter?" << QString();
    QTest::newRow("missing raw value")
        << QStringList{"raw", "6", "4", "0"} << "four numbers" << QString();
    QTest::newRow("missing option value")
        << QStringList{"watch", "--count"} << "--count needs a value" << QString();
    QTest::newRow("count not a number")
        << QStringList{"watch", "--count", "five"} << "not a whole number" << QString();
    QTest::newRow("option of another command")
        << QStringList{"get", "6", "--keep-going"}
        << "belongs to the run-script and commission commands" << QString();
    QTest::newRow("address 0") << QStringList{"--address", "0", "get", "6"} << "outside 1 to 255"
                               << QString();
    QTest::newRow("script missing")
        << QStringList{"run-script", missing} << "cannot be read" << QString();
    QTest::newRow("script malformed in the middle")
        << QStringList{"run-script", malformed} << "malformed.vkt:4: value \"12x\"" << QString();
    const QString empty = path(QStringLiteral("empty.vkt"));
    writeFile(empty, QByteArray());
    QTest::newRow("script of no commands")
        << QStringList{"run-script", empty} << "holds no" << QString();
    QTest::newRow("settings file missing")
        << QStringList{"import-ini", missing} << "cannot be read" << QString();
    QTest::newRow("settings file of no keys") << QStringList{"import-ini", malformed}
                                              << "holds none of the 44 settings keys" << QString();
    QTest::newRow("export into no folder")
        << QStringList{"export-ini", path(QStringLiteral("none/a.ini"))} << "no such folder"
        << QString();

    // One rule for every number: digits and a sign, nothing around them.
    QTest::newRow("parameter with a blank")
        << QStringList{"get", " 6"} << "unknown parameter" << QString();
    QTest::newRow("value with a blank")
        << QStringList{"set", "6", " 5"} << "value (32-bit): \" 5\" is not a whole number"
        << QString();
    QTest::newRow("type with a line feed")
        << QStringList{"raw", "6", "4\n", "0", "0"} << "is not a whole number" << QString();
    QTest::newRow("address with a blank") << QStringList{"--address", "1 ", "get", "6"}
                                          << "--address: \"1 \" is not a whole number" << QString();
    const QString nulScript = path(QStringLiteral("nul.vkt"));
    writeFile(nulScript, QByteArray("SAP 4, 0, 25\0\0\n", 15));
    QTest::newRow("script value with NUL bytes")
        << QStringList{"run-script", nulScript} << "nul.vkt:1: value \"25" << QString();
    // Input repeated in a message is cut.
    const QString digits = QString(200, QLatin1Char('9'));
    QTest::newRow("long value cut")
        << QStringList{"set", "6", digits}
        << "value (32-bit): " + digits.left(80) + "... is outside -2147483648 to 2147483647"
        << QString();

    // Exports and recordings only into a regular file; settings only into a settings file.
    const QString script = path(QStringLiteral("motor7.vkt"));
    writeFile(script, "//=== motion settings ===\nSAP 4, 0, 2000 \t// max ramp velocity\n"
                      "STAP 4, 0 \n");
    const QString note = path(QStringLiteral("note.txt"));
    writeFile(note, "Motor 7: new encoder on Monday.\n");
    const QString binary = path(QStringLiteral("picture.png"));
    writeFile(binary, QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR=1", 18));
    const QString fifo = path(QStringLiteral("fifo"));
    if (!QFileInfo::exists(fifo))
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString port = path(QStringLiteral("port"));
    const QString noSettings = QStringLiteral("is not a settings file");
    const QString notRegular = QStringLiteral("is not a regular file");
    QTest::newRow("settings into a script")
        << QStringList{"export-ini", script} << noSettings << script;
    QTest::newRow("settings into a text note")
        << QStringList{"export-ini", note} << noSettings << note;
    QTest::newRow("settings into a binary file")
        << QStringList{"export-ini", binary} << noSettings << binary;
    QTest::newRow("settings into a pipe") << QStringList{"export-ini", fifo} << notRegular << fifo;
    QTest::newRow("script into a pipe") << QStringList{"export-script", fifo} << notRegular << fifo;
    QTest::newRow("recording into a pipe")
        << QStringList{"watch", "--count", "1", "--csv", fifo} << notRegular << fifo;
    QTest::newRow("recording into the module's port")
        << QStringList{"watch", "--count", "1", "--csv", port} << notRegular << port;
    QTest::newRow("script into a device")
        << QStringList{"export-script", "/dev/null"} << notRegular << QString();

    // Nothing is read from anything but a regular file, and a pipe is not waited on.
    QTest::newRow("settings from a pipe") << QStringList{"import-ini", fifo} << notRegular << fifo;
    QTest::newRow("diff against a pipe") << QStringList{"diff", fifo} << notRegular << fifo;
    QTest::newRow("golden file from a pipe")
        << QStringList{"report", path(QStringLiteral("r.html")), "--against", fifo} << notRegular
        << fifo;
    QTest::newRow("script from a pipe") << QStringList{"run-script", fifo} << notRegular << fifo;
    QTest::newRow("script from a device")
        << QStringList{"run-script", "/dev/zero"} << notRegular << QString();

    // Every writer keeps to its own kind of file: none replaces a settings file, a script
    // or a page of another kind (unless --force).
    const QString golden = path(QStringLiteral("golden.ini"));
    writeFile(golden, "; approved JB\n[motion_settings]\nAcceleration=1000\n");
    const QString page = path(QStringLiteral("record.html"));
    writeFile(page, "<!DOCTYPE html>\n<html lang=\"en\"><head><title>r</title></head></html>\n");
    const QString asSettings = QStringLiteral("reads as a settings file; not replaced");
    const QString asScript = QStringLiteral("reads as a command script; not replaced");
    const QString asPage = QStringLiteral("reads as an HTML page; not replaced");
    const QStringList watch{"watch", "--count", "1", "--csv"};
    const QStringList step{"step", "velocity", "100", "--duration", "50", "--csv"};
    QTest::newRow("script over a settings file")
        << QStringList{"export-script", golden} << asSettings << golden;
    QTest::newRow("script over a page") << QStringList{"export-script", page} << asPage << page;
    QTest::newRow("record over a script") << QStringList{"report", script} << asScript << script;
    QTest::newRow("recording over a settings file")
        << watch + QStringList{golden} << asSettings << golden;
    QTest::newRow("recording over a script") << watch + QStringList{script} << asScript << script;
    QTest::newRow("recording over a page") << watch + QStringList{page} << asPage << page;
    const QString sidecar = path(QStringLiteral("run.csv.json"));
    writeFile(sidecar, "[motion_settings]\nAcceleration=1000\n");
    QTest::newRow("recording beside a settings file")
        << watch + QStringList{path(QStringLiteral("run.csv"))} << asSettings << sidecar;
    QTest::newRow("step over a settings file")
        << step + QStringList{golden} << asSettings << golden;
    QTest::newRow("step over a script") << step + QStringList{script} << asScript << script;
}

void TestCli::badInputSendsNothing()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QFETCH(QString, kept);
    const QStringList before = received();
    const QByteArray keptBefore = whatIsAt(kept);
    const Run run = cli(onLink(args));
    QVERIFY2(run.exitCode == 2, qPrintable(describe(run)));
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY(run.err.size() < 400);
    QVERIFY(run.out.isEmpty());
    QCOMPARE(whatIsAt(kept), keptBefore);
    // A command that wrote would have had its reply, and the module logs a frame before it
    // answers: so the log is complete when the command has ended.
    QCOMPARE(received(), before);
}

void TestCli::wholeNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("minimum");
    QTest::addColumn<qint64>("maximum");
    QTest::addColumn<QString>("result"); // the number, or the reason

    const qint64 low = std::numeric_limits<qint32>::min();
    const qint64 high = std::numeric_limits<qint32>::max();
    QTest::newRow("plain") << "2000" << low << high << "2000";
    QTest::newRow("signs") << "+5" << low << high << "5";
    QTest::newRow("negative bound") << "-2147483648" << low << high << "-2147483648";
    QTest::newRow("leading zeros") << "-0000000000000000000000000042" << low << high << "-42";
    QTest::newRow("above") << "2147483648" << low << high
                           << "2147483648 is outside -2147483648 to 2147483647";
    QTest::newRow("beyond 64 bits") << "99999999999999999999" << qint64(0) << qint64(255)
                                    << "99999999999999999999 is outside 0 to 255";
    for (const char* text : {"", "-", "+", " 5", "5 ", "5\n", "1e3", "0x10", "5-", "--5", "5,0"})
        QTest::addRow("not a number: \"%s\"", text)
            << QString::fromLatin1(text) << low << high
            << QStringLiteral("\"%1\" is not a whole number").arg(QString::fromLatin1(text));
    QTest::newRow("NUL after the digits")
        << QString::fromLatin1("25\0\0", 4) << low << high
        << QString::fromLatin1("\"25\0\0\" is not a whole number", 28);
    QTest::newRow("digits of another script") << QStringLiteral("\u0663") << low << high
                                              << QStringLiteral("\"\u0663\" is not a whole number");
    QTest::newRow("cut after 80 characters")
        << "x" + QString(100, QLatin1Char('1')) << low << high
        << "\"x" + QString(79, QLatin1Char('1')) + "...\" is not a whole number";
}

void TestCli::wholeNumbers()
{
    QFETCH(QString, text);
    QFETCH(qint64, minimum);
    QFETCH(qint64, maximum);
    QFETCH(QString, result);

    QString why;
    const std::optional<qint64> number = InputText::wholeNumber(text, minimum, maximum, &why);
    QCOMPARE(number ? QString::number(*number) : why, result);
    QCOMPARE(InputText::isWholeNumber(text), number.has_value() || why.contains("outside"));
}

void TestCli::fullDiskLeavesFilesWholeAndExitsOne_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("existing"); // empty: none
    QTest::addColumn<bool>("kept");           // the target stays byte for byte
    QTest::addColumn<qint64>("room");         // the most bytes a file may hold

    const QByteArray settings =
        "[mine]\nnote=" + QByteArray(600, 'n') + "\n[motor_and_module_settings]\nMaxCurrent=42\n";
    QTest::newRow("export-ini into a settings file")
        << "export-ini" << settings << true << qint64(1000);
    QTest::newRow("export-ini, new file") << "export-ini" << QByteArray() << true << qint64(500);
    QTest::newRow("report over an older record")
        << "report" << QByteArray("<html>older</html>\n") << true << qint64(2000);
    QTest::newRow("export-script over an older one")
        << "export-script" << QByteArray("SAP 4, 0, 1\n") << true << qint64(1000);
    // A recording replaces an older file with its first rows and ends on a whole row.
    QTest::newRow("watch --csv") << "watch" << QByteArray("older\n") << false << qint64(1000);
}

void TestCli::fullDiskLeavesFilesWholeAndExitsOne()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, existing);
    QFETCH(bool, kept);
    QFETCH(qint64, room);

    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("target"));
    if (!existing.isEmpty())
        writeFile(file, existing);
    const QByteArray before = whatIsAt(file);
    const QStringList args =
        command == QLatin1String("watch")
            ? QStringList{command, "--interval", "0", "--count", "1000", "--csv", file}
            : QStringList{command, file};

    const Run run = cli(onLink(args), room);
    QVERIFY2(run.exitCode == 1, qPrintable(describe(run)));
    QVERIFY2(run.err.contains(file + QStringLiteral(": could not be written: ")),
             qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
    const QStringList left = QDir(folder.path()).entryList(QDir::Files | QDir::Hidden);
    if (kept) {
        QCOMPARE(whatIsAt(file), before);
        QCOMPARE(left, existing.isEmpty() ? QStringList() : QStringList{"target"});
        return;
    }
    // The recording and its sidecar.
    QCOMPARE(left, (QStringList{"target", "target.json"}));
    const QByteArray content = readFile(file);
    QVERIFY(content.size() <= room);
    QVERIFY(content.endsWith('\n'));
    const QList<QStringList> rows = csvRows(file);
    QVERIFY(rows.size() > 2);
    for (const QStringList& row : rows)
        QCOMPARE(row.size(), 8);
}

void TestCli::watchCountsCompleteCycles_data()
{
    QTest::addColumn<int>("answers"); // then the module falls silent
    QTest::addColumn<int>("complete");
    QTest::addColumn<int>("rows"); // in the file; -1: an older file stays as it was

    QTest::newRow("silent from the start") << 0 << 0 << -1;
    QTest::newRow("silent in the first cycle") << 3 << 0 << -1;
    QTest::newRow("silent in the third cycle") << 2 * 7 + 3 << 2 << 3;
}

void TestCli::watchCountsCompleteCycles()
{
    QFETCH(int, answers);
    QFETCH(int, complete);
    QFETCH(int, rows);

    ServedModule served;
    QString error;
    QVERIFY2(served.start(&error), qPrintable(error));
    ServedModule* module = &served;
    auto left = std::make_shared<std::atomic<int>>(answers);
    served.peer().setResponder([module, left](const QByteArray& request) {
        if ((*left)-- <= 0)
            return QList<PtyPeer::Chunk>{};
        QByteArray reply;
        module->withModule([&](SimulatedModule& m) { reply = m.handle(request); });
        return PtyPeer::answer(reply);
    });
    QTemporaryDir folder;
    const QString csv = folder.filePath(QStringLiteral("run.csv"));
    const QByteArray older("time_ms,older\n0,1\n");
    writeFile(csv, older);

    const Run run = cli({"--port", served.portName(), "--quiet", "watch", "--interval", "0",
                         "--count", "10", "--csv", csv});
    QVERIFY2(run.exitCode == 1, qPrintable(describe(run)));
    QVERIFY2(run.err.contains(QStringLiteral("the module stopped answering; %1 complete cycles "
                                             "recorded")
                                  .arg(complete)),
             qPrintable(run.err));
    if (rows < 0) {
        QCOMPARE(readFile(csv), older);
        QVERIFY2(run.err.contains(csv + QStringLiteral(" not written")), qPrintable(run.err));
        return;
    }
    // The complete cycles, then the row of the one the link was lost in, whole.
    const QList<QStringList> lines = csvRows(csv);
    QCOMPARE(lines.size(), 1 + rows);
    for (const QStringList& line : lines)
        QCOMPARE(line.size(), 8);
    QCOMPARE(lines.last().mid(1).join(',').count(QLatin1Char(',')), 6);
    QVERIFY(!lines.last().at(3).isEmpty());
    QVERIFY(lines.last().at(4).isEmpty());
}

void TestCli::standardOutputErrorsExitOne_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("get") << QStringList{"get", "6", "4"};
    QTest::newRow("watch") << QStringList{"watch", "--count", "3", "--interval", "0"};
    QTest::newRow("export-ini") << QStringList{"export-ini", "out.ini"};
    QTest::newRow("help") << QStringList{"--help"};
}

void TestCli::standardOutputErrorsExitOne()
{
    QFETCH(QStringList, args);
    for (QString& arg : args)
        if (arg.endsWith(QLatin1String(".ini")))
            arg = path(arg);
    const Run run = cli(onLink(args), 0, QStringLiteral("/dev/full"));
    QVERIFY2(run.exitCode == 1, qPrintable(describe(run)));
    QVERIFY2(run.err.contains(QStringLiteral("could not write the results to standard output: ")),
             qPrintable(run.err));
}

void TestCli::portThatCannotBeOpenedExitsThree()
{
    const QString nowhere = path(QStringLiteral("no-such-port"));
    Run run = cli({QStringLiteral("--port"), nowhere, QStringLiteral("get"), QStringLiteral("6")});
    QCOMPARE(run.exitCode, 3);
    QVERIFY2(run.err.contains(QStringLiteral("could not open: ") + nowhere + QStringLiteral(" (")),
             qPrintable(run.err));
    QVERIFY(run.out.isEmpty());

    // A file that is not a serial port.
    const QString text = path(QStringLiteral("not-a-port.txt"));
    writeFile(text, "hello\n");
    run = cli({QStringLiteral("--port"), text, QStringLiteral("get"), QStringLiteral("6")});
    QVERIFY2(run.exitCode == 3, qPrintable(describe(run)));
    QVERIFY(run.out.isEmpty());
}

void TestCli::silentModuleExitsOne()
{
    // A module at address 7 does not answer frames for address 1.
    QProcess sim;
    sim.start(QStringLiteral(ZIRO_SIM_COMMAND), {QStringLiteral("--address"), QStringLiteral("7")});
    QVERIFY(sim.waitForReadyRead(10000));
    const QString port = QString::fromLocal8Bit(sim.readLine()).trimmed();
    Run run = cli({QStringLiteral("--port"), port, QStringLiteral("--quiet"), QStringLiteral("get"),
                   QStringLiteral("6"), QStringLiteral("4")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("get 6: no reply from the module")),
             qPrintable(run.err));
    QVERIFY(run.out.isEmpty());

    run = cli({QStringLiteral("--port"), port, QStringLiteral("--address"), QStringLiteral("7"),
               QStringLiteral("--quiet"), QStringLiteral("get"), QStringLiteral("6")});
    QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
    QCOMPARE(run.out, QStringLiteral("6\t2000\n"));
    sim.terminate();
    QVERIFY(sim.waitForFinished(10000));
}

// Watch polls through the window's poller: a value the module refuses is told once and its
// column stays empty, the others come in every row.
void TestCli::watchLeavesARefusedValueEmpty()
{
    ServedModule served;
    QString error;
    QVERIFY2(served.start(&error), qPrintable(error));
    ServedModule* module = &served;
    served.peer().setResponder([module](const QByteArray& request) {
        if (quint8(request.at(1)) == 6 && quint8(request.at(2)) == 13)
            return PtyPeer::answer(PtyPeer::replyFrame(2, 1, 3, 6, 4242));
        QByteArray reply;
        module->withModule([&](SimulatedModule& m) { reply = m.handle(request); });
        return PtyPeer::answer(reply);
    });
    const Run run =
        cli({"--port", served.portName(), "--quiet", "watch", "--interval", "0", "--count", "3"});
    QVERIFY2(run.exitCode == 1, qPrintable(describe(run)));
    QCOMPARE(run.err.count(QStringLiteral("the module refuses RampVelocity (status 3); its "
                                          "column stays empty")),
             1);
    const QStringList lines = run.out.trimmed().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.first().split('\t').at(2), QStringLiteral("RampVelocity"));
    for (const QString& line : lines.mid(1)) {
        const QStringList fields = line.split('\t');
        QCOMPARE(fields.size(), 8);
        QCOMPARE(fields.at(2), QString());
        QCOMPARE(fields.at(7), QStringLiteral("528"));
    }
}

void TestCli::watchWritesCsv()
{
    const QString csv = path(QStringLiteral("watch.csv"));
    const Run run = cli(
        onLink({QStringLiteral("watch"), QStringLiteral("--count"), QStringLiteral("5"),
                QStringLiteral("--interval"), QStringLiteral("20"), QStringLiteral("--csv"), csv}));
    QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
    // The header first, as every CSV reader expects it; what the recording is beside it.
    const QJsonObject about = QJsonDocument::fromJson(readFile(csv + ".json")).object();
    QCOMPARE(about.value("tool").toString(), QStringLiteral("ziro-bldc-cli"));
    QVERIFY(about.value("version").toString().startsWith(ZIRO_PROJECT_VERSION));
    QVERIFY(QDateTime::fromString(about.value("started").toString(), Qt::ISODateWithMs).isValid());
    QCOMPARE(about.value("module").toObject().value("address").toInt(), 1);
    QVERIFY(!about.value("module").toObject().value("port").toString().isEmpty());
    const QList<QStringList> rows = csvRows(csv);
    QCOMPARE(rows.size(), 6);
    QCOMPARE(rows.at(0),
             (QStringList{"time_ms", "ActualVelocity", "RampVelocity", "ActualPosition",
                          "TargetPosition", "ActualPWM", "ActualCurrent", "StatusFlags"}));
    qint64 last = -1;
    for (int i = 1; i < rows.size(); ++i) {
        QCOMPARE(rows.at(i).size(), 8);
        const qint64 time = rows.at(i).at(0).toLongLong();
        QVERIFY(time > last || i == 1);
        last = time;
        for (const QString& field : rows.at(i))
            QVERIFY2(!field.isEmpty(), qPrintable(rows.at(i).join(',')));
    }
    // The rows are 20 ms apart.
    QVERIFY2(last >= 4 * 20, qPrintable(QString::number(last)));
}

void TestCli::stepMeasuresAndStops()
{
    // The six figures as get prints its values, the samples as a spreadsheet reads them.
    const QString csv = path(QStringLiteral("step.csv"));
    Run run = cli({QStringLiteral("--sim"), QStringLiteral("--quiet"), QStringLiteral("step"),
                   QStringLiteral("velocity"), QStringLiteral("1000"), QStringLiteral("--duration"),
                   QStringLiteral("1500"), QStringLiteral("--csv"), csv});
    QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
    static const QRegularExpression figures(
        QStringLiteral("^rise_time_ms\t[0-9.]+\novershoot_percent\t[0-9.]+\n"
                       "settling_time_ms\t([0-9.]+|none)\nsteady_state_error\t-?[0-9.]+\n"
                       "samples\t[0-9]+\nsample_rate_hz\t[0-9.]+\n$"));
    QVERIFY2(figures.match(run.out).hasMatch(), qPrintable(run.out));
    const QList<QStringList> rows = csvRows(csv);
    QVERIFY(rows.size() > 100);
    QCOMPARE(rows.at(0), (QStringList{"time_ms", "target", "actual"}));
    QCOMPARE(rows.at(1).at(1), QStringLiteral("1000"));
    bool ok = false;
    QVERIFY(std::abs(rows.last().at(2).toDouble(&ok) - 1000) < 20 && ok);
    QVERIFY(rows.last().at(0).toDouble() >= 1500);

    // Beyond the max. velocity: refused by the module's own limit, nothing moved.
    run = cli(
        onLink({QStringLiteral("step"), QStringLiteral("velocity"), QStringLiteral("-1000000")}));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(
        run.err.contains(QStringLiteral("-1000000 rpm is beyond the module's max. velocity (4)")),
        qPrintable(run.err));
    // Bad arguments: exit 2 before the port is opened.
    for (const QStringList& args :
         {QStringList{"step", "speed", "10"}, QStringList{"step", "position", "0"},
          QStringList{"step", "velocity", "100", "--duration", "0"}}) {
        run = cli(onLink(args));
        QVERIFY2(run.exitCode == 2, qPrintable(args.join(' ') + describe(run)));
    }
}

void TestCli::signalsDuringAStepEndWithTheStop_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    QTest::newRow("a double Ctrl-C") << int(SIGINT) << int(SIGINT);
    QTest::newRow("the terminal closed") << int(SIGHUP) << int(SIGHUP);
    QTest::newRow("timeout, then the group again") << int(SIGTERM) << int(SIGTERM);
}

void TestCli::signalsDuringAStepEndWithTheStop()
{
    QFETCH(int, first);
    QFETCH(int, second);
    // The target velocities the module received, in order.
    const auto targets = [this] {
        QList<qint32> values;
        for (const QString& line : received()) {
            const QByteArray frame = QByteArray::fromHex(line.toLatin1());
            if (frame.size() == 9 && frame.at(1) == 5 && frame.at(2) == 2)
                values << qint32(qFromBigEndian<quint32>(frame.constData() + 4));
        }
        return values;
    };
    const qsizetype before = targets().size();
    QProcess step;
    step.start(QStringLiteral(ZIRO_CLI_COMMAND),
               onLink({QStringLiteral("step"), QStringLiteral("velocity"), QStringLiteral("1000"),
                       QStringLiteral("--duration"), QStringLiteral("20000")}));
    QVERIFY(step.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(targets().size() > before, 10000);
    const pid_t pid = static_cast<pid_t>(step.processId());
    // Two signals half a millisecond apart: the second must not end it before the stop.
    ::kill(pid, first);
    std::this_thread::sleep_for(std::chrono::microseconds(500));
    ::kill(pid, second);
    QVERIFY(step.waitForFinished(20000));
    QCOMPARE(step.exitStatus(), QProcess::NormalExit);
    QCOMPARE(step.exitCode(), 1);
    const QString err = QString::fromLocal8Bit(step.readAllStandardError());
    QVERIFY2(err.contains(QStringLiteral("the module confirmed the stop (2 = 0)")),
             qPrintable(err));
    QCOMPARE(targets().mid(before), (QList<qint32>{1000, 0}));
}

void TestCli::watchEndsCleanlyOnInterrupt()
{
    const QString csv = path(QStringLiteral("interrupted.csv"));
    QProcess watch;
    watch.start(QStringLiteral(ZIRO_CLI_COMMAND),
                onLink({QStringLiteral("watch"), QStringLiteral("--interval"), QStringLiteral("5"),
                        QStringLiteral("--csv"), csv}));
    QVERIFY(watch.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(csvRows(csv).size() >= 4, 20000);
    const qint64 pid = watch.processId();
    QVERIFY(pid > 0);
    ::kill(static_cast<pid_t>(pid), SIGINT);
    QVERIFY(watch.waitForFinished(10000));
    QCOMPARE(watch.exitStatus(), QProcess::NormalExit);
    QCOMPARE(watch.exitCode(), 0);
    const QByteArray content = readFile(csv);
    QVERIFY(content.endsWith('\n'));
    for (const QStringList& row : csvRows(csv))
        QCOMPARE(row.size(), 8);
}

void TestCli::interruptedExportCompletesItsFile()
{
    // At 2400 baud an exchange takes 75 ms: time to interrupt the export half-way.
    QProcess sim;
    sim.start(QStringLiteral(ZIRO_SIM_COMMAND), {QStringLiteral("--baud"), QStringLiteral("2400")});
    QVERIFY(sim.waitForReadyRead(10000));
    const QString port = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QTemporaryDir folder;
    const QString script = folder.filePath(QStringLiteral("motor.vkt"));
    QProcess exporting;
    exporting.start(QStringLiteral(ZIRO_CLI_COMMAND),
                    {QStringLiteral("--port"), port, QStringLiteral("export-script"), script});
    QVERIFY(exporting.waitForStarted());
    // Every frame is logged: interrupted once ten parameters have been read.
    QByteArray log;
    QTRY_VERIFY_WITH_TIMEOUT(
        (log += exporting.readAllStandardError()).count("VOKTUSBReply[2,") >= 10, 10000);
    const qint64 pid = exporting.processId();
    QVERIFY(pid > 0);
    ::kill(static_cast<pid_t>(pid), SIGINT);
    QVERIFY(exporting.waitForFinished(20000));
    QCOMPARE(exporting.exitCode(), 0);
    log += exporting.readAllStandardError();
    QVERIFY(log.contains("interrupted"));
    QCOMPARE(log.count("VOKTUSBReply[2,"), 44);
    // The script is whole, and nothing else was left in the folder.
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{QStringLiteral("motor.vkt")});
    QVERIFY(readFile(script).endsWith("STAP 12, 0 \n"));
    sim.terminate();
    QVERIFY(sim.waitForFinished(10000));
}

void TestCli::signalEndsAStoreAfterTheParameterInProgress_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGHUP (the terminal closed)") << int(SIGHUP);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
}

void TestCli::signalEndsAStoreAfterTheParameterInProgress()
{
    QFETCH(int, signal);
    // At 2400 baud an exchange takes 75 ms: time to interrupt the walk half-way.
    QProcess sim;
    sim.start(QStringLiteral(ZIRO_SIM_COMMAND), {QStringLiteral("--baud"), QStringLiteral("2400")});
    QVERIFY(sim.waitForReadyRead(10000));
    const QString port = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QProcess store;
    store.start(QStringLiteral(ZIRO_CLI_COMMAND),
                {QStringLiteral("--port"), port, QStringLiteral("store")});
    QVERIFY(store.waitForStarted());
    QByteArray log;
    QTRY_VERIFY_WITH_TIMEOUT((log += store.readAllStandardError()).count("VOKTUSBReply[2,") >= 10,
                             10000);
    ::kill(static_cast<pid_t>(store.processId()), signal);
    QVERIFY(store.waitForFinished(10000));
    QCOMPARE(store.exitStatus(), QProcess::NormalExit);
    QCOMPARE(store.exitCode(), 1);
    log += store.readAllStandardError();
    // The exchange in progress ended, no other followed.
    const int replies = static_cast<int>(log.count("VOKTUSBReply[2,"));
    QCOMPARE(log.count("VOKTRequest[1, 7,"), replies);
    QVERIFY2(replies < 256, qPrintable(QString::number(replies)));
    QVERIFY2(log.contains(QStringLiteral("store: interrupted after %1 of 256 parameters; stored ")
                              .arg(replies)
                              .toLatin1()),
             log.constData());
    sim.terminate();
    QVERIFY(sim.waitForFinished(10000));
}

void TestCli::refusedSettingsFailAStore()
{
    // A module that refuses every store: the settings are not kept, and that is a failure.
    const auto served = misbehavingModule([](const QByteArray& request, const QByteArray& reply) {
        if (request.at(1) != 7)
            return PtyPeer::answer(reply);
        QByteArray refused = reply;
        refused[2] = 5;
        refused[8] = static_cast<char>(vokt::checksum(refused));
        return PtyPeer::answer(refused);
    });
    const Run run = cli(onPort(*served, {QStringLiteral("store")}));
    QVERIFY2(run.exitCode == 1, qPrintable(describe(run)));
    QCOMPARE(run.out, QStringLiteral("store: stored 0, refused 256\n"));
    QVERIFY2(run.err.contains(QStringLiteral("store: the module refused MaxCurrent (status 5)")),
             qPrintable(run.err));
    QCOMPARE(run.err.count(QStringLiteral("store: the module refused ")), 44);
}

void TestCli::lineThatIsNotCleanFailsTheCommand_data()
{
    const QString settings = path(QStringLiteral("clean.ini"));
    const QString script = path(QStringLiteral("clean.vkt"));
    writeFile(settings, "[motor_and_module_settings]\nMaxCurrent=1500\nMotorPoles=8\n"
                        "[motion_settings]\nAcceleration=900\n");
    writeFile(script, "SAP 6, 0, 1500\nSAP 11, 0, 900\nSTAP 6, 0\n");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("written"); // a file the command must not leave behind
    QTest::newRow("get") << QStringList{"get", "MaxCurrent", "Acceleration", "4"} << QString();
    QTest::newRow("set") << QStringList{"set", "Acceleration", "1200"} << QString();
    QTest::newRow("raw") << QStringList{"raw", "6", "4", "0", "0"} << QString();
    QTest::newRow("export-ini") << QStringList{"export-ini", path(QStringLiteral("dirty.ini"))}
                                << path(QStringLiteral("dirty.ini"));
    QTest::newRow("export-script")
        << QStringList{"export-script", path(QStringLiteral("dirty.vkt"))}
        << path(QStringLiteral("dirty.vkt"));
    QTest::newRow("import-ini") << QStringList{"import-ini", settings} << QString();
    QTest::newRow("run-script") << QStringList{"run-script", script} << QString();
    QTest::newRow("store") << QStringList{"store"} << QString();
    QTest::newRow("restore") << QStringList{"restore"} << QString();
    QTest::newRow("watch") << QStringList{"watch", "--count", "3", "--interval", "0"} << QString();
}

void TestCli::lineThatIsNotCleanFailsTheCommand()
{
    QFETCH(QStringList, args);
    QFETCH(QString, written);
    // Every answer comes twice, the copy 5 ms later: a copy can be taken for the answer to
    // the next request.
    const auto served = misbehavingModule([](const QByteArray&, const QByteArray& reply) {
        return QList<PtyPeer::Chunk>{{0, reply}, {5, reply}};
    });
    const Run run = cli(onPort(*served, args));
    QVERIFY2(run.exitCode == 1, qPrintable(describe(run)));
    const QRegularExpression said(
        QStringLiteral("^ziro-bldc-cli: %1[^\\n]*: the line is not clean").arg(args.first()),
        QRegularExpression::MultilineOption);
    QVERIFY2(said.match(run.err).hasMatch(), qPrintable(run.err));
    QVERIFY2(run.err.contains(QStringLiteral("a late answer, a line echo or a second module at "
                                             "address 1")),
             qPrintable(run.err));
    // Nothing that may be another parameter's value is given as a result.
    if (args.first() != QLatin1String("watch"))
        QVERIFY2(run.out.isEmpty() || args.first() == QLatin1String("run-script"),
                 qPrintable(run.out));
    if (!written.isEmpty())
        QVERIFY(!QFileInfo::exists(written));
}

void TestCli::lateAnswerDoesNotAnswerTheNextRun()
{
    // The module answers its first request 600 ms late, every later one at once.
    auto first = std::make_shared<std::atomic<bool>>(true);
    const auto served = misbehavingModule([first](const QByteArray&, const QByteArray& reply) {
        return QList<PtyPeer::Chunk>{{first->exchange(false) ? 600 : 0, reply}};
    });
    served->withModule([](SimulatedModule& m) { m.handle(VOKTRequest(1, 5, 4, 0, 2345)); });

    Run run = cli(onPort(*served, {QStringLiteral("get"), QStringLiteral("6")}));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("get 6: no reply from the module")),
             qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
    // The late answer (6 = 2000) was taken off the line before the first run ended.
    run = cli(onPort(*served, {QStringLiteral("get"), QStringLiteral("4")}));
    QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
    QCOMPARE(run.out, QStringLiteral("4\t2345\n"));
}

void TestCli::floodEndsPromptlyOnSignal()
{
    // A far end that never answers and streams about 4 MB/s of bytes that cannot be replies.
    PtyPeer peer;
    QString error;
    QVERIFY2(peer.start(&error), qPrintable(error));
    peer.setSilent(true);
    std::atomic<bool> flooding{true};
    std::thread flood([&peer, &flooding] {
        const QByteArray junk(64 * 1024, '\xFF');
        while (flooding) {
            peer.send(junk);
            std::this_thread::sleep_for(std::chrono::milliseconds(16));
        }
    });
    QProcess store;
    store.start(QStringLiteral(ZIRO_CLI_COMMAND),
                {QStringLiteral("--port"), peer.portName(), QStringLiteral("store")});
    QVERIFY(store.waitForStarted());
    QByteArray log;
    QTRY_VERIFY_WITH_TIMEOUT((log += store.readAllStandardError()).contains("VOKTRequest[1, 7"),
                             10000);
    QElapsedTimer timer;
    timer.start();
    ::kill(static_cast<pid_t>(store.processId()), SIGTERM);
    const bool ended = store.waitForFinished(10000);
    const qint64 took = timer.elapsed();
    flooding = false;
    flood.join();
    QVERIFY(ended);
    QVERIFY2(took < 3000, qPrintable(QString::number(took)));
    QCOMPARE(store.exitStatus(), QProcess::NormalExit);
    QCOMPARE(store.exitCode(), 1);
}

void TestCli::recorderLeavesMissingValuesEmpty()
{
    const QString csv = path(QStringLiteral("recorder.csv"));
    CsvRecorder recorder({6, 3, 77});
    QVERIFY(recorder.open(csv));
    recorder.beginCycle();
    recorder.setValue(77, -5);
    recorder.setValue(6, 2000);
    recorder.setValue(1, 9); // not a column
    QVERIFY(recorder.endCycle());
    recorder.beginCycle();
    recorder.setValue(3, 12);
    QVERIFY(recorder.endCycle());
    recorder.close();
    const QList<QByteArray> lines = readFile(csv).split('\n');
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.at(0), QByteArray("time_ms,MaxCurrent,ActualVelocity,77"));
    QVERIFY(lines.at(1).endsWith(",2000,,-5"));
    QVERIFY(lines.at(2).endsWith(",,12,"));
    QVERIFY(lines.at(3).isEmpty());

    QVERIFY(!recorder.open(path(QStringLiteral("no-such-folder/recorder.csv"))));
    QVERIFY(!recorder.errorString().isEmpty());
}

void TestCli::simulatedModuleInProcess()
{
    Run run = cli({QStringLiteral("--sim"), QStringLiteral("--quiet"), QStringLiteral("get"),
                   QStringLiteral("MaxCurrent"), QStringLiteral("StatusFlags")});
    QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
    QVERIFY2(run.out.startsWith(QStringLiteral("MaxCurrent\t2000\nStatusFlags\t")),
             qPrintable(run.out));

    // Without --quiet every frame is logged, on standard error only.
    run = cli({QStringLiteral("--sim"), QStringLiteral("raw"), QStringLiteral("6"),
               QStringLiteral("4"), QStringLiteral("0"), QStringLiteral("0")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("reply-address=2 module-address=1 status=100 command=6 "
                                     "value=2000\n"));
    QVERIFY2(run.err.contains(QStringLiteral("Debug: VOKTRequest[1, 6, 4, 0, 0, 11]")),
             qPrintable(run.err));
}

void TestCli::portsNamesTheirKind()
{
    const Run run = cli({QStringLiteral("ports")});
    QCOMPARE(run.exitCode, 0);
    static const QRegularExpression line(QStringLiteral("^[^\t]+\t(USB\t.*|serial)$"));
    for (const QString& port : run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        QVERIFY2(line.match(port).hasMatch(), qPrintable(port));
}

void TestCli::helpListsEveryCommand()
{
    const Run run = cli({QStringLiteral("--help")});
    QCOMPARE(run.exitCode, 0);
    for (const char* command :
         {"ports", "get", "set", "stop", "raw", "export-ini", "import-ini", "export-script",
          "store", "restore", "run-script", "watch", "diff", "report", "step", "scan"})
        QVERIFY2(run.out.contains(QStringLiteral("\n  %1").arg(QLatin1String(command))), command);
    QVERIFY(run.out.contains(QStringLiteral("3  the port could not be opened")));
    const Run watch = cli({QStringLiteral("watch"), QStringLiteral("--help")});
    QCOMPARE(watch.exitCode, 0);
    QVERIFY(watch.out.contains(QStringLiteral("Example:\n  ziro-bldc-cli")));
    const Run stop = cli({QStringLiteral("stop"), QStringLiteral("--help")});
    QVERIFY(stop.out.contains(QStringLiteral("Example:\n  ziro-bldc-cli --port ttyUSB0 stop")));
}

void TestCli::everyToolNamesItsVersion()
{
    // The version the build was configured with, and the checkout's description where known.
    static const QRegularExpression version(
        QStringLiteral("^(\\S+) " ZIRO_PROJECT_VERSION "( \\(git [^)\\s]+\\))?\n$"));
    const QStringList tools = {QStringLiteral(ZIRO_APP_COMMAND), QStringLiteral(ZIRO_CLI_COMMAND),
                               QStringLiteral(ZIRO_SIM_COMMAND)};
    for (const QString& tool : tools) {
        QProcess process;
        process.start(tool, {QStringLiteral("--version")});
        QVERIFY2(process.waitForFinished(60000), qPrintable(tool));
        QCOMPARE(process.exitCode(), 0);
        const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
        const QRegularExpressionMatch match = version.match(out);
        QVERIFY2(match.hasMatch(), qPrintable(out));
        QCOMPARE(match.captured(1), QFileInfo(tool).fileName());
    }
}

int runLibraryTests(int argc, char** argv);
int runCompareTests(int argc, char** argv);

// `test_cli` runs the command as a process against the simulator command, then its
// library in this process, then diff and report; `test_cli process|library|compare
// [function ...]` runs one group.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const char* only = argc > 1 && argv[1][0] != '-' ? argv[1] : nullptr;
    QVector<char*> args(argv, argv + argc);
    if (only)
        args.remove(1);
    int failures = 0;
    if (!only || std::strcmp(only, "process") == 0) {
        TestCli test;
        failures += QTest::qExec(&test, static_cast<int>(args.size()), args.data());
    }
    if (!only || std::strcmp(only, "library") == 0)
        failures += runLibraryTests(static_cast<int>(args.size()), args.data());
    if (!only || std::strcmp(only, "compare") == 0)
        failures += runCompareTests(static_cast<int>(args.size()), args.data());
    return failures;
}
#include "test_cli.moc"

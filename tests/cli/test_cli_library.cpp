#include "cli/Cli.h"
#include "cli/Help.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/ParameterCommands.h"
#include "cli/WatchCommand.h"
#include "support/StdoutCapture.h"

#include <QtTest>

// The command line's library in this process: parsing, help and commands, with no
// process started.
class TestCliLibrary : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void parsesWhatTheUserTyped_data();
    void parsesWhatTheUserTyped();
    void refusesBadUsage_data();
    void refusesBadUsage();
    void everyCommandHasHelp();
    void commandsCheckTheirArgumentsFirst_data();
    void commandsCheckTheirArgumentsFirst();
    void runsACommandOnTheSimulatedModule();
};

void TestCliLibrary::initTestCase()
{
    qInstallMessageHandler(cli::messageHandler);
}

void TestCliLibrary::parsesWhatTheUserTyped_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("options first") << QStringList{"--port", "ttyUSB0", "--baud", "9600", "get", "4"}
                                   << "ttyUSB0" << 9600 << 1 << "get" << QStringList{"4"};
    QTest::newRow("options after, with =")
        << QStringList{"set", "4", "--address=7", "--port=/dev/pts/3", "-5"} << "/dev/pts/3" << 0
        << 7 << "set" << QStringList{"4", "-5"};
    QTest::newRow("-- makes arguments of options")
        << QStringList{"--sim", "raw", "--", "--port", "-h"} << "" << 0 << 1 << "raw"
        << QStringList{"--port", "-h"};
}

void TestCliLibrary::parsesWhatTheUserTyped()
{
    QFETCH(QStringList, args);
    cli::Invocation invocation;
    QString error;
    QVERIFY2(cli::parseCommandLine(args, &invocation, &error), qPrintable(error));
    QTEST(invocation.port, "port");
    QTEST(invocation.baud.value_or(0), "baud");
    QTEST(invocation.address, "address");
    QTEST(invocation.command, "command");
    QTEST(invocation.arguments, "arguments");
}

void TestCliLibrary::refusesBadUsage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error");
    QTest::newRow("unknown option")
        << QStringList{"--verbose", "get"} << "unknown option --verbose";
    QTest::newRow("missing value") << QStringList{"get", "4", "--port"} << "--port needs a value";
    QTest::newRow("value to a switch") << QStringList{"--sim=1", "get"} << "--sim takes no value";
    QTest::newRow("another command's option") << QStringList{"--sim", "get", "4", "--count", "3"}
                                              << "--count belongs to the watch command";
    QTest::newRow("an option of two commands") << QStringList{"--sim", "get", "4", "--csv", "x"}
                                               << "--csv belongs to the watch and step commands";
    QTest::newRow("address out of range")
        << QStringList{"--address", "256", "get"} << "--address: 256 is outside 1 to 255";
    QTest::newRow("baud not a number")
        << QStringList{"--baud", "fast", "get"} << "--baud: \"fast\" is not a whole number";
}

void TestCliLibrary::refusesBadUsage()
{
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    cli::Invocation invocation;
    QString why;
    QVERIFY(!cli::parseCommandLine(args, &invocation, &why));
    QCOMPARE(why, error);
}

void TestCliLibrary::everyCommandHasHelp()
{
    const QString general = cli::generalHelp();
    for (const char* name : {"ports", "get", "set", "stop", "raw", "export-ini", "import-ini",
                             "export-script", "store", "restore", "run-script", "watch"}) {
        const cli::CommandHelp* help = cli::findCommand(QLatin1String(name));
        QVERIFY2(help, name);
        QVERIFY(general.contains(QStringLiteral("\n  %1").arg(QLatin1String(help->synopsis))));
        QVERIFY(cli::helpFor(*help).contains(QLatin1String(help->example)));
    }
    QVERIFY(!cli::findCommand(QStringLiteral("help")));
}

void TestCliLibrary::commandsCheckTheirArgumentsFirst_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error");
    QTest::newRow("get without a parameter")
        << "get" << QStringList{} << "get: which parameter? (get PARAMETER [PARAMETER...])";
    QTest::newRow("get of an unknown name")
        << "get" << QStringList{"MaxCurrent", "Speed"} << "unknown parameter: Speed";
    QTest::newRow("set beyond 32 bits")
        << "set" << QStringList{"4", "2147483648"}
        << "value (32-bit): 2147483648 is outside -2147483648 to 2147483647";
    QTest::newRow("raw type beyond a byte")
        << "raw" << QStringList{"6", "256", "0", "0"} << "type: 256 is outside 0 to 255";
    QTest::newRow("stop with an argument")
        << "stop" << QStringList{"now"} << "stop takes no argument";
}

void TestCliLibrary::commandsCheckTheirArgumentsFirst()
{
    QFETCH(QString, command);
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    QString why;
    const cli::Action action = command == QLatin1String("get")   ? cli::prepareGet(args, &why)
                               : command == QLatin1String("set") ? cli::prepareSet(args, &why)
                               : command == QLatin1String("raw") ? cli::prepareRaw(args, &why)
                                                                 : cli::prepareStop(args, &why);
    QVERIFY(!action);
    QCOMPARE(why, error);
}

void TestCliLibrary::runsACommandOnTheSimulatedModule()
{
    // The whole command line, on a simulated module served in this process.
    StdoutCapture out;
    const int status =
        cli::run({QStringLiteral("--sim"), QStringLiteral("--quiet"), QStringLiteral("get"),
                  QStringLiteral("MaxCurrent"), QStringLiteral("velocity_PID_values/P_set_1")});
    const QByteArray text = out.text();
    QCOMPARE(status, int(cli::ExitOk));
    QCOMPARE(text, QByteArray("MaxCurrent\t2000\nvelocity_PID_values/P_set_1\t2000\n"));

    // A refused write changes nothing on standard output and exits 1.
    StdoutCapture refused;
    QCOMPARE(cli::run({QStringLiteral("--sim"), QStringLiteral("--quiet"), QStringLiteral("set"),
                       QStringLiteral("ActualVelocity"), QStringLiteral("5")}),
             int(cli::ExitRefused));
    QVERIFY(refused.text().isEmpty());
}

int runLibraryTests(int argc, char** argv)
{
    TestCliLibrary test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_cli_library.moc"

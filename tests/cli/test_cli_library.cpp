#include "cli/Cli.h"
#include "cli/Completion.h"
#include "cli/Help.h"
#include "cli/ManPage.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/ParameterCommands.h"
#include "cli/WatchCommand.h"
#include "support/StdoutCapture.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
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
    void manPageHoldsEveryCommandOfTheHelp();
    void helpTextBecomesAManPage();
    void synopsesSayWhatACommandTakes_data();
    void synopsesSayWhatACommandTakes();
    void bashCompletesFromTheCommandTable_data();
    void bashCompletesFromTheCommandTable();
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
    QTest::newRow("an option of two commands")
        << QStringList{"--sim", "get", "4", "--csv", "x"}
        << "--csv belongs to the watch, step and bode commands";
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

void TestCliLibrary::manPageHoldsEveryCommandOfTheHelp()
{
    const QString page = cli::cliManPage();
    // Every command the general help lists, by its name in bold, with its whole text and
    // its example.
    const cli::HelpText help = cli::HelpText::parse(cli::generalHelp());
    const cli::HelpText::Section* listed = help.section(QStringLiteral("Commands"));
    QVERIFY(listed);
    QCOMPARE(listed->items.size(), cli::commands().size());
    for (const cli::HelpText::Item& item : listed->items) {
        const QString name = item.term.section(QLatin1Char(' '), 0, 0);
        const cli::CommandHelp* command = cli::findCommand(name);
        QVERIFY2(command, qPrintable(name));
        QVERIFY2(page.contains(QStringLiteral("\n.TP\n\\fB%1\\fR").arg(cli::roffText(name))),
                 qPrintable(name));
        QVERIFY2(page.contains(cli::roffText(QString::fromUtf8(command->text).replace('\n', ' '))),
                 qPrintable(name));
        QVERIFY2(page.contains(cli::roffText(QString::fromUtf8(command->example))),
                 qPrintable(name));
    }
    // Every option and exit status.
    for (const char* heading : {"Options", "Exit status"}) {
        const cli::HelpText::Section* section = help.section(QLatin1String(heading));
        QVERIFY2(section && !section->items.isEmpty(), heading);
        for (const cli::HelpText::Item& item : section->items)
            QVERIFY2(page.contains(cli::roffTerm(item.term)), qPrintable(item.term));
    }

    // What man shows of it: every command, and no complaint from the formatter.
    const QString groff = QStandardPaths::findExecutable(QStringLiteral("groff"));
    if (groff.isEmpty())
        return;
    QProcess format;
    format.start(groff, {QStringLiteral("-man"), QStringLiteral("-Tutf8"), QStringLiteral("-ww"),
                         QStringLiteral("-rLL=200n")});
    format.write(page.toUtf8());
    format.closeWriteChannel();
    QVERIFY(format.waitForFinished(30000));
    const QString shown =
        QString::fromUtf8(format.readAllStandardOutput()).remove(QRegularExpression(".\x08"));
    QCOMPARE(QString::fromUtf8(format.readAllStandardError()), QString());
    for (const cli::CommandHelp* command : cli::commands())
        QVERIFY2(shown.contains(QStringLiteral("       %1").arg(QLatin1String(command->synopsis))),
                 command->synopsis);
    QVERIFY(shown.contains(QStringLiteral("ziro-bldc-cli - commissions a ZIRO-BLDC module")));
}

void TestCliLibrary::helpTextBecomesAManPage()
{
    // As Qt's command line parser writes it: the program's path in the usage, the
    // description right below, options with continued lines.
    const QString help = QStringLiteral("Usage: /opt/ziro/bin/ziro-bldc-sim [options]\n"
                                        "Serves a simulated module. Until Ctrl-C.\n"
                                        "\n"
                                        ".dot at the start, a back\\slash\n"
                                        "\n"
                                        "Options:\n"
                                        "  -h, --help     Displays help.\n"
                                        "  --link <path>  Make a symbolic link <path> to the port\n"
                                        "                 (removed at exit).\n"
                                        "\n"
                                        "Exit status:\n"
                                        "  0  success\n");
    const QString page =
        cli::manPage(QStringLiteral("ziro-bldc-sim"), help, {QStringLiteral("ziro-bldc")});
    QVERIFY(page.contains(QStringLiteral(".TH ZIRO\\-BLDC\\-SIM 1 ")));
    QVERIFY(page.contains(
        QStringLiteral(".SH NAME\nziro\\-bldc\\-sim \\- serves a simulated module\n")));
    QVERIFY(page.contains(QStringLiteral(".SH SYNOPSIS\n.B ziro\\-bldc\\-sim\n[options]\n")));
    QVERIFY(page.contains(
        QStringLiteral("Until Ctrl\\-C.\n.PP\n\\&.dot at the start, a back\\eslash\n")));
    QVERIFY(page.contains(QStringLiteral(".TP\n\\fB\\-h\\fR, \\fB\\-\\-help\\fR\n")));
    QVERIFY(page.contains(QStringLiteral(
        ".TP\n\\fB\\-\\-link\\fR \\fI<path>\\fR\nMake a symbolic link <path> to the port "
        "(removed at exit).\n")));
    QVERIFY(page.contains(QStringLiteral(".SH EXIT STATUS\n.TP\n0\nsuccess\n")));
    QVERIFY(page.contains(QStringLiteral(".SH \"SEE ALSO\"\n.BR ziro\\-bldc (1)\n")));
}

void TestCliLibrary::synopsesSayWhatACommandTakes_data()
{
    QTest::addColumn<QString>("synopsis");
    QTest::addColumn<QStringList>("options"); // name=value
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("options with values")
        << "watch [--interval MS] [--count N] [--csv FILE]"
        << QStringList{"--interval=MS", "--count=N", "--csv=FILE"} << QStringList{};
    QTest::newRow("a switch before an argument")
        << "run-script [--keep-going] FILE" << QStringList{"--keep-going="} << QStringList{"FILE"};
    QTest::newRow("repeated argument") << "get PARAMETER [PARAMETER...]" << QStringList{}
                                       << QStringList{"PARAMETER", "PARAMETER..."};
    QTest::newRow("no argument") << "store" << QStringList{} << QStringList{};
}

void TestCliLibrary::synopsesSayWhatACommandTakes()
{
    QFETCH(QString, synopsis);
    QFETCH(QStringList, options);
    QFETCH(QStringList, arguments);
    const cli::CommandSyntax syntax = cli::CommandSyntax::parse(synopsis);
    QCOMPARE(syntax.name, synopsis.section(QLatin1Char(' '), 0, 0));
    QStringList found;
    for (const cli::CommandSyntax::Option& option : syntax.options)
        found << option.name + QLatin1Char('=') + option.value;
    QCOMPARE(found, options);
    QCOMPARE(syntax.arguments, arguments);
}

void TestCliLibrary::bashCompletesFromTheCommandTable_data()
{
    QTest::addColumn<QStringList>("words"); // the last one is being completed
    QTest::addColumn<QStringList>("offered");
    QStringList commands;
    for (const cli::CommandHelp* command : cli::commands())
        commands << QLatin1String(command->name);
    QTest::newRow("a command") << QStringList{""} << commands + QStringList{"help"};
    QStringList options;
    for (const cli::CommandSyntax::Option& option : cli::toolOptions())
        options << option.name;
    QVERIFY(options.contains(QStringLiteral("--port")));
    QTest::newRow("the tool's options") << QStringList{"--"} << options;
    QTest::newRow("a command's own options")
        << QStringList{"--sim", "watch", "--c"} << QStringList{"--count", "--csv"};
    QTest::newRow("parameter names")
        << QStringList{"--port", "ttyUSB0", "get", "MaxCurrent", "MaxC"}
        << QStringList{"MaxCurrent"};
    QTest::newRow("no name for a value")
        << QStringList{"--sim", "set", "MaxCurrent", ""} << QStringList{};
    QTest::newRow("a file") << QStringList{"import-ini", "@dir@/mot"}
                            << QStringList{"@dir@/motor7.ini"};
    QTest::newRow("an option's file")
        << QStringList{"watch", "--csv", "@dir@/mot"} << QStringList{"@dir@/motor7.ini"};
    QTest::newRow("help on a command")
        << QStringList{"help", "export-i"} << QStringList{"export-ini"};
}

void TestCliLibrary::bashCompletesFromTheCommandTable()
{
    QFETCH(QStringList, words);
    QFETCH(QStringList, offered);
    const QString bash = QStandardPaths::findExecutable(QStringLiteral("bash"));
    if (bash.isEmpty())
        QSKIP("no bash here");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("motor7.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QStringList quoted{QStringLiteral("ziro-bldc-cli")};
    for (QString word : std::as_const(words))
        quoted << QLatin1Char('\'') + word.replace(QLatin1String("@dir@"), dir.path()) +
                      QLatin1Char('\'');
    for (QString& word : offered)
        word.replace(QLatin1String("@dir@"), dir.path());
    const QString script =
        cli::bashCompletion() + QStringLiteral("COMP_WORDS=(%1)\nCOMP_CWORD=%2\n_ziro_bldc_cli\n"
                                               "printf '%s\\n' \"${COMPREPLY[@]}\"\n")
                                    .arg(quoted.join(QLatin1Char(' ')))
                                    .arg(quoted.size() - 1);
    QProcess process;
    process.start(bash, {QStringLiteral("--norc"), QStringLiteral("--noprofile")});
    process.write(script.toUtf8());
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(QString::fromUtf8(process.readAllStandardError()), QString());
    QStringList got =
        QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    got.sort();
    offered.sort();
    QCOMPARE(got, offered);
}

int runLibraryTests(int argc, char** argv)
{
    TestCliLibrary test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_cli_library.moc"

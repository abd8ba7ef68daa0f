#include "support/CliProcess.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

// diff and report as a line script runs them: against the simulator command, which logs
// every frame that reaches it, and on files alone.
class TestCliCompare : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void moduleAgainstItsGoldenFile();
    void twoFiles_data();
    void twoFiles();
    void silentModuleExitsOne();

private:
    QStringList onLink(const QStringList& args) const { return m_sim.onLink(args); }
    QStringList received() const { return m_sim.received(); }
    QString path(const QString& name) const { return m_sim.path(name); }

    SimulatorProcess m_sim;
};

void TestCliCompare::initTestCase()
{
    QVERIFY(m_sim.start());
}

void TestCliCompare::cleanupTestCase()
{
    QVERIFY(m_sim.stop());
}

void TestCliCompare::moduleAgainstItsGoldenFile()
{
    // A name that must be escaped in the page.
    const QString golden = path(QStringLiteral("golden <&>.ini"));
    QCOMPARE(cli(onLink({QStringLiteral("export-ini"), golden})).exitCode, 0);
    Run run = cli(onLink({QStringLiteral("diff"), golden}));
    QVERIFY2(run.exitCode == 0 && run.out.isEmpty(), qPrintable(describe(run)));

    const Run before = cli(onLink({QStringLiteral("get"), QStringLiteral("Acceleration")}));
    const QString acceleration = before.out.section(QLatin1Char('\t'), 1).trimmed();
    QCOMPARE(
        cli(onLink({QStringLiteral("set"), QStringLiteral("Acceleration"), QStringLiteral("1777")}))
            .exitCode,
        0);
    qsizetype frames = received().size();
    run = cli(onLink({QStringLiteral("diff"), golden}));
    QVERIFY2(run.exitCode == 1, qPrintable(describe(run)));
    QCOMPARE(run.out, QStringLiteral("motion_settings/Acceleration\t1777\t%1\n").arg(acceleration));
    // Only reads: 44 gets.
    QStringList sent = received().mid(frames);
    QCOMPARE(sent.size(), 44);
    QCOMPARE(sent.filter(QRegularExpression(QStringLiteral("^01 06 "))).size(), 44);

    // The record says so too, exits 1, and reads the live values and the module's firmware
    // version and address (global parameters) besides.
    const QString record = path(QStringLiteral("record.html"));
    frames = received().size();
    run = cli(onLink({QStringLiteral("report"), record, QStringLiteral("--against"), golden}));
    QVERIFY2(run.exitCode == 1, qPrintable(describe(run)));
    QCOMPARE(run.out, QStringLiteral("%1: 1 difference from golden <&>.ini\n").arg(record));
    sent = received().mid(frames);
    QCOMPARE(sent.filter(QRegularExpression(QStringLiteral("^01 (06|0[Aa]) "))).size(),
             sent.size());
    QCOMPARE(sent.filter(QRegularExpression(QStringLiteral("^01 0[Aa] 0[02] 00 "))).size(), 2);
    QByteArray html = readFile(record);
    QVERIFY(html.contains("<tr><th>Firmware version</th><td>100</td></tr>"));
    QVERIFY(html.contains("<p class=\"verdict differs\">1 difference</p>"));
    QVERIFY(html.contains("golden &lt;&amp;&gt;.ini"));
    QVERIFY(!html.contains("golden <&>"));
    QVERIFY(!html.contains("http"));
    QXmlStreamReader xml(html);
    while (!xml.atEnd())
        xml.readNext();
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));

    // Put back, it matches, and the record replaces the older one.
    QCOMPARE(
        cli(onLink({QStringLiteral("set"), QStringLiteral("Acceleration"), acceleration})).exitCode,
        0);
    run = cli(onLink({QStringLiteral("report"), record, QStringLiteral("--against"), golden}));
    QVERIFY2(run.exitCode == 0, qPrintable(describe(run)));
    QCOMPARE(run.out, QStringLiteral("%1: matches golden <&>.ini\n").arg(record));
    html = readFile(record);
    QVERIFY(html.contains("<p class=\"verdict matches\">matches golden &lt;&amp;&gt;.ini</p>"));
    QCOMPARE(html.count("<tr class=\"parameter same\">"), 44);
    QCOMPARE(
        QDir(path(QString())).entryList({QStringLiteral("record*")}, QDir::Files | QDir::Hidden),
        QStringList{QStringLiteral("record.html")});

    // The golden file named as the record by mistake stays as it is; nothing is sent.
    const QByteArray kept = readFile(golden);
    frames = received().size();
    run = cli(onLink({QStringLiteral("report"), golden}));
    QVERIFY2(run.exitCode == 2, qPrintable(describe(run)));
    QVERIFY2(run.err.contains(QStringLiteral("reads as a settings file")), qPrintable(run.err));
    QCOMPARE(readFile(golden), kept);
    QCOMPARE(received().size(), frames);
}

void TestCliCompare::twoFiles_data()
{
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");

    const QByteArray first("[motor_and_module_settings]\nMotorPoles=8\nMaxCurrent=2000\n");
    QTest::newRow("identical") << first << 0 << ""
                               << "";
    QTest::newRow("a value, a key missing, a key that is no number")
        << QByteArray("[motor_and_module_settings]\nMotorPoles=x8\n") << 1
        << "motor_and_module_settings/MotorPoles\t8\t(not a whole number: \"x8\")\n"
           "motor_and_module_settings/MaxCurrent\t2000\t(missing)\n"
        << "";
    QTest::newRow("not a settings file") << QByteArray("SAP 4, 0, 1\n") << 2 << ""
                                         << "diff: %1: is not a settings file";
    QTest::newRow("no file") << QByteArray() << 2 << ""
                             << "diff: %1: cannot be read: ";
}

void TestCliCompare::twoFiles()
{
    QFETCH(QByteArray, second);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);

    QTemporaryDir folder;
    const QString a = folder.filePath(QStringLiteral("a.ini"));
    const QString b = folder.filePath(QStringLiteral("b.ini"));
    writeFile(a, "[motor_and_module_settings]\nMotorPoles=8\nMaxCurrent=2000\n");
    if (!second.isEmpty())
        writeFile(b, second);
    // No port: the files alone.
    const Run run = cli({QStringLiteral("diff"), a, b});
    QVERIFY2(run.exitCode == exitCode, qPrintable(describe(run)));
    QCOMPARE(run.out, out);
    if (!err.isEmpty())
        QVERIFY2(run.err.contains(err.arg(b)), qPrintable(run.err));
}

void TestCliCompare::silentModuleExitsOne()
{
    // A module at address 7 does not answer frames for address 1: nothing to compare, no
    // record.
    QProcess sim;
    sim.start(QStringLiteral(ZIRO_SIM_COMMAND), {QStringLiteral("--address"), QStringLiteral("7")});
    QVERIFY(sim.waitForReadyRead(10000));
    const QString port = QString::fromLocal8Bit(sim.readLine()).trimmed();
    const QString golden = path(QStringLiteral("silent.ini"));
    writeFile(golden, "[motor_and_module_settings]\nMotorPoles=8\n");
    const QString record = path(QStringLiteral("silent.html"));
    for (const QStringList& args : {QStringList{QStringLiteral("diff"), golden},
                                    QStringList{QStringLiteral("report"), record}}) {
        const Run run =
            cli(QStringList{QStringLiteral("--port"), port, QStringLiteral("--quiet")} + args);
        QVERIFY2(run.exitCode == 1, qPrintable(describe(run)));
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.contains(QStringLiteral("no reply")), qPrintable(run.err));
    }
    QVERIFY(!QFileInfo::exists(record));
    sim.terminate();
    QVERIFY(sim.waitForFinished(10000));
}

int runCompareTests(int argc, char** argv)
{
    TestCliCompare test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_cli_compare.moc"

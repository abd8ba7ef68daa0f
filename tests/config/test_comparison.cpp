#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/SerialUSBDevice.h"
#include "comm/VOKTRequest.h"
#include "config/CommissioningRecord.h"
#include "config/ParameterCatalogue.h"
#include "config/SettingsComparison.h"
#include "config/SettingsFile.h"
#include "sim/PtyPeer.h"
#include "sim/ServedModule.h"
#include "sim/SimulatedModule.h"
#include "support/LogCapture.h"
#include "support/ServedModuleTest.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <memory>

using SettingsComparison::Kind;
using SettingsComparison::Value;

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QList<Value> numbers(const QList<qint32>& values)
{
    QList<Value> list;
    for (qint32 value : values)
        list.append(Value::of(value));
    return list;
}

// What an HTML page holds, read as XML: the class of every table row and the text of
// every element with a class, in order.
struct Page
{
    QStringList rowClasses;
    QMap<QString, QStringList> textByClass;
    QString error;
};

Page parse(const QByteArray& html)
{
    Page page;
    QXmlStreamReader xml(html);
    QStringList classes; // of the open elements
    QStringList texts;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            classes << xml.attributes().value(QStringLiteral("class")).toString();
            texts << QString();
            if (xml.name() == QLatin1String("tr"))
                page.rowClasses << classes.last();
            break;
        case QXmlStreamReader::Characters:
            for (QString& text : texts)
                text += xml.text();
            break;
        case QXmlStreamReader::EndElement:
            if (!classes.last().isEmpty())
                page.textByClass[classes.last()] << texts.last().trimmed();
            classes.removeLast();
            texts.removeLast();
            break;
        default:
            break;
        }
    }
    if (xml.hasError())
        page.error = QStringLiteral("%1 at line %2").arg(xml.errorString()).arg(xml.lineNumber());
    return page;
}

} // namespace

// The comparison of a module with a settings file, or of two files, and the commissioning
// record, against the simulated module on a pseudo-terminal.
class TestComparison : public ServedModuleTest
{
    Q_OBJECT

private slots:
    void moduleAgainstItsExportNamesTheChangedParameter();
    void filesOfEveryKind_data();
    void filesOfEveryKind();
    void notSettingsFiles_data();
    void notSettingsFiles();
    void moduleThatCannotBeReadCompletely_data();
    void moduleThatCannotBeReadCompletely();
    void writesOnlyTheValuesGiven();
    void recordIsOnePageThatParses_data();
    void recordIsOnePageThatParses();

private:
    QList<Value> moduleValues();
};

QList<Value> TestComparison::moduleValues()
{
    QString why;
    const std::optional<QList<qint32>> values =
        SettingsComparison::readModule(*m_handler, {}, &why);
    if (!values)
        qWarning("module not read: %s", qPrintable(why));
    return values ? numbers(*values) : QList<Value>();
}

void TestComparison::moduleAgainstItsExportNamesTheChangedParameter()
{
    const QString golden = path("golden.ini");
    QVERIFY(SettingsFile::exportTo(golden, *m_handler));
    QString why;
    const std::optional<QList<Value>> file = SettingsComparison::readFile(golden, &why);
    QVERIFY2(file, qPrintable(why));
    QCOMPARE(SettingsComparison::differences(SettingsComparison::compare(moduleValues(), *file)),
             0);

    // One parameter changes, and one whose key the PID groups share: exactly those rows
    // differ, each with both values, and come first.
    const qint32 acceleration = file->at(13).number;
    set(ParameterCatalogue::Acceleration, acceleration + 500);
    set(130, 777); // position_PID_values/P_set_1
    m_served->peer().clearRequests();
    const SettingsComparison::Rows rows = SettingsComparison::compare(moduleValues(), *file);
    // Read only: 44 gets.
    QCOMPARE(m_served->peer().requestCount(), 44);
    for (const QByteArray& request : m_served->peer().requests())
        QCOMPARE(int(quint8(request.at(1))), int(vokt::GetAxisParameter));
    QCOMPARE(
        SettingsComparison::differenceLines(rows),
        QStringList(
            {QStringLiteral("motion_settings/Acceleration\t%1\t%2")
                 .arg(acceleration + 500)
                 .arg(acceleration),
             QStringLiteral("position_PID_values/P_set_1\t777\t%1").arg(file->at(35).number)}));
    QCOMPARE(SettingsComparison::verdict(rows, QStringLiteral("golden.ini")),
             QStringLiteral("2 differences"));
    const SettingsComparison::Rows ordered = SettingsComparison::differencesFirst(rows);
    QCOMPARE(ordered.size(), 44);
    QCOMPARE(ordered.at(0).number(), int(ParameterCatalogue::Acceleration));
    QCOMPARE(ordered.at(1).number(), 130);
    QVERIFY(!ordered.at(2).differs());
}

void TestComparison::filesOfEveryKind_data()
{
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QList<int>>("kinds"); // Kind of the rows that differ, in order

    const QByteArray first("[motor_and_module_settings]\nMotorPoles=8\nMaxCurrent=2000\n"
                           "[encoder_settings]\nEncoderSteps=4096\n");
    QTest::newRow("the same, in another order and with comments")
        << QByteArray("; golden\n[encoder_settings]\nEncoderSteps=04096\n"
                      "[motor_and_module_settings]\nMaxCurrent=2000\nMotorPoles=+8\n")
        << QStringList() << QList<int>();
    QTest::newRow("a value, a missing key, a key that is no number")
        << QByteArray("[motor_and_module_settings]\nMotorPoles=6\nMaxCurrent=2000mA\n")
        << QStringList({"motor_and_module_settings/MotorPoles\t8\t6",
                        "motor_and_module_settings/MaxCurrent\t2000\t(not a whole number: "
                        "\"2000mA\")",
                        "encoder_settings/EncoderSteps\t4096\t(missing)"})
        << QList<int>({int(Kind::Differs), int(Kind::NotANumber), int(Kind::Missing)});
    QTest::newRow("a value the settings class reads as a list, one beyond 32 bits")
        << QByteArray("[motor_and_module_settings]\nMotorPoles=8\nMaxCurrent=1,5\n"
                      "[encoder_settings]\nEncoderSteps=4294967296\n")
        << QStringList({"motor_and_module_settings/MaxCurrent\t2000\t(not a whole number: "
                        "\"1,5\")",
                        "encoder_settings/EncoderSteps\t4096\t(not a whole number: "
                        "\"4294967296\")"})
        << QList<int>({int(Kind::NotANumber), int(Kind::NotANumber)});
}

void TestComparison::filesOfEveryKind()
{
    QFETCH(QByteArray, second);
    QFETCH(QStringList, lines);
    QFETCH(QList<int>, kinds);

    writeFile(path("a.ini"), "[motor_and_module_settings]\nMotorPoles=8\nMaxCurrent=2000\n"
                             "[encoder_settings]\nEncoderSteps=4096\n");
    writeFile(path("b.ini"), second);
    QString why;
    const auto a = SettingsComparison::readFile(path("a.ini"), &why);
    const auto b = SettingsComparison::readFile(path("b.ini"), &why);
    QVERIFY2(a && b, qPrintable(why));
    const SettingsComparison::Rows rows = SettingsComparison::compare(*a, *b);
    // Both lack the other 41 keys: there they agree.
    QCOMPARE(SettingsComparison::differences(rows), lines.size());
    QStringList shown;
    QList<int> shownKinds;
    for (const SettingsComparison::Row& row : rows) {
        if (row.index != 0 && row.index != 1 && row.index != 5) {
            QCOMPARE(row.kind(), Kind::Same);
            continue;
        }
        if (row.differs()) {
            shown << SettingsComparison::differenceLines({row});
            shownKinds << int(row.kind());
        }
    }
    QCOMPARE(shown, lines);
    QCOMPARE(shownKinds, kinds);
    // What an import changes: values only.
    QCOMPARE(SettingsComparison::changes(rows), int(kinds.count(int(Kind::Differs))));
    // As CSV: a header and 44 rows of six fields, a file's text quoted where it must be.
    const QByteArray csv =
        SettingsComparison::csv(rows, QStringLiteral("a.ini"), QStringLiteral("b, \"second\""));
    const QList<QByteArray> csvLines = csv.trimmed().split('\n');
    QCOMPARE(csvLines.size(), 45);
    QCOMPARE(csvLines.first(), QByteArray("section,key,number,a.ini,\"b, \"\"second\"\"\",result"));
    QCOMPARE(csvLines.at(2).startsWith("motor_and_module_settings,MaxCurrent,6,2000,"), true);
    if (lines.join(' ').contains(QStringLiteral("1,5")))
        QVERIFY(csv.contains(",\"(not a whole number: \"\"1,5\"\")\",not a whole number\n"));
}

void TestComparison::notSettingsFiles_data()
{
    QTest::addColumn<QByteArray>("content"); // "(folder)": a folder
    QTest::addColumn<QString>("why");
    QTest::newRow("a folder") << QByteArray("(folder)") << "is a folder";
    QTest::newRow("empty") << QByteArray() << "is not a settings file";
    QTest::newRow("a command script")
        << QByteArray("//=== motor/module settings ===\nSAP 253, 0, 8 \t// motor poles\n")
        << "is not a settings file";
    QTest::newRow("binary") << QByteArray("[a]\nb=1\n\0\0", 10) << "is not a settings file";
    QTest::newRow("INI of another tool")
        << QByteArray("[window]\nwidth=800\n") << "holds none of the 44 settings keys";
}

void TestComparison::notSettingsFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, why);
    const QString file = path("file.ini");
    if (content == "(folder)")
        QVERIFY(QDir().mkdir(file));
    else
        writeFile(file, content);
    QString reason;
    QVERIFY(!SettingsComparison::readFile(file, &reason));
    QCOMPARE(reason, why);
    QVERIFY(!SettingsComparison::readFile(path("none.ini"), &reason));
    QVERIFY2(reason.startsWith(QLatin1String("cannot be read: ")), qPrintable(reason));
}

void TestComparison::moduleThatCannotBeReadCompletely_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("why");
    QTest::newRow("silent after twelve answers") << "silent"
                                                 << "parameter 4: no reply within 510 ms";
    QTest::newRow("every answer twice") << "twice"
                                        << "the line is not clean";
    QTest::newRow("closed") << "closed"
                            << "the link is closed";
}

void TestComparison::moduleThatCannotBeReadCompletely()
{
    QFETCH(QString, line);
    QFETCH(QString, why);
    ServedModule* served = m_served;
    auto answered = std::make_shared<int>(0);
    served->peer().setResponder([served, line, answered](const QByteArray& request) {
        QByteArray reply;
        served->withModule([&](SimulatedModule& module) { reply = module.handle(request); });
        if (line == QLatin1String("silent") && ++*answered > 12)
            return QList<PtyPeer::Chunk>{};
        if (line == QLatin1String("twice"))
            return QList<PtyPeer::Chunk>{{0, reply}, {5, reply}};
        return PtyPeer::answer(reply);
    });
    if (line == QLatin1String("closed"))
        m_handler->close();
    // The record reads the same way, and has nothing either.
    QString reason;
    QVERIFY(!SettingsComparison::readModule(*m_handler, {}, &reason));
    QCOMPARE(reason, why);
    if (line != QLatin1String("silent")) {
        QVERIFY(!CommissioningRecord::take(*m_handler, {}, &reason));
        QCOMPARE(reason, why);
    }
}

void TestComparison::writesOnlyTheValuesGiven()
{
    QSignalSpy shown(m_handler, &SerialUSBCommandHandler::requestedValue);
    const QList<std::optional<qint32>> readBack =
        SettingsComparison::writeValues(*m_handler, {{ParameterCatalogue::Acceleration, 1234},
                                                     {ParameterCatalogue::MaxCurrent, 1500}});
    QCOMPARE(readBack, (QList<std::optional<qint32>>{1234, 1500}));
    QStringList wire;
    for (const QByteArray& request : m_served->peer().requests())
        wire << QStringLiteral("%1 %2 %3")
                    .arg(quint8(request.at(1)))
                    .arg(quint8(request.at(2)))
                    .arg(vokt::takeBigEndian(request.constData() + 4));
    QCOMPARE(wire, QStringList({"5 11 1234", "6 11 0", "5 6 1500", "6 6 0"}));
    // Every panel hears the values read back.
    QCOMPARE(shown.size(), 2);

    // A cancel stops after the value in progress.
    m_served->peer().clearRequests();
    const auto cancelled = SettingsComparison::writeValues(
        *m_handler,
        {{ParameterCatalogue::Acceleration, 1000}, {ParameterCatalogue::MaxCurrent, 2000}},
        [](int, int) { return false; });
    QCOMPARE(cancelled, (QList<std::optional<qint32>>{1000, std::nullopt}));
    QCOMPARE(m_served->peer().requestCount(), 2);
}

void TestComparison::recordIsOnePageThatParses_data()
{
    QTest::addColumn<bool>("golden");
    QTest::addColumn<bool>("changed");
    QTest::addColumn<QString>("verdict");
    QTest::newRow("no golden file") << false << false << "";
    QTest::newRow("matches") << true << false << "matches golden.ini";
    QTest::newRow("differs") << true << true << "3 differences";
}

void TestComparison::recordIsOnePageThatParses()
{
    QFETCH(bool, golden);
    QFETCH(bool, changed);
    QFETCH(QString, verdict);

    const QString goldenFile = path("golden.ini");
    QVERIFY(SettingsFile::exportTo(goldenFile, *m_handler));
    if (changed) {
        // Two values, and a key the golden file loses.
        set(ParameterCatalogue::Acceleration, 1500);
        set(ParameterCatalogue::MaxCurrent, 1800);
        QSettings(goldenFile, QSettings::IniFormat)
            .remove(QStringLiteral("encoder_settings/EncoderSteps"));
    }
    QString why;
    std::optional<CommissioningRecord::Snapshot> snapshot =
        CommissioningRecord::take(*m_handler, {}, &why);
    QVERIFY2(snapshot, qPrintable(why));
    if (golden)
        snapshot->golden = CommissioningRecord::Golden{
            goldenFile, *SettingsComparison::readFile(goldenFile, &why)};
    // The module names itself; whether it was a simulated one, the caller says.
    QCOMPARE(snapshot->firmwareVersion, std::optional<qint32>(100));
    QCOMPARE(snapshot->reportedAddress, std::optional<qint32>(snapshot->address));
    snapshot->simulated = changed;
    const QString file = path("record.html");
    QVERIFY2(CommissioningRecord::write(file, *snapshot, &why), qPrintable(why));
    QFile written(file);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray html = written.readAll();

    const Page page = parse(html);
    QVERIFY2(page.error.isEmpty(), qPrintable(page.error));
    QVERIFY(html.startsWith("<!DOCTYPE html>"));
    // Nothing from elsewhere: no link, script, picture or font to fetch.
    QVERIFY(!html.contains("http"));
    QVERIFY(!html.contains("src="));
    QVERIFY(!html.contains("url("));
    QVERIFY(html.contains("@page { size: A4"));
    QCOMPARE(page.rowClasses.filter(QRegularExpression("^parameter")).size(), 44);
    QCOMPARE(page.rowClasses.count(QStringLiteral("section")), 6);
    QCOMPARE(page.textByClass.value(QStringLiteral("verdict matches")) +
                 page.textByClass.value(QStringLiteral("verdict differs")),
             verdict.isEmpty() ? QStringList() : QStringList{verdict});
    QCOMPARE(page.rowClasses.count(QStringLiteral("parameter differs")), changed ? 3 : 0);
    QCOMPARE(page.rowClasses.count(QStringLiteral("parameter same")),
             golden ? (changed ? 41 : 44) : 0);
    QCOMPARE(page.rowClasses.count(QStringLiteral("live")), 7);
    // The facts, and the status word in words as the status flags panel names its bits.
    QVERIFY(html.contains(m_served->portName().toUtf8()));
    QVERIFY(html.contains("<tr><th>Firmware version</th><td>100</td></tr>"));
    QVERIFY(html.contains(QStringLiteral("<tr><th>Module address</th><td>%1</td></tr>")
                              .arg(snapshot->address)
                              .toUtf8()));
    QCOMPARE(html.contains("(simulated module)"), changed);
    QVERIFY(html.contains(snapshot->version.toHtmlEscaped().toUtf8()));
    const qint32 word = snapshot->liveValues.last().value_or(-1);
    const QStringList words = ParameterCatalogue::statusWords(quint32(word));
    QVERIFY(html.contains(
        (words.isEmpty() ? QStringLiteral("no flag set") : words.join(QStringLiteral(", ")))
            .toUtf8()));
    QCOMPARE(ParameterCatalogue::statusWords((1u << 9) | (1u << 14) | (1u << 17) | (1u << 6)),
             QStringList({"Velocity mode", "Position end", QStringLiteral("I\u00b2t exceeded")}));
}

QTEST_GUILESS_MAIN(TestComparison)

#include "test_comparison.moc"

#include "app/BLDC.h"
#include "app/CompareDialog.h"
#include "app/MainWindow.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/SerialUSBDevice.h"
#include "comm/VOKTRequest.h"
#include "config/CommandScript.h"
#include "config/CommissioningRecord.h"
#include "config/ParameterCatalogue.h"
#include "config/ParameterStore.h"
#include "config/Poller.h"
#include "config/SettingsComparison.h"
#include "config/SettingsFile.h"
#include "sim/PtyPeer.h"
#include "sim/ServedModule.h"
#include "sim/SimulatedModule.h"
#include "support/FileSizeLimit.h"
#include "support/LogCapture.h"
#include "support/NextModal.h"
#include "support/PanelProbe.h"
#include "support/ServedModuleTest.h"
#include "support/SimulatedPanel.h"
#include "support/TemporaryConfig.h"
#include "trace/WTraceController.h"

#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <memory>

#include <sys/stat.h>

using ParameterCatalogue::ConfigurationParameter;

namespace {

// One request as "command type value", the numbers as on the wire.
QString frameText(int command, int type, qint32 value)
{
    return QStringLiteral("%1 %2 %3").arg(command).arg(type).arg(value);
}

QString keyOf(const ConfigurationParameter& p)
{
    return QLatin1String(ParameterCatalogue::sections().at(p.section).group) + QLatin1Char('/') +
           QLatin1String(p.key);
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(no file)");
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QStringList linesStartingWith(const QStringList& lines, const char* prefix)
{
    return lines.filter(QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(prefix)));
}

// What a file dialog showed before it was answered.
struct ShownDialog
{
    QString caption, filter, name, directory;
};

// Answers the next file dialog that opens: notes what it shows, then cancels it or picks
// the file as the user types it (and, for a file that exists, says yes to replacing it).
void answerNextFileDialog(QObject* owner, const QString& file, bool accept,
                          ShownDialog* shown = nullptr)
{
    auto* timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, timer, [owner, timer, file, accept, shown] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->stop();
        timer->deleteLater();
        if (shown)
            *shown = {dialog->windowTitle(), dialog->nameFilters().join(';'),
                      dialog->selectedFiles().value(0), dialog->directory().absolutePath()};
        if (!accept) {
            dialog->reject();
            return;
        }
        if (QFileInfo::exists(file)) {
            // The question comes up while the dialog's accept runs: a timer of its own.
            auto* yes = new QTimer(owner);
            QObject::connect(yes, &QTimer::timeout, yes, [yes] {
                if (auto* question =
                        qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                    yes->stop();
                    yes->deleteLater();
                    question->button(QMessageBox::Yes)->click();
                }
            });
            yes->start(10);
        }
        child<QLineEdit>(dialog, "fileNameEdit")->setText(file);
        QMetaObject::invokeMethod(dialog, "accept");
    });
    timer->start(10);
}

// Whatever is at path: its bytes for a regular file, its kind otherwise (reading a pipe
// would wait for a writer).
QByteArray whatIsAt(const QString& path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return "(nothing)";
    if (S_ISFIFO(info.st_mode))
        return "(pipe)";
    if (S_ISDIR(info.st_mode))
        return "(folder) " +
               QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).join(',').toUtf8();
    return readAll(path);
}

} // namespace

class TestFiles : public ServedModuleTest
{
    Q_OBJECT

private slots:
    void settingsRoundTrip();
    void importWritesOnlyWhatTheFileHolds_data();
    void importWritesOnlyWhatTheFileHolds();
    void importOfForeignFiles_data();
    void importOfForeignFiles();
    void scriptByteForByte();
    void incompleteExportLeavesNoFile_data();
    void incompleteExportLeavesNoFile();
    void exportOnlyIntoWhatCanTakeIt_data();
    void exportOnlyIntoWhatCanTakeIt();
    void fullDiskLeavesFilesAsTheyWere_data();
    void fullDiskLeavesFilesAsTheyWere();
    void windowShowsTheResult_data();
    void windowShowsTheResult();
    void storeAndRestore();
    void storeOrRestoreWithLinkClosed_data();
    void storeOrRestoreWithLinkClosed();
    void refusedReadIsNoValue_data();
    void refusedReadIsNoValue();
    void exportFromALineThatIsNotClean_data();
    void exportFromALineThatIsNotClean();
    void menuDialogs_data();
    void menuDialogs();
    void cancelStopsAfterTheParameterInProgress_data();
    void cancelStopsAfterTheParameterInProgress();
    void storeUnderProgressDialog();

private:
    QStringList wire() const;
    // From now on the module answers `answers` more requests, then falls silent.
    void cutAfter(int answers);
    // Every axis parameter the module holds, and its stored copy.
    QList<QPair<qint32, qint32>> moduleState();
};

// Straight into the module, past the line.

QList<QPair<qint32, qint32>> TestFiles::moduleState()
{
    QList<QPair<qint32, qint32>> state;
    m_served->withModule([&](SimulatedModule& module) {
        for (int type = 0; type <= 255; ++type)
            state.append({module.axisParameter(type), module.storedAxisParameter(type)});
    });
    return state;
}

QStringList TestFiles::wire() const
{
    QStringList frames;
    for (const QByteArray& request : m_served->peer().requests())
        frames << frameText(quint8(request.at(1)), quint8(request.at(2)),
                            vokt::takeBigEndian(request.constData() + 4));
    return frames;
}

void TestFiles::cutAfter(int answers)
{
    ServedModule* served = m_served;
    auto left = std::make_shared<int>(answers);
    served->peer().setResponder([served, left](const QByteArray& request) {
        if ((*left)-- <= 0)
            return QList<PtyPeer::Chunk>{};
        QByteArray reply;
        served->withModule([&](SimulatedModule& module) { reply = module.handle(request); });
        return PtyPeer::answer(reply);
    });
}

void TestFiles::settingsRoundTrip()
{
    set(6, 1500);
    set(168, 700);
    set(130, 350);
    const QString file = path("module.ini");
    QVERIFY(SettingsFile::exportTo(file, *m_handler));

    // Six groups, 44 keys, every one the module's value; the PID groups share key names.
    QSettings ini(file, QSettings::IniFormat);
    QCOMPARE(ini.childGroups().size(), 6);
    QCOMPARE(ini.allKeys().size(), 44);
    QStringList expected;
    for (const ConfigurationParameter& p : ParameterCatalogue::configuration()) {
        QCOMPARE(ini.value(keyOf(p)).toInt(), held(p.number));
        expected << frameText(5, p.number, held(p.number)) << frameText(6, p.number, 0);
    }
    QCOMPARE(ini.value("current_PID_values/P_set_1").toInt(), 700);
    QCOMPARE(ini.value("position_PID_values/P_set_1").toInt(), 350);
    QVERIFY(m_log->contains(QStringLiteral("\"MaxCurrent\"  =  \"1500\" ")));

    // The module changes; the file brings every value back, each written and read back.
    set(6, 900);
    set(168, 11);
    m_served->peer().clearRequests();
    m_log->clear();
    QSignalSpy readBack(m_handler, &SerialUSBCommandHandler::requestedValue);
    QVERIFY(SettingsFile::importFrom(file, *m_handler));
    QCOMPARE(wire(), expected);
    QCOMPARE(held(6), 1500);
    QCOMPARE(held(168), 700);
    QCOMPARE(readBack.size(), 44);
    QCOMPARE(readBack.at(1).at(2).toInt(), 1500); // MaxCurrent, second in the file
    QVERIFY(m_log->contains(QStringLiteral("\"MaxCurrent\"  =  \"1500\" ( \"100\" ) ")));
}

void TestFiles::importWritesOnlyWhatTheFileHolds_data()
{
    QTest::addColumn<QString>("key");
    // None: the key is removed; bytes: the key's line as a damaged file holds it.
    QTest::addColumn<QVariant>("text");
    QTest::addColumn<int>("number");

    const QString maxCurrent = QStringLiteral("motor_and_module_settings/MaxCurrent");
    QTest::newRow("key missing") << "encoder_settings/EncoderSteps" << QVariant() << 250;
    QTest::newRow("not an integer") << maxCurrent << QVariant("abc") << 6;
    QTest::newRow("NUL bytes after the number")
        << maxCurrent << QVariant(QByteArray("MaxCurrent=25\0\0\0\0", 17)) << 6;
    QTest::newRow("junk after the number")
        << maxCurrent << QVariant(QByteArray("MaxCurrent=25mA")) << 6;
    QTest::newRow("blank after the number") << maxCurrent << QVariant("25 ") << 6;
}

void TestFiles::importWritesOnlyWhatTheFileHolds()
{
    QFETCH(QString, key);
    QFETCH(QVariant, text);
    QFETCH(int, number);

    const QString file = path("edited.ini");
    QVERIFY(SettingsFile::exportTo(file, *m_handler));
    if (text.typeId() == QMetaType::QByteArray) {
        QByteArray bytes = readAll(file);
        const QByteArray line = key.section(QLatin1Char('/'), 1).toLatin1() + '=';
        const qsizetype from = bytes.indexOf("\n" + line) + 1;
        QVERIFY(from > 0);
        bytes.replace(from, bytes.indexOf('\n', from) - from, text.toByteArray());
        writeFile(file, bytes);
    } else {
        QSettings ini(file, QSettings::IniFormat);
        if (text.isValid())
            ini.setValue(key, text);
        else
            ini.remove(key);
    }
    // Every other key is written and read back; the module keeps its own value for the
    // skipped one.
    set(number, 1234);
    QStringList expected;
    for (const ConfigurationParameter& p : ParameterCatalogue::configuration())
        if (p.number != number)
            expected << frameText(5, p.number, held(p.number)) << frameText(6, p.number, 0);
    m_served->peer().clearRequests();
    m_log->clear();

    QVERIFY(!SettingsFile::importFrom(file, *m_handler));
    QCOMPARE(wire(), expected);
    QCOMPARE(held(number), 1234);
    QVERIFY(m_log->contains(QStringLiteral("skipped parameter  \"%1\" : no integer for  \"%2\" ")
                                .arg(number)
                                .arg(key)));
}

void TestFiles::importOfForeignFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("sets");

    // The group tells the PID loops apart.
    QTest::newRow("one key in two groups")
        << QByteArray("[current_PID_values]\nP_set_1=11\n[position_PID_values]\nP_set_1=22\n")
        << QStringList({frameText(5, 168, 11), frameText(6, 168, 0), frameText(5, 130, 22),
                        frameText(6, 130, 0)});
    QTest::newRow("not INI text") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)
                                  << QStringList();
}

void TestFiles::importOfForeignFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, sets);

    const QString file = path("foreign.ini");
    writeFile(file, content);
    m_served->peer().clearRequests();
    QVERIFY(!SettingsFile::importFrom(file, *m_handler));
    QCOMPARE(wire(), sets);
    QCOMPARE(linesStartingWith(m_log->lines(), "skipped parameter ").size(), 44 - sets.size() / 2);
}

void TestFiles::scriptByteForByte()
{
    // A module whose values are known and partly negative; 253 must still read as 253.
    m_served->peer().setResponder([](const QByteArray& request) {
        const int type = quint8(request.at(2));
        return PtyPeer::answer(PtyPeer::replyFrame(2, 1, 100, 6, 1000 - 10 * type));
    });
    // An older, longer file of the name is replaced whole.
    const QString file = path("module.vkt");
    writeFile(file, QByteArray(8000, 'x'));

    QVERIFY(CommandScript::exportTo(file, *m_handler));
    QCOMPARE(readAll(file), readAll(QStringLiteral(ZIRO_TEST_DATA "/script.vkt")));
    QCOMPARE(m_log->lines().last(), QStringLiteral("export ready. "));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList({"module.vkt"}));
}

void TestFiles::incompleteExportLeavesNoFile_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("answers"); // -1: the link is closed from the start
    QTest::addColumn<bool>("existing");
    QTest::addColumn<int>("unread");
    QTest::addColumn<int>("requests");
    QTest::addColumn<QString>("message");

    QTest::newRow("settings, link closed")
        << "ini"
        << "a.ini" << -1 << false << 44 << 0 << "export failed: not every parameter";
    QTest::newRow("settings, link lost, older file")
        << "ini"
        << "a.ini" << 20 << true << 24 << 21 << "export failed: not every parameter";
    QTest::newRow("script, link closed")
        << "vkt"
        << "a.vkt" << -1 << true << 0 << 0 << "could not read parameters: is module open?";
    QTest::newRow("script, link lost")
        << "vkt"
        << "a.vkt" << 20 << false << 24 << 21 << "export failed: not every parameter";
    QTest::newRow("script, link lost, older file")
        << "vkt"
        << "a.vkt" << 20 << true << 24 << 21 << "export failed: not every parameter";
    QTest::newRow("script, file cannot be written")
        << "vkt"
        << "missing/a.vkt" << 44 << false << 0 << 0 << "could not open the script file";
}

void TestFiles::incompleteExportLeavesNoFile()
{
    QFETCH(QString, format);
    QFETCH(QString, name);
    QFETCH(int, answers);
    QFETCH(bool, existing);
    QFETCH(int, unread);
    QFETCH(int, requests);
    QFETCH(QString, message);

    const QString file = m_dir->filePath(name);
    const QByteArray older = format == QLatin1String("ini")
                                 ? QByteArray("[motor_and_module_settings]\nMaxCurrent=42\n"
                                              "[mine]\nnote=kept\n")
                                 : QByteArray("SAP 6, 0, 42 \t// max current\nSTAP 6, 0 \n");
    if (existing)
        writeFile(file, older);
    if (answers < 0)
        m_handler->close();
    else
        cutAfter(answers);
    m_served->peer().clearRequests();

    const bool written = format == QLatin1String("ini") ? SettingsFile::exportTo(file, *m_handler)
                                                        : CommandScript::exportTo(file, *m_handler);
    QVERIFY(!written);
    QCOMPARE(readAll(file), existing ? older : QByteArray("(no file)"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files),
             existing ? QStringList({name}) : QStringList());
    QCOMPARE(m_served->peer().requestCount(), requests);

    // The parameters that could not be read, each named in table order.
    const QStringList lines = m_log->lines();
    QStringList expected;
    const QList<ConfigurationParameter>& table = ParameterCatalogue::configuration();
    for (qsizetype i = table.size() - unread; i < table.size(); ++i)
        expected << QStringLiteral("could not receive parameter  \"%1\"  from module! ")
                        .arg(table.at(i).number);
    QCOMPARE(linesStartingWith(lines, "could not receive parameter "), expected);
    QVERIFY(!lines.contains(QStringLiteral("export ready. ")));
    QVERIFY2(!linesStartingWith(lines, qPrintable(message)).isEmpty(),
             qPrintable(lines.join('\n')));
}

void TestFiles::exportOnlyIntoWhatCanTakeIt_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("existing"); // "(pipe)" and "(folder)" stand for those
    QTest::addColumn<QString>("refusal");     // empty: the export goes ahead
    QTest::addColumn<QByteArray>("kept");     // a line an export merges around

    const QString noSettings = QStringLiteral("is not a settings file");
    const QString notRegular =
        QStringLiteral("is not a regular file (a device, a pipe or a socket)");
    QTest::newRow("command script picked by mistake")
        << "ini"
        << QByteArray("//=== motion settings ===\nSAP 4, 0, 2000 \t// max ramp velocity\n"
                      "STAP 4, 0 \n")
        << noSettings << QByteArray();
    QTest::newRow("text note") << "ini" << QByteArray("Motor 7: new encoder on Monday.\n")
                               << noSettings << QByteArray();
    QTest::newRow("binary file") << "ini" << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR=1", 18)
                                 << noSettings << QByteArray();
    QTest::newRow("comments only")
        << "ini" << QByteArray("; motor 7\n# to do\n") << noSettings << QByteArray();
    QTest::newRow("settings file damaged by NUL bytes")
        << "ini" << QByteArray("[motor_and_module_settings]\nMaxCurrent=25\n\0\0\0\0", 35)
        << noSettings << QByteArray();
    QTest::newRow("pipe") << "ini" << QByteArray("(pipe)") << notRegular << QByteArray();
    QTest::newRow("folder") << "ini" << QByteArray("(folder)") << QStringLiteral("is a folder")
                            << QByteArray();
    QTest::newRow("script into a pipe")
        << "vkt" << QByteArray("(pipe)") << notRegular << QByteArray();

    // An empty file is as good as none; a settings file written elsewhere keeps its lines.
    QTest::newRow("empty file") << "ini" << QByteArray() << QString() << QByteArray();
    QTest::newRow("blank lines") << "ini" << QByteArray("\n  \n\n") << QString() << QByteArray();
    QTest::newRow("settings file with a BOM, CRLF and comments")
        << "ini" << QByteArray("\xEF\xBB\xBF; bench 2\r\n[mine]\r\nnote = kept\r\n") << QString()
        << QByteArray("\xEF\xBB\xBF; bench 2\r\n[mine]\r\nnote = kept\r\n");
    QTest::newRow("settings file with both kinds of comment")
        << "ini" << QByteArray("; approved JB\n# checked on bench 2\n[mine]\nnote=kept\n")
        << QString() << QByteArray("; approved JB\n# checked on bench 2\n[mine]\nnote=kept\n");
}

void TestFiles::exportOnlyIntoWhatCanTakeIt()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, existing);
    QFETCH(QString, refusal);
    QFETCH(QByteArray, kept);

    const QString file = path("target");
    if (existing == "(pipe)")
        QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    else if (existing == "(folder)")
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("target")));
    else
        writeFile(file, existing);
    const QByteArray before = whatIsAt(file);
    m_served->peer().clearRequests();

    QString why;
    const bool written = format == QLatin1String("ini")
                             ? SettingsFile::exportTo(file, *m_handler, {}, &why)
                             : CommandScript::exportTo(file, *m_handler, {}, &why);
    if (!refusal.isEmpty()) {
        QVERIFY(!written);
        QCOMPARE(why, refusal);
        QCOMPARE(whatIsAt(file), before);
        QCOMPARE(m_served->peer().requestCount(), 0);
        QCOMPARE(
            QDir(m_dir->path())
                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
            QStringList{QStringLiteral("target")});
        if (format == QLatin1String("ini"))
            QVERIFY2(m_log->contains(
                         QStringLiteral("export refused:  \"%1\" \"%2\" ").arg(file, refusal)),
                     qPrintable(m_log->lines().join('\n')));
        return;
    }
    QVERIFY2(written, qPrintable(why));
    QSettings ini(file, QSettings::IniFormat);
    QCOMPARE(ini.value(QStringLiteral("motor_and_module_settings/MaxCurrent")).toInt(), held(6));
    QCOMPARE(ini.allKeys().size(), 44 + (kept.isEmpty() ? 0 : 1));
    if (!kept.isEmpty())
        QVERIFY(readAll(file).contains(kept));
}

void TestFiles::fullDiskLeavesFilesAsTheyWere_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("existing"); // empty: none
    QTest::addColumn<int>("room");            // the most bytes a file may hold

    // A settings file of a few keys and a long note: the merge needs more room than the
    // copy of the old file.
    const QByteArray settings =
        "[mine]\nnote=" + QByteArray(600, 'n') + "\n[motor_and_module_settings]\nMaxCurrent=42\n";
    QTest::newRow("settings: no room for the merge") << "ini" << settings << 1000;
    QTest::newRow("settings: no room for the copy") << "ini" << settings << 300;
    QTest::newRow("settings: new file") << "ini" << QByteArray() << 500;
    QTest::newRow("script: older one") << "vkt" << QByteArray("SAP 4, 0, 1\n") << 1000;
    QTest::newRow("script: new file") << "vkt" << QByteArray() << 1000;
}

void TestFiles::fullDiskLeavesFilesAsTheyWere()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, existing);
    QFETCH(int, room);

    const QString file = path("target");
    if (!existing.isEmpty())
        writeFile(file, existing);
    const QByteArray before = whatIsAt(file);
    m_served->peer().clearRequests();

    QString why;
    bool written = true;
    {
        FileSizeLimit disk(room);
        written = format == QLatin1String("ini")
                      ? SettingsFile::exportTo(file, *m_handler, {}, &why)
                      : CommandScript::exportTo(file, *m_handler, {}, &why);
    }
    QVERIFY(!written);
    QVERIFY2(why.startsWith(QStringLiteral("could not be written: ")), qPrintable(why));
    // Every parameter was read; then nothing changed on the disk, and nothing was left.
    QCOMPARE(m_served->peer().requestCount(), 44);
    QCOMPARE(whatIsAt(file), before);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             existing.isEmpty() ? QStringList() : QStringList{QStringLiteral("target")});
    QVERIFY(!linesStartingWith(m_log->lines(), "export failed: could not write the ").isEmpty());
}

void TestFiles::windowShowsTheResult_data()
{
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QByteArray>("existing");
    QTest::addColumn<int>("room");      // 0: no limit
    QTest::addColumn<QString>("shown"); // %1: the file
    QTest::addColumn<bool>("failure");
    QTest::addColumn<QString>("logged");

    QTest::newRow("settings into a text note")
        << "exportSettings" << QByteArray("Motor 7: new encoder.\n") << 0
        << "Export failed: %1: is not a settings file" << true << "export refused: ";
    QTest::newRow("script on a full disk")
        << "exportSettingsToVOKT" << QByteArray() << 1000
        << "Export failed: %1: could not be written: " << true << "export failed: ";
    QTest::newRow("settings exported")
        << "exportSettings" << QByteArray() << 0 << "Exported 44 parameters to %1" << false
        << "%1 written by ";
    QTest::newRow("store") << "storeActualValues" << QByteArray() << 0 << "Stored 45, refused 211"
                           << false << "Stored 45, refused 211";
}

void TestFiles::windowShowsTheResult()
{
    QFETCH(QString, slot);
    QFETCH(QByteArray, existing);
    QFETCH(int, room);
    QFETCH(QString, shown);
    QFETCH(bool, failure);
    QFETCH(QString, logged);

    MainWindow window;
    BLDC* bldc = window.centralPanel();
    bldc->openHandler(bldc->simulatedModule()->portName(), QStringLiteral("Simulated"));
    QVERIFY(bldc->handler()->isOpen());
    const QString file = path("target");
    if (!existing.isEmpty())
        writeFile(file, existing);
    LogCapture log;

    if (slot.startsWith(QLatin1String("export")))
        answerNextFileDialog(&window, file, true);
    {
        std::unique_ptr<FileSizeLimit> disk(room > 0 ? new FileSizeLimit(room) : nullptr);
        QVERIFY(QMetaObject::invokeMethod(bldc, qPrintable(slot)));
    }
    if (failure)
        QCOMPARE(whatIsAt(file), existing.isEmpty() ? QByteArray("(nothing)") : existing);
    QVERIFY2(!linesStartingWith(log.lines(), qPrintable(logged.arg(file))).isEmpty(),
             qPrintable(log.lines().join('\n')));
    // The result in the status bar, a failure in red; the log a click away.
    const QString message = window.statusBar()->currentMessage();
    QVERIFY2(message.startsWith(shown.arg(file)), qPrintable(message));
    QCOMPARE(window.statusBar()->styleSheet().contains(QStringLiteral("#b71c1c")), failure);
    auto* showLog = window.statusBar()->findChild<QToolButton*>(QStringLiteral("btnShowLog"));
    QVERIFY(showLog && showLog->isVisibleTo(&window));
    QVERIFY(!window.logDock()->isVisibleTo(&window));
    showLog->click();
    QVERIFY(window.logDock()->isVisibleTo(&window));
}

void TestFiles::storeAndRestore()
{
    set(6, 1200);
    QVERIFY(ParameterStore::storeAll(*m_handler));
    QStringList expected;
    for (int type = 0; type <= 255; ++type)
        expected << frameText(7, type, 0);
    QCOMPARE(wire(), expected);
    m_served->withModule(
        [](SimulatedModule& module) { QCOMPARE(module.storedAxisParameter(6), 1200); });
    // The module's status for each: taken, not kept (a target), unknown.
    QVERIFY(m_log->contains(QStringLiteral("\"6\" :  \"100\" ")));
    QVERIFY(m_log->contains(QStringLiteral("\"0\" :  \"5\" ")));
    QVERIFY(m_log->contains(QStringLiteral("\"5\" :  \"3\" ")));
    // ...and how many it took and refused: none of the configuration.
    QCOMPARE(m_log->lines().last(), QStringLiteral("stored 45, refused 211 "));

    // Restore brings the stored value back, reading every number back after its restore.
    set(6, 1500);
    m_served->peer().clearRequests();
    QSignalSpy readBack(m_handler, &SerialUSBCommandHandler::requestedValue);
    QVERIFY(ParameterStore::restoreAll(*m_handler));
    expected.clear();
    for (int type = 0; type <= 255; ++type)
        expected << frameText(8, type, 0) << frameText(6, type, 0);
    QCOMPARE(wire(), expected);
    QCOMPARE(held(6), 1200);
    QCOMPARE(readBack.size(), 256);
    QCOMPARE(readBack.at(6).at(1).value<char>(), char(6));
    QCOMPARE(readBack.at(6).at(2).toInt(), 1200);
    QCOMPARE(readBack.at(253).at(1).value<char>(), char(253));
}

void TestFiles::storeOrRestoreWithLinkClosed_data()
{
    QTest::addColumn<bool>("restore");
    QTest::addColumn<QString>("message");
    QTest::newRow("store") << false << "could not store parameter ";
    QTest::newRow("restore") << true << "could not restore parameter ";
}

void TestFiles::storeOrRestoreWithLinkClosed()
{
    QFETCH(bool, restore);
    QFETCH(QString, message);

    m_handler->close();
    m_served->peer().clearRequests();
    QVERIFY(
        !(restore ? ParameterStore::restoreAll(*m_handler) : ParameterStore::storeAll(*m_handler)));
    QStringList expected;
    for (int type = 0; type <= 255; ++type)
        expected << QStringLiteral("%1 \"%2\" ").arg(message).arg(type);
    QCOMPARE(linesStartingWith(m_log->lines(), qPrintable(message)), expected);
    QCOMPARE(m_served->peer().requestCount(), 0);
}

void TestFiles::refusedReadIsNoValue_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("settings export") << "ini";
    QTest::newRow("script export") << "vkt";
    QTest::newRow("comparison") << "compare";
    QTest::newRow("record") << "record";
}

void TestFiles::refusedReadIsNoValue()
{
    QFETCH(QString, operation);
    // The module refuses to report parameter 6: its reply's value field is no value.
    ServedModule* served = m_served;
    served->peer().setResponder([served](const QByteArray& request) {
        if (quint8(request.at(1)) == vokt::GetAxisParameter && quint8(request.at(2)) == 6)
            return PtyPeer::answer(PtyPeer::replyFrame(2, 1, 4, vokt::GetAxisParameter, 1006));
        QByteArray reply;
        served->withModule([&](SimulatedModule& module) { reply = module.handle(request); });
        return PtyPeer::answer(reply);
    });
    const QString file = m_dir->filePath(QStringLiteral("module.") + operation);
    QString why;
    bool done = false;
    if (operation == QLatin1String("ini"))
        done = SettingsFile::exportTo(file, *m_handler, {}, &why);
    else if (operation == QLatin1String("vkt"))
        done = CommandScript::exportTo(file, *m_handler, {}, &why);
    else if (operation == QLatin1String("compare"))
        done = SettingsComparison::readModule(*m_handler, {}, &why).has_value();
    else
        done = CommissioningRecord::take(*m_handler, {}, &why).has_value();
    QVERIFY(!done);
    QVERIFY2(why.contains(QStringLiteral("refused by the module (status 4)")) &&
                 why.contains(QStringLiteral("6")),
             qPrintable(why));
    QCOMPARE(whatIsAt(file), QByteArray("(nothing)"));
}

void TestFiles::exportFromALineThatIsNotClean_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("existing");
    QTest::addColumn<QString>("message");
    QTest::newRow("settings, older file")
        << "ini" << true << "export failed: the line is not clean";
    QTest::newRow("script") << "vkt" << false << "export failed: the line is not clean";
    QTest::newRow("script, older file") << "vkt" << true << "export failed: the line is not clean";
}

void TestFiles::exportFromALineThatIsNotClean()
{
    QFETCH(QString, format);
    QFETCH(bool, existing);
    QFETCH(QString, message);
    // Every answer comes twice, the copy a little later: a copy may be taken for the
    // answer to the next request, which reads another parameter.
    ServedModule* served = m_served;
    served->peer().setResponder([served](const QByteArray& request) {
        QByteArray reply;
        served->withModule([&](SimulatedModule& module) { reply = module.handle(request); });
        return QList<PtyPeer::Chunk>{{0, reply}, {5, reply}};
    });
    const QString file = m_dir->filePath(QStringLiteral("module.") + format);
    const QByteArray older = format == QLatin1String("ini")
                                 ? QByteArray("[motor_and_module_settings]\nMaxCurrent=42\n")
                                 : QByteArray("SAP 6, 0, 42 \t// max current\nSTAP 6, 0 \n");
    if (existing)
        writeFile(file, older);
    // Said as the reason, not taken for a cancel (which leaves the reason empty).
    QString why;
    const bool written = format == QLatin1String("ini")
                             ? SettingsFile::exportTo(file, *m_handler, {}, &why)
                             : CommandScript::exportTo(file, *m_handler, {}, &why);
    QVERIFY(!written);
    QCOMPARE(why, QStringLiteral("the line is not clean"));
    QCOMPARE(readAll(file), existing ? older : QByteArray("(no file)"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files),
             existing ? QStringList({file.section(QLatin1Char('/'), -1)}) : QStringList());
    QVERIFY2(m_log->lines().last().startsWith(message), qPrintable(m_log->lines().last()));
}

void TestFiles::menuDialogs_data()
{
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("defaultName"); // pattern; empty: none
    QTest::addColumn<QStringList>("cancelled");
    QTest::addColumn<QString>("chosen");

    QTest::newRow("settings export") << "exportSettings"
                                     << "Export settings"
                                     << "Settings files (*.ini)"
                                     << "^\\d{8}_\\d\\d\\.\\d\\d\\.\\d\\d_Settings\\.ini$"
                                     << QStringList({"export settings "}) << "export to: ";
    QTest::newRow("settings import")
        << "importSettings"
        << "Import settings"
        << "Setting files (*.ini)"
        << "" << QStringList({"import settings ", "importFileName is empty! "})
        << "importFileName: ";
    QTest::newRow("script export") << "exportSettingsToVOKT"
                                   << "Export settings to VOKT"
                                   << "VOKT Files (*.vkt)"
                                   << "^\\d{8}_\\d\\d\\.\\d\\d\\.\\d\\d_VOKT_Settings\\.vkt$"
                                   << QStringList({"exporting settings... "}) << "export to: ";
}

void TestFiles::menuDialogs()
{
    QFETCH(QString, slot);
    QFETCH(QString, caption);
    QFETCH(QString, filter);
    QFETCH(QString, defaultName);
    QFETCH(QStringList, cancelled);
    QFETCH(QString, chosen);

    SimulatedPanel simulated;
    BLDC& bldc = simulated.bldc;
    bldc.openHandler(bldc.simulatedModule()->portName(), QStringLiteral("Simulated"));
    QVERIFY(bldc.handler()->isOpen());
    LogCapture log;
    PtyPeer& peer = bldc.simulatedModule()->peer();
    peer.clearRequests();
    // A new file to save to, an existing one to open.
    const QString file = path("chosen");
    if (slot == QLatin1String("importSettings"))
        writeFile(file, "[motor_and_module_settings]\nMaxCurrent=2000\n");

    // Answers the next file dialog: notes what it shows, then cancels it or picks the file.
    ShownDialog shown;
    answerNextFileDialog(&bldc, file, false, &shown);
    QVERIFY(QMetaObject::invokeMethod(&bldc, qPrintable(slot)));
    QCOMPARE(shown.caption, caption);
    QCOMPARE(shown.filter, filter);
    QCOMPARE(shown.directory, QDir::currentPath());
    if (!defaultName.isEmpty())
        QVERIFY2(QRegularExpression(defaultName).match(QFileInfo(shown.name).fileName()).hasMatch(),
                 qPrintable(shown.name));
    QStringList lines = log.lines();
    lines.removeAll(QStringLiteral("This plugin does not support propagateSizeHints()"));
    QCOMPARE(lines, cancelled);
    QCOMPARE(peer.requestCount(), 0);

    // A chosen file goes to the operation (an import once its preview is accepted).
    log.clear();
    answerNextFileDialog(&bldc, file, true);
    if (slot == QLatin1String("importSettings"))
        onNextModal<CompareDialog>(&bldc, [](CompareDialog* preview) { preview->accept(); });
    QVERIFY(QMetaObject::invokeMethod(&bldc, qPrintable(slot)));
    QVERIFY2(log.contains(QStringLiteral("%1 \"%2\" ").arg(chosen, file)),
             qPrintable(log.lines().join('\n')));
}

void TestFiles::cancelStopsAfterTheParameterInProgress_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("cancelAt"); // the parameter after which Cancel is pressed
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("framesEach"); // exchanges per parameter
    QTest::addColumn<QString>("message");

    QTest::newRow("store") << "store" << 3 << 256 << 1
                           << "store cancelled after  \"3\"  of  \"256\"  parameters ";
    QTest::newRow("restore") << "restore" << 5 << 256 << 2
                             << "restore cancelled after  \"5\"  of  \"256\"  parameters ";
    QTest::newRow("import") << "import" << 10 << 44 << 2
                            << "import cancelled after  \"10\"  of  \"44\"  parameters; the last "
                               "one was  \"165\" ";
    QTest::newRow("settings export")
        << "ini" << 20 << 44 << 1
        << "export cancelled after  \"20\"  of  \"44\"  parameters; file left as it was:  "
           "\"%1\" ";
    QTest::newRow("script export")
        << "vkt" << 20 << 44 << 1
        << "export cancelled after  \"20\"  of  \"44\"  parameters; no script written:  \"%1\" ";
}

void TestFiles::cancelStopsAfterTheParameterInProgress()
{
    QFETCH(QString, operation);
    QFETCH(int, cancelAt);
    QFETCH(int, total);
    QFETCH(int, framesEach);
    QFETCH(QString, message);

    // An import has a file whose values differ from the module's; an export finds an older
    // file in its place.
    const QString file = path("module.file");
    const QByteArray older("[motor_and_module_settings]\nMaxCurrent=42\n");
    if (operation == QLatin1String("import")) {
        QVERIFY(SettingsFile::exportTo(file, *m_handler));
        // Two parameters after the cancel: the import must not bring them back.
        set(4, held(4) + 1);
        set(168, held(168) + 1);
    } else if (operation == QLatin1String("ini")) {
        writeFile(file, older);
    }
    const QList<QPair<qint32, qint32>> before = moduleState();
    m_served->peer().clearRequests();
    m_log->clear();

    QList<QPair<int, int>> reported;
    const ModuleExchange::Progress progress = [&](int done, int count) {
        reported.append({done, count});
        return done < cancelAt;
    };
    bool complete = true;
    if (operation == QLatin1String("store"))
        complete = ParameterStore::storeAll(*m_handler, progress);
    else if (operation == QLatin1String("restore"))
        complete = ParameterStore::restoreAll(*m_handler, progress);
    else if (operation == QLatin1String("import"))
        complete = SettingsFile::importFrom(file, *m_handler, progress);
    else if (operation == QLatin1String("ini"))
        complete = SettingsFile::exportTo(file, *m_handler, progress);
    else
        complete = CommandScript::exportTo(file, *m_handler, progress);
    QVERIFY(!complete);

    // Counted one parameter at a time; nothing is sent after the one in progress.
    QList<QPair<int, int>> expected;
    for (int done = 1; done <= cancelAt; ++done)
        expected.append({done, total});
    QCOMPARE(reported, expected);
    const QStringList frames = wire();
    QCOMPARE(frames.size(), cancelAt * framesEach);
    QCOMPARE(m_log->lines().last(),
             message.contains(QLatin1String("%1")) ? message.arg(file) : message);

    // Every parameter the operation did not reach is as it was on the module, stored copy
    // included.
    QSet<int> reached;
    for (const QByteArray& request : m_served->peer().requests())
        reached << quint8(request.at(2));
    const QList<QPair<qint32, qint32>> after = moduleState();
    for (int type = 0; type <= 255; ++type)
        if (!reached.contains(type))
            QVERIFY2(after.at(type) == before.at(type), qPrintable(QString::number(type)));
    // A cancelled export leaves the file as it was, or none.
    if (operation == QLatin1String("ini"))
        QCOMPARE(readAll(file), older);
    else if (operation == QLatin1String("vkt"))
        QVERIFY(!QFile::exists(file));
}

void TestFiles::storeUnderProgressDialog()
{
    SimulatedPanel simulated;
    BLDC& bldc = simulated.bldc;
    bldc.openHandler(bldc.simulatedModule()->portName(), QStringLiteral("Simulated"));
    QVERIFY(bldc.handler()->isOpen());
    PtyPeer& peer = bldc.simulatedModule()->peer();
    auto* controller = bldc.findChild<WTraceController*>();
    controller->setDelay(0);
    controller->setPolling(true);
    auto commands = [&peer] {
        QList<int> numbers;
        for (const QByteArray& request : peer.requests())
            numbers << quint8(request.at(1));
        return numbers;
    };
    auto polls = [&] { return commands().count(6); };
    peer.clearRequests();
    QTRY_VERIFY(polls() >= 3 * bldc.traceCommands().size());

    // Polling runs as fast as it can, but no cycle comes between two exchanges of the
    // store, although the dialog lets events through; it goes on afterwards.
    bldc.storeActualValues();
    QList<int> sent = commands();
    const qsizetype first = sent.indexOf(7);
    QCOMPARE(sent.mid(first, 256), QList<int>(256, 7));
    QVERIFY(!sent.mid(first + 256).contains(7));
    const int pollsBefore = polls();
    QTRY_VERIFY(polls() > pollsBefore);

    // Cancel pressed while the dialog shows 3 of 256 parameters: nothing more is sent, and
    // the module keeps its stored copy of every later parameter.
    qint32 stored = 0;
    bldc.simulatedModule()->withModule([&](SimulatedModule& module) {
        module.handle(VOKTRequest(1, 5, 6, 0, module.storedAxisParameter(6) + 100));
        stored = module.storedAxisParameter(6);
    });
    controller->setPolling(false);
    QTRY_VERIFY(!controller->poller()->inCycle());
    QCoreApplication::processEvents();
    peer.clearRequests();
    LogCapture log;
    QTimer canceller;
    connect(&canceller, &QTimer::timeout, &canceller, [&] {
        auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
        if (dialog && dialog->value() == 3) {
            QCOMPARE(dialog->maximum(), 256);
            dialog->cancel();
        }
    });
    canceller.start(0);
    bldc.storeActualValues();
    canceller.stop();
    QCOMPARE(commands(), QList<int>(3, 7));
    QVERIFY(log.contains(QStringLiteral("store cancelled after  \"3\"  of  \"256\"  parameters ")));
    bldc.simulatedModule()->withModule(
        [&](SimulatedModule& module) { QCOMPARE(module.storedAxisParameter(6), stored); });
    QVERIFY(!QApplication::activeModalWidget());
}

int main(int argc, char** argv)
{
    // The window remembers its settings; these runs must not touch the user's.
    TemporaryConfig config;
    QApplication app(argc, argv);
    TestFiles test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_files.moc"

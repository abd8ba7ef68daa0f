#include "app/BLDC.h"
#include "app/CommissionDialog.h"
#include "app/CompareDialog.h"
#include "app/MainWindow.h"
#include "app/RecordDialog.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "config/ParameterCatalogue.h"
#include "config/SettingsFile.h"
#include "panels/parameters/WVelocityRampControl.h"
#include "sim/PtyPeer.h"
#include "sim/ServedModule.h"
#include "sim/SimulatedModule.h"
#include "support/LogCapture.h"
#include "support/NextModal.h"
#include "support/PanelProbe.h"
#include "support/TemporaryConfig.h"

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Picks the file in the next file dialog.
void chooseInNextFileDialog(QObject* owner, const QString& file)
{
    onNextModal<QFileDialog>(owner, [file](QFileDialog* dialog) {
        child<QLineEdit>(dialog, "fileNameEdit")->setText(file);
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

// The rows of a comparison table as "key module file", top to bottom, and which are
// highlighted.
QStringList shownRows(const QTableWidget* table, bool highlightedOnly = false)
{
    QStringList rows;
    for (int r = 0; r < table->rowCount(); ++r) {
        if (table->isRowHidden(r) ||
            (highlightedOnly && table->item(r, 2)->background().style() == Qt::NoBrush))
            continue;
        rows << QStringLiteral("%1 %2 %3")
                    .arg(table->item(r, 2)->text(), table->item(r, 4)->text(),
                         table->item(r, 5)->text());
    }
    return rows;
}

} // namespace

// The window's comparison with a settings file, the preview before an import, and the
// commissioning record, as a user meets them in the File menu, and commissioning from the
// Tools menu, against the window's own simulated module.
class TestCompare : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void compareShowsTheChangeAndWritesBackOnlyTheChosenRows();
    void importPreview_data();
    void importPreview();
    void commissioningRecord_data();
    void commissioningRecord();
    void commissionFromTheToolsMenu();

private:
    qint32 held(int type);
    // The requests the module received, as "command type value".
    QStringList wire() const;
    QString path(const char* name) const { return m_dir->filePath(QLatin1String(name)); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<MainWindow> m_window;
    BLDC* m_bldc = nullptr;
};

void TestCompare::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_window = std::make_unique<MainWindow>();
    m_bldc = m_window->centralPanel();
    m_bldc->openHandler(m_bldc->simulatedModule()->portName(), QStringLiteral("Simulated"));
    QVERIFY(m_bldc->handler()->isOpen());
    // The golden file, exported from the module as it is now.
    QVERIFY(SettingsFile::exportTo(path("golden.ini"), *m_bldc->handler()));
    m_bldc->simulatedModule()->peer().clearRequests();
}

void TestCompare::cleanup()
{
    m_window.reset();
    m_dir.reset();
}

qint32 TestCompare::held(int type)
{
    qint32 value = 0;
    m_bldc->simulatedModule()->withModule(
        [&](SimulatedModule& module) { value = module.axisParameter(type); });
    return value;
}

QStringList TestCompare::wire() const
{
    QStringList frames;
    for (const QByteArray& request : m_bldc->simulatedModule()->peer().requests())
        frames << QStringLiteral("%1 %2 %3")
                      .arg(quint8(request.at(1)))
                      .arg(quint8(request.at(2)))
                      .arg(vokt::takeBigEndian(request.constData() + 4));
    return frames;
}

void TestCompare::compareShowsTheChangeAndWritesBackOnlyTheChosenRows()
{
    // Two values change in the window; one is to go back.
    m_bldc->handler()->setAxisParameter(0, ParameterCatalogue::Acceleration, 1500);
    m_bldc->handler()->setAxisParameter(0, ParameterCatalogue::MaxCurrent, 1800);
    m_bldc->simulatedModule()->peer().clearRequests();

    QStringList shown;
    QStringList afterWrite;
    QString summary;
    int visibleWhenFiltered = -1;
    chooseInNextFileDialog(m_bldc, path("golden.ini"));
    onNextModal<CompareDialog>(m_bldc, [&](CompareDialog* dialog) {
        auto* table = child<QTableWidget>(dialog, "tableComparison");
        shown = shownRows(table, true);
        summary = child<QLabel>(dialog, "lblSummary")->text();
        child<QCheckBox>(dialog, "cbOnlyDifferences")->setChecked(true);
        visibleWhenFiltered = static_cast<int>(shownRows(table).size());
        child<QCheckBox>(dialog, "cbOnlyDifferences")->setChecked(false);

        // Nothing is chosen yet; then only the acceleration.
        auto* write = child<QPushButton>(dialog, "btnWriteSelected");
        QVERIFY(!write->isEnabled());
        table->item(1, 0)->setCheckState(Qt::Checked);
        QVERIFY(write->isEnabled());
        onNextModal<QMessageBox>(dialog, [](QMessageBox* question) {
            QVERIFY(question->text().contains(
                QStringLiteral("motion_settings/Acceleration: 1500 → 1000")));
            question->button(QMessageBox::Yes)->click();
        });
        QTest::mouseClick(write, Qt::LeftButton);
        afterWrite = shownRows(table, true);
        dialog->reject();
    });
    m_bldc->compareWithSettingsFile();

    // Differences first and highlighted, in the catalogue's order.
    QCOMPARE(shown, QStringList({"MaxCurrent 1800 2000", "Acceleration 1500 1000"}));
    QCOMPARE(summary, QStringLiteral("2 of 44 parameters differ between the module and "
                                     "golden.ini."));
    QCOMPARE(visibleWhenFiltered, 2);
    // Read: 44 gets. Written: the chosen row only, and read back.
    const QStringList frames = wire();
    QCOMPARE(frames.size(), 46);
    QCOMPARE(frames.mid(44), QStringList({"5 11 1000", "6 11 0"}));
    QCOMPARE(held(ParameterCatalogue::Acceleration), 1000);
    QCOMPARE(held(ParameterCatalogue::MaxCurrent), 1800);
    QCOMPARE(afterWrite, QStringList({"MaxCurrent 1800 2000"}));
    // Every panel that shows the acceleration shows what the module holds now.
    for (auto* ramp : m_bldc->findChildren<WVelocityRampControl*>())
        QCOMPARE(child<QSpinBox>(ramp, "sbAcceleration")->value(), 1000);
}

void TestCompare::importPreview_data()
{
    QTest::addColumn<bool>("changed");  // the module changed since the export
    QTest::addColumn<QString>("press"); // "Import", "Cancel" or "Enter"
    QTest::addColumn<QString>("summary");
    QTest::newRow("cancel") << true << "Cancel"
                            << "Importing golden.ini changes 1 of 44 values on the module. 1 key "
                               "is skipped (missing or not a whole number): the module keeps its "
                               "value.";
    QTest::newRow("import") << true << "Import"
                            << "";
    // A stray Enter imports nothing.
    QTest::newRow("enter") << true << "Enter"
                           << "";
    QTest::newRow("identical file, imported all the same")
        << false << "Import"
        << "golden.ini holds the module's values: importing it changes nothing.";
}

void TestCompare::importPreview()
{
    QFETCH(bool, changed);
    QFETCH(QString, press);
    const bool import = press == QLatin1String("Import");
    QFETCH(QString, summary);

    if (changed) {
        m_bldc->handler()->setAxisParameter(0, ParameterCatalogue::Acceleration, 1500);
        // A key the import skips: the module keeps its value.
        QSettings(path("golden.ini"), QSettings::IniFormat)
            .setValue(QStringLiteral("motor_and_module_settings/MaxCurrent"),
                      QStringLiteral("lots"));
    }
    m_bldc->simulatedModule()->peer().clearRequests();
    QString shownSummary;
    bool importOffered = false;
    chooseInNextFileDialog(m_bldc, path("golden.ini"));
    onNextModal<CompareDialog>(m_bldc, [&](CompareDialog* preview) {
        shownSummary = child<QLabel>(preview, "lblSummary")->text();
        importOffered = child<QPushButton>(preview, "btnImport")->isEnabled();
        if (press == QLatin1String("Enter"))
            QTest::keyClick(preview, Qt::Key_Return);
        else
            QTest::mouseClick(child<QPushButton>(preview, import ? "btnImport" : "btnCancelImport"),
                              Qt::LeftButton);
    });
    m_bldc->importSettings();

    if (!summary.isEmpty())
        QCOMPARE(shownSummary, summary);
    QVERIFY(importOffered);
    // The preview reads; only the import writes.
    QStringList frames = wire();
    QCOMPARE(frames.size(), import ? 44 + (changed ? 86 : 88) : 44);
    QCOMPARE(frames.filter(QRegularExpression("^5 ")).size(), import ? (changed ? 43 : 44) : 0);
    QCOMPARE(held(ParameterCatalogue::Acceleration), import || !changed ? 1000 : 1500);
}

void TestCompare::commissioningRecord_data()
{
    QTest::addColumn<QString>("golden"); // "": none
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("frames");
    QTest::newRow("against the golden file") << "golden.ini"
                                             << "Record saved: %1: matches golden.ini" << 53;
    QTest::newRow("without a golden file") << ""
                                           << "Record saved: %1" << 53;
    QTest::newRow("a golden file that is no settings file") << "empty.ini"
                                                            << "" << 0;
}

void TestCompare::commissioningRecord()
{
    QFETCH(QString, golden);
    QFETCH(QString, status);
    QFETCH(int, frames);

    const QString record = path("record.html");
    if (golden == QLatin1String("empty.ini"))
        QVERIFY(QFile(path("empty.ini")).open(QIODevice::WriteOnly));
    QString warning;
    onNextModal<RecordDialog>(m_bldc, [&](RecordDialog* dialog) {
        child<QLineEdit>(dialog, "edRecordFile")->setText(record);
        child<QLineEdit>(dialog, "edGoldenFile")
            ->setText(golden.isEmpty() ? QString() : m_dir->filePath(golden));
        QTest::mouseClick(child<QPushButton>(dialog, "btnSaveRecord"), Qt::LeftButton);
        if (status.isEmpty())
            onNextModal<QMessageBox>(m_bldc, [&warning](QMessageBox* box) {
                warning = box->text();
                box->accept();
            });
    });
    m_bldc->saveCommissioningRecord();

    QCOMPARE(wire().size(), frames);
    if (status.isEmpty()) {
        QCOMPARE(warning, QStringLiteral("%1: is not a settings file; no record written")
                              .arg(m_dir->filePath(golden)));
        QVERIFY(!QFileInfo::exists(record));
        return;
    }
    QCOMPARE(m_window->statusBar()->currentMessage(), status.arg(record));
    QFile file(record);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray html = file.readAll();
    QCOMPARE(html.count("<tr class=\"parameter"), 44);
    QCOMPARE(html.contains("matches golden.ini"), !golden.isEmpty());
    // The window's own module says it is one.
    QVERIFY(html.contains("(simulated module)</td>"));
}

int main(int argc, char** argv)
{
    // The window remembers its settings; these runs must not touch the user's.
    TemporaryConfig config;
    QApplication app(argc, argv);
    TestCompare test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_compare.moc"

void TestCompare::commissionFromTheToolsMenu()
{
    // The window's module (address 1) differs from the golden file in one value; nobody
    // answers at 2.
    m_bldc->handler()->setAxisParameter(0, ParameterCatalogue::MaxCurrent, 2500);
    m_bldc->simulatedModule()->peer().clearRequests();
    m_window->findChild<QAction*>(QStringLiteral("actionCommission"))->trigger();
    CommissionDialog* dialog = m_window->commissionDialog();
    QVERIFY(dialog && dialog->isVisible());
    child<QLineEdit>(dialog, "leGolden")->setText(path("golden.ini"));
    child<QLineEdit>(dialog, "leAddresses")->setText(QStringLiteral("2, 1"));
    child<QCheckBox>(dialog, "cbRecords")->setChecked(true);
    child<QLineEdit>(dialog, "leRecords")->setText(path("records"));
    QTest::mouseClick(child<QPushButton>(dialog, "btnCommission"), Qt::LeftButton);

    auto* table = child<QTableWidget>(dialog, "twResults");
    QStringList rows;
    for (int r = 0; r < table->rowCount(); ++r)
        rows << QStringLiteral("%1 %2 %3")
                    .arg(table->item(r, 0)->text(), table->item(r, 1)->text(),
                         table->item(r, 2)->text());
    QCOMPARE(rows, (QStringList{"1 ok 1", "2 absent 0"}));
    QVERIFY(table->cellWidget(0, 4));
    QVERIFY(!table->cellWidget(1, 4));
    QVERIFY(QFileInfo::exists(path("records/module-1.html")));
    QVERIFY(child<QLabel>(dialog, "lblStatus")->text().startsWith("commissioned 1 of 2 modules"));
    // The module holds the golden value, the window shows it, and the window's module
    // address is as it was.
    QCOMPARE(held(ParameterCatalogue::MaxCurrent), 2000);
    QCOMPARE(m_window->findChild<QSpinBox*>(QStringLiteral("sbMaxCurrent"))->value(), 2000);
    QCOMPARE(m_bldc->handler()->moduleAddress(), 1);
    for (const QString& frame : wire())
        if (frame.startsWith(QLatin1String("5 ")))
            QCOMPARE(frame, QStringLiteral("5 6 2000"));

    // Esc stops the motor here as everywhere in the window, and closes the dialog.
    m_bldc->simulatedModule()->peer().clearRequests();
    QTest::keyClick(dialog, Qt::Key_Escape);
    QVERIFY(wire().contains(QStringLiteral("5 2 0")));
    QVERIFY(!dialog->isVisible());
}

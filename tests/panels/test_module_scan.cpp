// "Find modules…" in the serial panel: the scan dialog, its progress, Cancel and list, the
// choice of a module; and the raw command panel talking to another module on the line.

#include "app/BLDC.h"
#include "app/LinkStatus.h"
#include "app/MainWindow.h"
#include "app/ModuleSearch.h"
#include "comm/LinkController.h"
#include "comm/ModuleScanner.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/VOKTRequest.h"
#include "panels/connection/ModuleScanDialog.h"
#include "panels/connection/WDirectMode.h"
#include "panels/connection/WSerialConnection.h"
#include "sim/ServedModule.h"
#include "sim/SimulatedModule.h"
#include "support/LogCapture.h"
#include "support/PanelProbe.h"
#include "support/TemporaryConfig.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <algorithm>
#include <functional>

namespace {

constexpr int MaxSpeed = 4;

QStringList rows(QTreeWidget* tree)
{
    QStringList texts;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = tree->topLevelItem(i);
        texts << QStringLiteral("%1 %2 %3").arg(item->text(0), item->text(1), item->text(2));
    }
    return texts;
}

QPoint centre(QTreeWidget* tree, int row)
{
    return tree->visualItemRect(tree->topLevelItem(row)).center();
}

// A double click on a row, apart from any click before it.
void doubleClick(QTreeWidget* tree, int row)
{
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    // As a real one comes: a click, and a second press that is the double click.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, centre(tree, row));
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, centre(tree, row));
}

// Scans only the addresses up to `to` at one rate, with room for a busy machine in each
// module's turnaround: set before the scan that starts as the dialog opens has begun.
void narrow(ModuleScanDialog* dialog, int rate, int to)
{
    dialog->setTurnaroundMs(60);
    child<QComboBox>(dialog, "cmbScanBaudRate")->setCurrentText(QString::number(rate));
    child<QSpinBox>(dialog, "sbScanTo")->setValue(to);
}

std::unique_ptr<ServedModule> bus(const QList<int>& addresses, int rate)
{
    auto served = std::make_unique<ServedModule>(addresses);
    served->setBaudRate(rate);
    QString error;
    if (!served->start(&error))
        qWarning("no pseudo-terminal: %s", qPrintable(error));
    return served;
}

} // namespace

class TestModuleScan : public QObject
{
    Q_OBJECT

private slots:
    void dialogListsAndChooses();
    void modulesCountedByAddressAcrossRates();
    void cancelEndsWithinOneExchange();
    void directModeTalksToAnotherModule();
    void findModulesFromTheWindow();
    void samePortUnderAnyName();
};

void TestModuleScan::dialogListsAndChooses()
{
    LogCapture log;
    const auto served = bus({3, 7, 7, 12}, 57600);
    WSerialConnection panel;
    // The command line's scan tries the rates the panel offers.
    QList<int> offered = panel.baudRates();
    std::sort(offered.begin(), offered.end(), std::greater<int>());
    QCOMPARE(offered, ModuleScanner::allBaudRates());
    child<QComboBox>(&panel, "cmbDevices")->setCurrentText(served->portName());
    ModuleScanDialog dialog(served->portName(), panel.baudRates());
    QObject::connect(&dialog, &ModuleScanDialog::moduleChosen, &panel,
                     &WSerialConnection::chooseModule);
    QSignalSpy finished(&dialog, &ModuleScanDialog::scanFinished);
    QSignalSpy opened(&panel, &WSerialConnection::openDevice);
    narrow(&dialog, 57600, 15);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
    auto* tree = child<QTreeWidget>(&dialog, "twModules");
    QCOMPARE(rows(tree), (QStringList{QStringLiteral("3 57600 module"),
                                      QStringLiteral("7 57600 conflict: more than one module "
                                                     "answers"),
                                      QStringLiteral("12 57600 module")}));
    auto* progress = child<QProgressBar>(&dialog, "progressScan");
    QCOMPARE(progress->value(), progress->maximum());
    QCOMPARE(progress->maximum(), 15);
    const QString status = child<QLabel>(&dialog, "lblScanStatus")->text();
    QVERIFY2(status.startsWith(QStringLiteral("Done: 2 module(s) found, 1 conflict(s), in ")) &&
                 status.contains(QStringLiteral("\nAddress 7 (conflict): 57600 baud\n")),
             qPrintable(status));

    // A click takes the module's address and rate into the panel, without connecting.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, centre(tree, 2));
    QCOMPARE(child<QSpinBox>(&panel, "sbAddress")->value(), 12);
    QCOMPARE(child<QComboBox>(&panel, "cmbBaudrates")->currentText(), QStringLiteral("57600"));
    QCOMPARE(opened.size(), 0);
    // A conflict is never connected to, not even on a double click.
    doubleClick(tree, 1);
    QCOMPARE(opened.size(), 0);
    QVERIFY(dialog.isVisible());
    // A double click on a module connects to it, and the dialog closes.
    doubleClick(tree, 2);
    QCOMPARE(opened.size(), 1);
    QCOMPARE(opened.at(0), QVariantList({served->portName(), 57600, 12}));
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

// Modules that answer at any rate show at each; the summary counts them once, by address,
// with the rates each answered at.
void TestModuleScan::modulesCountedByAddressAcrossRates()
{
    LogCapture log;
    const auto served = bus({2, 4, 4}, 0);
    ModuleScanDialog dialog(served->portName(), WSerialConnection().baudRates());
    QSignalSpy finished(&dialog, &ModuleScanDialog::scanFinished);
    dialog.setTurnaroundMs(60);
    child<QComboBox>(&dialog, "cmbScanBaudRate")->setCurrentText(QStringLiteral("all"));
    child<QSpinBox>(&dialog, "sbScanTo")->setValue(4);
    dialog.show();
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 30000);
    QCOMPARE(rows(child<QTreeWidget>(&dialog, "twModules")).size(), 2 * 7);
    const QString status = child<QLabel>(&dialog, "lblScanStatus")->text();
    QVERIFY2(status.startsWith(QStringLiteral("Done: 1 module(s) found, 1 conflict(s), in ")) &&
                 status.contains(QStringLiteral(
                     "\nAddress 2: 115200, 57600, 38400, 19200, 14400, 9600, 4800 baud\n")) &&
                 status.contains(QStringLiteral("\nAddress 4 (conflict): 115200, ")),
             qPrintable(status));
}

void TestModuleScan::cancelEndsWithinOneExchange()
{
    LogCapture log;
    const auto served = bus({200}, 115200);
    // Every rate, every address: far longer than the test waits.
    ModuleScanDialog dialog(served->portName(), {4800, 9600, 57600, 115200});
    QSignalSpy finished(&dialog, &ModuleScanDialog::scanFinished);
    dialog.show();
    auto* progress = child<QProgressBar>(&dialog, "progressScan");
    QTRY_VERIFY(progress->value() >= 3);
    QVERIFY(dialog.isScanning());
    QVERIFY(child<QPushButton>(&dialog, "btnCancelScan")->isVisible());

    QTest::mouseClick(child<QPushButton>(&dialog, "btnCancelScan"), Qt::LeftButton);
    QVERIFY(!dialog.isScanning());
    QCOMPARE(finished.size(), 1);
    const int asked = served->peer().requestCount();
    const int shown = progress->value();
    QVERIFY(asked <= shown);
    QTest::qWait(200);
    QCOMPARE(served->peer().requestCount(), asked);
    QCOMPARE(progress->value(), shown);
    QVERIFY(child<QLabel>(&dialog, "lblScanStatus")
                ->text()
                .startsWith(QStringLiteral("Cancelled at 115200 baud, address ")));
    QVERIFY(child<QPushButton>(&dialog, "btnCloseScan")->isVisible());
    QVERIFY(child<QPushButton>(&dialog, "btnScan")->isEnabled());
}

void TestModuleScan::directModeTalksToAnotherModule()
{
    LogCapture log;
    const auto served = bus({1, 12}, 0);
    served->withModule(1, [](SimulatedModule& m) {
        m.handle(VOKTRequest(12, vokt::SetAxisParameter, MaxSpeed, 0, 1234));
    });
    SerialUSBCommandHandler handler;
    LinkController link(handler);
    QVERIFY(link.open({served->portName(), QString(), 115200, 1}));
    WDirectMode panel;
    QObject::connect(&panel, &WDirectMode::doRequest, &handler,
                     &SerialUSBCommandHandler::doRequest);
    QObject::connect(&panel, &WDirectMode::requestToAddress, &handler,
                     &SerialUSBCommandHandler::doAddressedRequest);
    QObject::connect(&handler, &SerialUSBCommandHandler::requestResult, &panel,
                     &WDirectMode::requestResult);
    panel.setLinkAddress(1);
    auto* address = child<QSpinBox>(&panel, "sbRequestAddress");
    QCOMPARE(address->value(), 1);
    child<QSpinBox>(&panel, "sbRequestCommand")->setValue(vokt::GetAxisParameter);
    child<QSpinBox>(&panel, "sbRequestType")->setValue(MaxSpeed);
    auto* value = child<QSpinBox>(&panel, "sbReplyValue");

    // Module 12 answers with its own value; the link's module with its own.
    address->setValue(12);
    QTest::mouseClick(child<QPushButton>(&panel, "btnSend"), Qt::LeftButton);
    QCOMPARE(value->value(), 1234);
    QCOMPARE(child<QSpinBox>(&panel, "sbReplyCommand")->value(), int(vokt::GetAxisParameter));
    address->setValue(1);
    QTest::mouseClick(child<QPushButton>(&panel, "btnSend"), Qt::LeftButton);
    QVERIFY(value->value() != 1234);
    // Nobody at 9: no answer, and the link to module 1 stays.
    address->setValue(9);
    QTest::mouseClick(child<QPushButton>(&panel, "btnSend"), Qt::LeftButton);
    QVERIFY(link.isOpen());
    QVERIFY(handler.exchange(vokt::GetAxisParameter, MaxSpeed, 0, 0).reply);
    // A new link's address becomes the field's.
    panel.setLinkAddress(12);
    QCOMPARE(address->value(), 12);
}

void TestModuleScan::findModulesFromTheWindow()
{
    TemporaryConfig config;
    LogCapture log;
    const auto served = bus({3, 7, 7, 12}, 57600);
    MainWindow window;
    window.show();
    auto* serial = window.centralPanel()->serialConnection();
    child<QComboBox>(serial, "cmbDevices")->setCurrentText(served->portName());

    // The dialog is modal: it is worked from the event loop it runs.
    bool worked = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<ModuleScanDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        // Whatever fails here, the dialog closes and the test goes on to report it.
        const auto closeUnlessWorked = qScopeGuard([&] {
            if (!worked)
                static_cast<QDialog*>(dialog)->reject();
        });
        narrow(dialog, 57600, 13);
        auto* tree = child<QTreeWidget>(dialog, "twModules");
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->isScanning() && tree->topLevelItemCount() == 3, 20000);
        QCOMPARE(tree->topLevelItem(2)->text(0), QStringLiteral("12"));
        doubleClick(tree, 2);
        worked = true;
    });
    QTest::mouseClick(child<QPushButton>(serial, "btnFindModules"), Qt::LeftButton);
    QVERIFY(worked);
    QTRY_COMPARE(window.linkStatus()->text(),
                 QStringLiteral("Connected: %1, 57600 baud, address 12").arg(served->portName()));
}

void TestModuleScan::samePortUnderAnyName()
{
    // A scan must not open the port of the window's own link under another of its names.
    const auto served = bus({1}, 0);
    QTemporaryDir folder;
    const QString link = folder.filePath(QStringLiteral("bus"));
    QVERIFY(QFile::link(served->portName(), link));
    const QString bare = served->portName().mid(QStringLiteral("/dev/").size());
    QVERIFY(ModuleSearch::samePort(served->portName(), link));
    QVERIFY(ModuleSearch::samePort(bare, served->portName()));
    QVERIFY(!ModuleSearch::samePort(served->portName(), QStringLiteral("/dev/ttyS0")));
    QVERIFY(!ModuleSearch::samePort(QString(), QString()));
}

QTEST_MAIN(TestModuleScan)
#include "test_module_scan.moc"

#include "app/BLDC.h"
#include "app/MainWindow.h"
#include "app/StepResponseDialog.h"
#include "app/TuningDialog.h"
#include "comm/SerialUSBCommandHandler.h"
#include "panels/connection/WConnection.h"
#include "sim/PtyPeer.h"
#include "sim/ServedModule.h"
#include "sim/SimulatedModule.h"
#include "support/LogCapture.h"
#include "support/NextModal.h"
#include "support/PanelProbe.h"
#include "support/TemporaryConfig.h"
#include "trace/StepChart.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

// The window connected to its simulated module, and the step response dialog opened from
// Tools.
struct Session
{
    Session()
    {
        window.show();
        module = window.centralPanel()->simulatedModule();
        connectTo(window.centralPanel()->usbConnection(),
                  module->portName() + QStringLiteral("   [Simulated]"));
        for (QAction* action : window.menuBar()->actions())
            if (action->text() == QLatin1String("&Tools"))
                action->menu()->actions().first()->trigger();
        dialog = window.stepResponseDialog();
    }
    qint32 held(int type)
    {
        qint32 value = 0;
        module->withModule([&](SimulatedModule& m) { value = m.axisParameter(type); });
        return value;
    }
    // Writes as the parameter panels do.
    void set(int type, int value)
    {
        window.centralPanel()->handler()->setAxisParameter(0, char(type), value);
    }
    template <typename T> T* field(const char* name) { return child<T>(dialog, name); }
    void runStep(int target, int durationMs)
    {
        field<QComboBox>("cbMode")->setCurrentIndex(0);
        field<QSpinBox>("sbTarget")->setValue(target);
        field<QSpinBox>("sbDuration")->setValue(durationMs);
        QTest::mouseClick(field<QPushButton>("btnRun"), Qt::LeftButton);
    }

    TemporaryConfig config;
    LogCapture log;
    MainWindow window;
    ServedModule* module = nullptr;
    StepResponseDialog* dialog = nullptr;
};

} // namespace

class TestStepDialog : public QObject
{
    Q_OBJECT

private slots:
    void tuningWorkspace();
    void runsAreJournalledAndKept();
    void stopEndsTheRunAndTheMotor();
    void refusedTargetDoesNotMove();
};

void TestStepDialog::runsAreJournalledAndKept()
{
    Session s;
    QVERIFY(s.dialog && s.dialog->isVisible());
    QVERIFY(s.field<QLabel>("lblWarning")->text().contains(QStringLiteral("moves the motor")));
    QCOMPARE(s.field<QSpinBox>("sbDuration")->value(), 2000);
    s.set(146, 0); // the loop's own step, without the ramp

    // Two runs with different P: each a journal row with the P read before it, the
    // figures, and the motor stopped after it.
    auto* journal = s.field<QTableWidget>("twJournal");
    auto* chart = s.field<StepChart>("stepChart");
    for (int p : {500, 8000}) {
        s.set(140, p);
        s.set(234, p);
        s.runStep(1000, 400);
        QVERIFY2(s.field<QLabel>("lblMetrics")->text().startsWith(QStringLiteral("Rise time")),
                 qPrintable(s.field<QLabel>("lblStatus")->text()));
        QCOMPARE(s.held(2), 0);
        QVERIFY(chart->current().samples.size() > 50);
        QTest::mouseClick(s.field<QPushButton>("btnKeepReference"), Qt::LeftButton);
    }
    QCOMPARE(journal->rowCount(), 2);
    QCOMPARE(journal->item(0, 3)->text(), QStringLiteral("500"));
    QCOMPARE(journal->item(1, 3)->text(), QStringLiteral("8000"));
    QCOMPARE(journal->item(1, 1)->text(), QStringLiteral("velocity"));
    // More P, a shorter rise (the first figure after the nine PID values).
    QVERIFY(journal->item(1, 12)->text().toDouble() < journal->item(0, 12)->text().toDouble());
    QCOMPARE(chart->references().size(), 2);
    QVERIFY(s.window.isEnabled());

    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("journal.csv"));
    QVERIFY(s.dialog->saveJournal(csv));
    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines.at(0).startsWith("time,mode,target,P set 1,"));
    QVERIFY(
        lines.at(0).endsWith(",samples,sample_rate_hz,ramp_enabled,acceleration_rpm_per_s,run"));
    // The ramp switch and acceleration in force, and the run's number.
    QVERIFY(lines.at(2).endsWith(",0,1000,2"));
    QCOMPARE(journal->horizontalHeaderItem(12)->text(), QStringLiteral("Rise time [ms]"));
    QCOMPARE(lines.at(1).split(',').size(), lines.at(0).split(',').size());
    QVERIFY(!s.dialog->saveJournal(dir.path()));
}

void TestStepDialog::stopEndsTheRunAndTheMotor()
{
    Session s;
    // Stop pressed a moment into a long run; meanwhile the window behind takes no input.
    bool windowEnabled = true;
    QTimer::singleShot(300, s.dialog, [&] {
        windowEnabled = s.window.centralPanel()->isEnabled();
        QTest::mouseClick(s.field<QPushButton>("btnStop"), Qt::LeftButton);
    });
    QElapsedTimer clock;
    clock.start();
    s.runStep(1500, 20000);
    QVERIFY(clock.elapsed() < 5000);
    QVERIFY(!windowEnabled);
    QVERIFY(s.window.centralPanel()->isEnabled());
    QVERIFY(s.field<QLabel>("lblStatus")->text().startsWith(QStringLiteral("Stopped")));
    QCOMPARE(s.held(2), 0);
    QCOMPARE(s.field<QTableWidget>("twJournal")->rowCount(), 0);

    // Esc while running stops it as well, and leaves the dialog open.
    QTimer::singleShot(300, s.dialog, [&] { QTest::keyClick(s.dialog, Qt::Key_Escape); });
    s.runStep(1500, 20000);
    QVERIFY(s.dialog->isVisible());
    QCOMPARE(s.held(2), 0);
}

void TestStepDialog::refusedTargetDoesNotMove()
{
    Session s;
    s.module->peer().clearRequests();
    s.runStep(3000, 500); // beyond the max. velocity of 2000 rpm
    QVERIFY2(s.field<QLabel>("lblStatus")->text().contains(QStringLiteral("beyond")),
             qPrintable(s.field<QLabel>("lblStatus")->text()));
    for (const QByteArray& request : s.module->peer().requests())
        QVERIFY(!(request.at(1) == 5 && request.at(2) == 2));
    QCOMPARE(s.field<QTableWidget>("twJournal")->rowCount(), 0);
}

void TestStepDialog::tuningWorkspace()
{
    // Identify, then Suggest: the journal keeps both, the module's gains and ramp switch are
    // as they were; Apply asks, then writes the suggested P and I to both sets.
    Session session;
    session.window.findChild<QAction*>(QStringLiteral("actionTuneVelocityLoop"))->trigger();
    TuningDialog* dialog = session.window.tuningDialog();
    QVERIFY(dialog && dialog->isVisible());
    auto* journal = child<QTableWidget>(dialog, "twJournal");
    QTest::mouseClick(child<QPushButton>(dialog, "btnIdentify"), Qt::LeftButton);
    QCOMPARE(journal->rowCount(), 1);
    const double accel = journal->item(0, 3)->text().toDouble();
    QVERIFY2(std::abs(accel / 15 - 1) < 0.05, qPrintable(journal->item(0, 3)->text()));
    QVERIFY(!child<QPushButton>(dialog, "btnApply")->isEnabled());

    QTest::mouseClick(child<QPushButton>(dialog, "btnSuggest"), Qt::LeftButton);
    QVERIFY2(journal->rowCount() == 2, qPrintable(child<QLabel>(dialog, "lblStatus")->text()));
    QCOMPARE(journal->item(1, 2)->text(), QStringLiteral("suggest"));
    const qint32 p = journal->item(1, 6)->text().toInt();
    const qint32 i = journal->item(1, 7)->text().toInt();
    QVERIFY(p > 0 && i > 0);
    for (int type : {140, 141, 143, 234, 235, 237, 146})
        QCOMPARE(session.held(type), SimulatedModule::parameterInfo(type).defaultValue);
    // The current and the suggested gains' predicted steps, one behind the other.
    auto* chart = child<StepChart>(dialog, "stepChart");
    QCOMPARE(chart->references().size(), 1);
    QVERIFY(chart->current().label.startsWith(QStringLiteral("Suggested")));

    onNextModal<QMessageBox>(dialog,
                             [](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
    QTest::mouseClick(child<QPushButton>(dialog, "btnApply"), Qt::LeftButton);
    QCOMPARE(session.held(140), p);
    QCOMPARE(session.held(234), p);
    QCOMPARE(session.held(141), i);
    QCOMPARE(session.held(235), i);
    QCOMPARE(journal->rowCount(), 3);
    auto* gainP = child<QSpinBox>(dialog, "sbGainP");
    QCOMPARE(gainP->value(), p); // read back after Apply

    // An edited gain is written once, when committed, not at every key.
    session.module->peer().clearRequests();
    gainP->setFocus();
    gainP->selectAll();
    QTest::keyClicks(gainP, QStringLiteral("2500"));
    QTest::keyClick(gainP, Qt::Key_Return);
    QCOMPARE(session.held(140), 2500);
    int writes = 0;
    for (const QByteArray& request : session.module->peer().requests())
        writes += request.at(1) == 5 && quint8(request.at(2)) == 140;
    QCOMPARE(writes, 1);
    bool settingsFollow = false; // the Settings tab's velocity loop shows it as well
    for (QSpinBox* field : session.window.findChildren<QSpinBox*>(QStringLiteral("sbPSet1")))
        settingsFollow = settingsFollow || field->value() == 2500;
    QVERIFY(settingsFollow);

    // Step: measured over the two predictions, journalled with the set-1 gains in force, the
    // target and the ramp switch, and the motor stopped.
    child<QSpinBox>(dialog, "sbStepTarget")->setValue(300);
    child<QSpinBox>(dialog, "sbStepDuration")->setValue(400);
    QTest::mouseClick(child<QPushButton>(dialog, "btnStep"), Qt::LeftButton);
    QVERIFY2(journal->rowCount() == 4, qPrintable(child<QLabel>(dialog, "lblStatus")->text()));
    QCOMPARE(session.held(2), 0);
    QCOMPARE(journal->item(3, 2)->text(), QStringLiteral("step"));
    QCOMPARE(journal->item(3, 6)->text(), QStringLiteral("2500"));
    QVERIFY(journal->item(3, 8)->text().toDouble() > 0); // the measured rise
    QCOMPARE(journal->item(3, 13)->text(), QStringLiteral("300"));
    QCOMPARE(journal->item(3, 14)->text(), QString::number(session.held(146)));
    QCOMPARE(journal->horizontalHeaderItem(14)->text(), QStringLiteral("Ramp (146)"));
    QCOMPARE(chart->references().size(), 2);
    QVERIFY(chart->current().samples.size() > 20);

    // Esc in a long step stops it and leaves the dialog open.
    const QString measured = chart->current().label;
    bool editableWhileRunning = true;
    QTimer poll;
    connect(&poll, &QTimer::timeout, dialog, [&] {
        if (dialog->isRunning() && chart->current().label != measured &&
            chart->current().samples.size() > 10) {
            poll.stop();
            editableWhileRunning = gainP->isEnabled();
            QTest::keyClick(dialog, Qt::Key_Escape);
        }
    });
    poll.start(10);
    child<QSpinBox>(dialog, "sbStepDuration")->setValue(20000);
    QTest::mouseClick(child<QPushButton>(dialog, "btnStep"), Qt::LeftButton);
    QVERIFY(dialog->isVisible());
    QVERIFY(child<QLabel>(dialog, "lblStatus")->text().startsWith(QStringLiteral("Cancelled")));
    QCOMPARE(session.held(2), 0);
    QCOMPARE(journal->rowCount(), 4);
    QVERIFY(!editableWhileRunning);
    QVERIFY(gainP->isEnabled());
}

QTEST_MAIN(TestStepDialog)
#include "test_step_dialog.moc"

#include "app/BLDC.h"
#include "app/FrequencyResponseDialog.h"
#include "app/MainWindow.h"
#include "panels/connection/WConnection.h"
#include "sim/ServedModule.h"
#include "sim/SimulatedModule.h"
#include "support/LogCapture.h"
#include "support/PanelProbe.h"
#include "support/TemporaryConfig.h"
#include "trace/BodeChart.h"

#include <QAction>
#include <QDoubleSpinBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

// The window connected to its simulated module, and Tools → "Frequency response…".
struct Session
{
    Session()
    {
        window.show();
        module = window.centralPanel()->simulatedModule();
        connectTo(window.centralPanel()->usbConnection(),
                  module->portName() + QStringLiteral("   [Simulated]"));
        window.findChild<QAction*>(QStringLiteral("actionFrequencyResponse"))->trigger();
        dialog = window.frequencyResponseDialog();
    }
    qint32 held(int type)
    {
        qint32 value = 0;
        module->withModule([&](SimulatedModule& m) { value = m.axisParameter(type); });
        return value;
    }
    template <typename T> T* field(const char* name) { return child<T>(dialog, name); }
    void sweep(double fromHz, double toHz, int points)
    {
        field<QDoubleSpinBox>("sbFrom")->setValue(fromHz);
        field<QDoubleSpinBox>("sbTo")->setValue(toHz);
        field<QSpinBox>("sbPoints")->setValue(points);
        QTest::mouseClick(field<QPushButton>("btnRun"), Qt::LeftButton);
    }
    QString status() { return field<QLabel>("lblStatus")->text(); }

    TemporaryConfig config;
    LogCapture log;
    MainWindow window;
    ServedModule* module = nullptr;
    FrequencyResponseDialog* dialog = nullptr;
};

} // namespace

class TestFrequencyDialog : public QObject
{
    Q_OBJECT

private slots:
    void sweepIsDrawnKeptAndSaved();
    void escapeStopsTheSweep();
};

// A sweep drawn point by point while the window behind takes no input; kept as a reference
// with its gains; the table and the picture saved.
void TestFrequencyDialog::sweepIsDrawnKeptAndSaved()
{
    Session s;
    QVERIFY(s.dialog && s.dialog->isVisible());
    BodeChart* chart = s.dialog->chart();
    size_t drawnWhileRunning = 0;
    bool windowEnabled = true;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (s.dialog->isRunning()) {
            drawnWhileRunning = std::max(drawnWhileRunning, chart->current().points.size());
            windowEnabled = windowEnabled && s.window.centralPanel()->isEnabled();
        }
    });
    poll.start(20);
    s.sweep(2, 4, 2);
    poll.stop();
    QVERIFY2(s.status().startsWith(QStringLiteral("Done")), qPrintable(s.status()));
    QCOMPARE(chart->current().points.size(), size_t(2));
    QVERIFY(drawnWhileRunning >= 1);
    QVERIFY(!windowEnabled);
    QVERIFY(s.window.centralPanel()->isEnabled());
    QCOMPARE(s.held(2), 0);
    QCOMPARE(s.held(146), 1);

    QTest::mouseClick(s.field<QPushButton>("btnKeepReference"), Qt::LeftButton);
    QCOMPARE(chart->references().size(), 1);
    QVERIFY2(chart->references().first().label.contains(QStringLiteral("P 2000, I 200")),
             qPrintable(chart->references().first().label));

    QTemporaryDir dir;
    const QString table = dir.filePath(QStringLiteral("bode.csv"));
    QVERIFY(s.dialog->saveTable(table));
    QFile file(table);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.at(0), QByteArray("freq_hz,gain_db,phase_deg"));
    QVERIFY(lines.at(1).startsWith("2.000,"));
    const QString picture = dir.filePath(QStringLiteral("bode.png"));
    QVERIFY(s.dialog->savePicture(picture));
    QVERIFY(!QImage(picture).isNull());
    if (qEnvironmentVariableIsSet("ZIRO_BODE_PICTURE"))
        QFile::copy(picture, qEnvironmentVariable("ZIRO_BODE_PICTURE"));
}

// Esc during a sweep ends it at once: the motor told to stop, the ramp switched back, the
// dialog still open.
void TestFrequencyDialog::escapeStopsTheSweep()
{
    Session s;
    QTimer::singleShot(400, s.dialog, [&] { QTest::keyClick(s.dialog, Qt::Key_Escape); });
    s.sweep(2, 4, 2);
    QVERIFY2(s.status().startsWith(QStringLiteral("Stopped")), qPrintable(s.status()));
    QVERIFY(s.dialog->isVisible());
    QCOMPARE(s.held(2), 0);
    QCOMPARE(s.held(146), 1);
}

QTEST_MAIN(TestFrequencyDialog)
#include "test_frequency_dialog.moc"

#include "app/BLDC.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/TraceCommand.h"
#include "config/Parameter.h"
#include "config/ParameterCatalogue.h"
#include "config/Poller.h"
#include "panels/connection/WConnection.h"
#include "panels/motion/WCurrentControl.h"
#include "panels/motion/WPWMControl.h"
#include "panels/motion/WPositionControl.h"
#include "panels/motion/WStatusFlagsV.h"
#include "panels/motion/WVelocityControl.h"
#include "sim/ServedModule.h"
#include "support/LogCapture.h"
#include "support/PanelProbe.h"
#include "support/SimulatedPanel.h"
#include "trace/WTraceController.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QtTest>

#include <memory>

namespace {

using Write = QList<int>; // motor/bank, type (0 to 255), value

// A motion panel configured as the central panel configures it.
std::unique_ptr<ParameterPanel> makePanel(const QString& name)
{
    if (name == QLatin1String("WCurrentControl"))
        return std::make_unique<WCurrentControl>();
    if (name == QLatin1String("WPWMControl"))
        return std::make_unique<WPWMControl>();
    if (name == QLatin1String("WVelocityControl")) {
        auto panel = std::make_unique<WVelocityControl>();
        panel->setTypes(3, 2);
        return panel;
    }
    auto panel = std::make_unique<WPositionControl>();
    panel->setTypes(1, 0, char(161), char(163));
    return panel;
}

const QStringList motionPanels = {"WCurrentControl", "WPWMControl", "WVelocityControl",
                                  "WPositionControl"};

// The values of a spy on changeValue or requestValue, numbers as 0 to 255.
QList<Write> writes(const QSignalSpy& spy)
{
    QList<Write> list;
    for (const QList<QVariant>& args : spy) {
        Write write;
        for (int i = 0; i < args.size(); ++i)
            write << (i < 2 ? int(quint8(args.at(i).value<char>())) : args.at(i).toInt());
        list << write;
    }
    return list;
}

void click(QWidget* panel, const char* button)
{
    QTest::mouseClick(child<QPushButton>(panel, button), Qt::LeftButton);
}

// Types over a field's text by key, without Enter.
void typeInto(QWidget* panel, const char* field, int value)
{
    auto* spinBox = child<QSpinBox>(panel, field);
    QTest::keyClick(spinBox, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(spinBox, QString::number(value));
}

QStringList litLamps(QWidget* flags)
{
    QStringList lit;
    for (QRadioButton* lamp : flags->findChildren<QRadioButton*>())
        if (lamp->isChecked())
            lit << lamp->text();
    return lit;
}

const QStringList allLamps = {
    "Overcurrent",   "Undervoltage",      "Overvoltage",  "Overtemperature",
    "Motor halted",  "Hall/PhaseQ error", "PWM mode",     "Velocity mode",
    "Position mode", "Torque mode",       "Position end", QString::fromUtf8("I²t exceeded")};

} // namespace

class TestMotion : public QObject
{
    Q_OBJECT

private slots:
    void fieldsFollowCatalogue();
    void jogButtons_data();
    void jogButtons();
    void positionButtons();
    void answersFillOnlyTheActualField();
    void updateValues_data();
    void updateValues();
    void statusLamps_data();
    void statusLamps();
    void statusLampsKeepOtherAnswersOut();
    void drivingTheSimulatedModule();
};

void TestMotion::fieldsFollowCatalogue()
{
    // Each field bound to a parameter has the range and step of the catalogue's entry for
    // its number; actual values are shown, never edited.
    int checked = 0;
    for (const QString& name : motionPanels) {
        std::unique_ptr<ParameterPanel> panel = makePanel(name);
        for (auto* box : panel->findChildren<QSpinBox*>()) {
            const Parameter* parameter = panel->parameterOf(box);
            if (!parameter)
                continue;
            const ParameterCatalogue::Field* field = ParameterCatalogue::field(parameter->number());
            QVERIFY2(field, qPrintable(box->objectName()));
            QCOMPARE(box->minimum(), field->minimum);
            QCOMPARE(box->maximum(), field->maximum);
            QCOMPARE(box->singleStep(), field->step);
            QCOMPARE(box->value(), 0);
            QCOMPARE(box->isEnabled(), !box->objectName().startsWith(QLatin1String("sbActual")));
            ++checked;
        }
    }
    QCOMPARE(checked, 7);
    WPositionControl position;
    auto* target = child<QSpinBox>(&position, "sbTargetPosition");
    QCOMPARE(target->minimum(), -2147483647);
    QCOMPARE(target->maximum(), 2147483647);
    QCOMPARE(target->singleStep(), 1000);
}

void TestMotion::jogButtons_data()
{
    QTest::addColumn<QString>("panel");
    QTest::addColumn<QString>("magnitude");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("value");
    QTest::newRow("current") << "WCurrentControl"
                             << "sbTargetCurrent" << 155 << 500;
    QTest::newRow("PWM") << "WPWMControl"
                         << "sbTargetPWM" << 154 << 300;
    QTest::newRow("velocity") << "WVelocityControl"
                              << "sbTargetVelocity" << 2 << 1200;
    QTest::newRow("velocity 0") << "WVelocityControl"
                                << "sbTargetVelocity" << 2 << 0;
}

void TestMotion::jogButtons()
{
    QFETCH(QString, panel);
    QFETCH(QString, magnitude);
    QFETCH(int, type);
    QFETCH(int, value);
    std::unique_ptr<ParameterPanel> jog = makePanel(panel);
    QSignalSpy spy(jog.get(), &ParameterPanel::changeValue);
    // Editing the target sends nothing, committed or not...
    typeInto(jog.get(), qPrintable(magnitude), value + 100);
    QTest::keyClick(child<QSpinBox>(jog.get(), qPrintable(magnitude)), Qt::Key_Return);
    typeInto(jog.get(), qPrintable(magnitude), value);
    QVERIFY(spy.isEmpty());
    // ...each button writes it once, as the field shows it.
    click(jog.get(), "btnLeft");
    click(jog.get(), "btnStop");
    click(jog.get(), "btnRight");
    QCOMPARE(writes(spy), QList<Write>({{0, type, -value}, {0, type, 0}, {0, type, value}}));
}

void TestMotion::positionButtons()
{
    auto panel = makePanel(QStringLiteral("WPositionControl"));
    auto* position = static_cast<WPositionControl*>(panel.get());
    QSignalSpy changes(position, &WPositionControl::changeValue);
    QSignalSpy moves(position, &WPositionControl::doMove);
    typeInto(position, "sbTargetPosition", -1000);
    QVERIFY(changes.isEmpty() && moves.isEmpty());

    // A move takes the target as the field shows it, typed and not yet committed.
    click(position, "btnMoveRelative");
    typeInto(position, "sbTargetPosition", 2000);
    click(position, "btnMoveAbsolute");
    QCOMPARE(writes(moves), QList<Write>({{0, 4, 1, -1000}, {0, 4, 0, 2000}}));

    click(position, "btnClear");
    click(position, "btnClearOnNull");
    QCOMPARE(writes(changes), QList<Write>({{0, 1, 0}, {0, 163, 1}, {0, 161, 1}}));
}

void TestMotion::answersFillOnlyTheActualField()
{
    const QList<int> types = {0, 1, 2, 3, 150, 153, 154, 155, 156};
    const QList<QPair<const char*, int>> actualFields = {{"sbActualCurrent", 150},
                                                         {"sbActualPWM", 153},
                                                         {"sbActualVelocity", 3},
                                                         {"sbActualPosition", 1}};
    for (int i = 0; i < motionPanels.size(); ++i) {
        std::unique_ptr<ParameterPanel> panel = makePanel(motionPanels.at(i));
        const auto [fieldName, actual] = actualFields.at(i);
        QSignalSpy echoes(panel.get(), &ParameterPanel::changeValue);
        QList<QSpinBox*> fields = panel->findChildren<QSpinBox*>();
        for (int type : types) {
            for (const bool live : {false, true}) {
                for (QSpinBox* field : fields)
                    field->setValue(0);
                // Another motor/bank is never shown.
                panel->requestedValue(1, char(type), 700);
                panel->requestedTraceValue(1, char(type), 700);
                if (live)
                    panel->requestedTraceValue(0, char(type), 700);
                else
                    panel->requestedValue(0, char(type), 700);
                for (QSpinBox* field : fields) {
                    const bool shown =
                        field->objectName() == QLatin1String(fieldName) && type == actual;
                    QVERIFY2(field->value() == (shown ? 700 : 0),
                             qPrintable(QStringLiteral("%1 %2 type %3")
                                            .arg(motionPanels.at(i), field->objectName())
                                            .arg(type)));
                }
            }
        }
        // Filling the actual field writes nothing back.
        QVERIFY(echoes.isEmpty());
    }
}

void TestMotion::updateValues_data()
{
    QTest::addColumn<QString>("panel");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QList<Write>>("requests");
    QTest::newRow("current") << "WCurrentControl"
                             << "\"Current Control\" ::updateValues() " << QList<Write>({{0, 150}});
    QTest::newRow("PWM") << "WPWMControl"
                         << "\"PWM Control\" ::updateValues() " << QList<Write>({{0, 153}});
    QTest::newRow("velocity") << "WVelocityControl"
                              << "\"Velocity control\" ::updateValues() " << QList<Write>({{0, 3}});
    QTest::newRow("position") << "WPositionControl"
                              << "\"Positioning Control\" ::updateValues() "
                              << QList<Write>({{0, 1}, {0, 0}});
}

void TestMotion::updateValues()
{
    QFETCH(QString, panel);
    QFETCH(QString, line);
    QFETCH(QList<Write>, requests);
    std::unique_ptr<ParameterPanel> motion = makePanel(panel);
    QSignalSpy spy(motion.get(), &ParameterPanel::requestValue);
    LogCapture log;
    motion->updateValues();
    QCOMPARE(log.lines(), QStringList(line));
    QCOMPARE(writes(spy), requests);
    // The live number alone, and the one the central panel polls.
    spy.clear();
    motion->updateLiveVales();
    QCOMPARE(writes(spy), requests.mid(0, 1));
    QCOMPARE(motion->traceTypes(), QList<char>({char(requests.at(0).at(1))}));
}

void TestMotion::statusLamps_data()
{
    QTest::addColumn<quint32>("word");
    QTest::addColumn<QStringList>("lit");
    QTest::newRow("none") << 0u << QStringList();
    QTest::newRow("all bits") << 0xFFFFFFFFu << allLamps;
    QTest::newRow("bits not shown")
        << ((3u << 6) | (3u << 12) | (3u << 15) | (~0u << 18)) << QStringList();
    QTest::newRow("velocity, position end")
        << ((1u << 9) | (1u << 14)) << QStringList({"Velocity mode", "Position end"});
    QTest::newRow("lowest and highest shown")
        << ((1u << 0) | (1u << 17)) << QStringList({"Overcurrent", allLamps.last()});
}

void TestMotion::statusLamps()
{
    QFETCH(quint32, word);
    QFETCH(QStringList, lit);
    WStatusFlagsV flags;
    flags.setType(char(156));
    QCOMPARE(flags.traceTypes(), QList<char>({char(156)}));
    // Every lamp is written on every value: a word after all-ones shows exactly its bits.
    flags.requestedTraceValue(0, char(156), -1);
    flags.requestedTraceValue(0, char(156), int(word));
    QCOMPARE(litLamps(&flags), lit);
    flags.requestedValue(0, char(156), 0);
    flags.requestedValue(0, char(156), int(word));
    QCOMPARE(litLamps(&flags), lit);
}

void TestMotion::statusLampsKeepOtherAnswersOut()
{
    WStatusFlagsV flags;
    QSignalSpy requests(&flags, &WStatusFlagsV::requestValue);
    QCOMPARE(flags.findChildren<QRadioButton*>().size(), 12);
    // Nothing is shown before the number is known.
    flags.requestedValue(0, 0, -1);
    QVERIFY(litLamps(&flags).isEmpty());

    flags.setType(char(156));
    flags.requestedValue(0, char(156), 1 << 9);
    flags.requestedValue(1, char(156), -1);
    flags.requestedTraceValue(1, char(156), -1);
    flags.requestedValue(0, char(155), -1);
    flags.requestedTraceValue(0, char(150), -1);
    QCOMPARE(litLamps(&flags), QStringList("Velocity mode"));
    // Without a word (the link went down) no lamp stays lit from the last one, and the box
    // says why; the next word lights them again.
    flags.showNoWord(QStringLiteral("No status word: the link is not open."));
    QVERIFY(litLamps(&flags).isEmpty());
    auto* box = child<QGroupBox>(&flags, "gbStatusFlags");
    QVERIFY(box->property("unknown").toBool());
    QCOMPARE(box->toolTip(), QStringLiteral("No status word: the link is not open."));
    flags.requestedValue(0, char(156), 1 << 9);
    QCOMPARE(litLamps(&flags), QStringList("Velocity mode"));
    QVERIFY(!box->property("unknown").toBool());
    QVERIFY(box->toolTip().isEmpty());

    // The lamps cannot be clicked, and several can be lit at once.
    for (QRadioButton* lamp : flags.findChildren<QRadioButton*>()) {
        QVERIFY(!lamp->isEnabled());
        QVERIFY(!lamp->autoExclusive());
        QTest::mouseClick(lamp, Qt::LeftButton);
    }
    QCOMPARE(litLamps(&flags), QStringList("Velocity mode"));

    // A lit fault is a red lamp, a lit state a green one, an unlit flag neither; every one
    // says what it means.
    flags.requestedValue(0, char(156), (1 << 0) | (1 << 9));
    const auto lampPixels = [&flags](const char* name) {
        const QImage image = child<QRadioButton>(&flags, name)->grab().toImage();
        int red = 0;
        int green = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                red += c.red() > 180 && c.green() < 90 && c.blue() < 90;
                green += c.green() > 120 && c.red() < 90 && c.blue() < 110;
            }
        return QPair<int, int>(red, green);
    };
    QVERIFY(lampPixels("rbBit0").first > 10);
    QCOMPARE(lampPixels("rbBit0").second, 0);
    QVERIFY(lampPixels("rbBit9").second > 10);
    QCOMPARE(lampPixels("rbBit9").first, 0);
    QVERIFY(lampPixels("rbBit1") == qMakePair(0, 0));
    for (QRadioButton* lamp : flags.findChildren<QRadioButton*>())
        QVERIFY(lamp->toolTip().size() > lamp->text().size());
    flags.updateValues();
    QCOMPARE(writes(requests), QList<Write>({{0, 156}}));
}

void TestMotion::drivingTheSimulatedModule()
{
    SimulatedPanel simulated;
    BLDC& bldc = simulated.bldc;
    QVERIFY(bldc.simulatedModule()->isRunning());
    auto* devices = child<QComboBox>(bldc.findChild<WConnection*>(), "cmbDevices");
    devices->setCurrentIndex(devices->count() - 1);
    click(bldc.findChild<WConnection*>(), "btnConnect");
    QVERIFY(bldc.handler()->isOpen());

    auto* controller = bldc.findChild<WTraceController*>();
    auto* flags = bldc.findChild<WStatusFlagsV*>();
    auto* pwm = bldc.findChild<WPWMControl*>();
    auto* velocity = bldc.findChild<WVelocityControl*>();
    auto* actualPwm = child<QSpinBox>(pwm, "sbActualPWM");
    auto* actualVelocity = child<QSpinBox>(velocity, "sbActualVelocity");
    // The actual velocity is polled for the "Velocity" chart; offered again, it stays once.
    controller->addTraceCommand(new TraceCommand(6, 3, 0));
    click(controller, "btnStart");

    // PWM mode first, then velocity mode: the lamps and the actual values follow.
    child<QSpinBox>(pwm, "sbTargetPWM")->setValue(300);
    click(pwm, "btnRight");
    QTRY_VERIFY(litLamps(flags).contains(QStringLiteral("PWM mode")));
    QVERIFY(!litLamps(flags).contains(QStringLiteral("Velocity mode")));
    QTRY_VERIFY(actualPwm->value() > 0);

    child<QSpinBox>(velocity, "sbTargetVelocity")->setValue(2000);
    click(velocity, "btnLeft");
    QTRY_VERIFY(litLamps(flags).contains(QStringLiteral("Velocity mode")));
    QVERIFY(!litLamps(flags).contains(QStringLiteral("PWM mode")));
    QTRY_VERIFY2(actualVelocity->value() < -1000,
                 qPrintable(QString::number(actualVelocity->value())));

    // Stop freezes the values: no more requests once the cycle in progress has ended.
    click(controller, "btnStop");
    QTRY_VERIFY(!controller->poller()->inCycle());
    QCoreApplication::processEvents();
    const int requests = bldc.simulatedModule()->peer().requestCount();
    const int shown = actualVelocity->value();
    QCoreApplication::processEvents();
    QCOMPARE(bldc.simulatedModule()->peer().requestCount(), requests);
    QCOMPARE(actualVelocity->value(), shown);
    click(velocity, "btnStop");
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TestMotion test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_motion.moc"

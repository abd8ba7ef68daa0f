#include "app/BLDC.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/SerialUSBDevice.h"
#include "comm/VOKTRequest.h"
#include "config/Parameter.h"
#include "config/ParameterModel.h"
#include "panels/connection/WConnection.h"
#include "panels/connection/WSerialConnection.h"
#include "panels/parameters/ParameterPanel.h"
#include "sim/PtyPeer.h"
#include "sim/ServedModule.h"
#include "sim/SimulatedModule.h"
#include "support/LogCapture.h"
#include "support/PanelProbe.h"
#include "support/SimulatedPanel.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QWheelEvent>
#include <QtTest>

#include <atomic>

namespace {

// The parameter panels, by the names the catalogue gives them: the class, or the title
// where a class is used more than once with other numbers.
const QStringList ParameterPanels = {
    "WMotorSettings",      "WEncoderSettings",     "WCommutationMode",    "WVelocityRampControl",
    "Current PID control", "Velocity PID control", "Position PID control"};

QString get(int type)
{
    return QStringLiteral("get %1").arg(type);
}

QString set(int type, int value)
{
    return QStringLiteral("set %1 %2").arg(type).arg(value);
}

// A request frame as "get 253" or "set 253 8".
QString describe(const QByteArray& frame)
{
    const int command = quint8(frame.at(1));
    const int type = quint8(frame.at(2));
    if (command == 6)
        return get(type);
    if (command == 5)
        return set(type, vokt::takeBigEndian(frame.constData() + 4));
    return QStringLiteral("command %1 type %2").arg(command).arg(type);
}

QStringList reads(const QList<int>& numbers)
{
    QStringList requests;
    for (int number : numbers)
        requests << get(number);
    return requests;
}

// What a form field shows: a spin box its value, the ramp's group box "on" or "off", the
// commutation list its text.
QString shown(QWidget* field)
{
    if (auto* spinBox = qobject_cast<QSpinBox*>(field))
        return QString::number(spinBox->value());
    if (auto* box = qobject_cast<QGroupBox*>(field))
        return QLatin1String(box->isChecked() ? "on" : "off");
    return qobject_cast<QComboBox*>(field)->currentText();
}

// What a field shows for a value it can hold.
QString shownFor(QWidget* field, int value)
{
    if (qobject_cast<QGroupBox*>(field))
        return QLatin1String(value != 0 ? "on" : "off");
    if (qobject_cast<QComboBox*>(field)) {
        const QStringList modes = {"Block (hall sensors)", "Block (phaseQ)", "", "Sine  (encoder)"};
        return modes.value(value);
    }
    return QString::number(value);
}

// Every field of a panel, by object name, as it shows now.
QMap<QString, QString> snapshot(QWidget* panel)
{
    QMap<QString, QString> fields;
    for (QWidget* field : panel->findChildren<QWidget*>()) {
        if (qobject_cast<QSpinBox*>(field) || qobject_cast<QComboBox*>(field) ||
            (qobject_cast<QGroupBox*>(field) && qobject_cast<QGroupBox*>(field)->isCheckable()))
            fields.insert(field->objectName(), shown(field));
    }
    return fields;
}

// One step of a user's edit, by key or wheel, on a field found by object name:
// "sbMaxCurrent type 1500" (selects the field's text and types over it), "... enter",
// "... tab" (the focus leaves), "... focus", "... up", "... pageup", "... wheel",
// "gbRampEnabler space", "cbCommutationMode choose 2".
void edit(QWidget* panel, const QString& step)
{
    const QStringList words = step.split(QLatin1Char(' '));
    auto* field = child<QWidget>(panel, qPrintable(words.at(0)));
    auto* spinBox = qobject_cast<QSpinBox*>(field);
    const QString& action = words.at(1);
    if (action == QLatin1String("type") || action == QLatin1String("focus")) {
        reveal(field);
        field->setFocus(Qt::MouseFocusReason);
        if (action == QLatin1String("type")) {
            QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(field, words.at(2));
        }
    } else if (action == QLatin1String("enter")) {
        QTest::keyClick(field, Qt::Key_Return);
    } else if (action == QLatin1String("tab")) {
        QTest::keyClick(field, Qt::Key_Tab);
    } else if (action == QLatin1String("up")) {
        QTest::keyClick(field, Qt::Key_Up);
    } else if (action == QLatin1String("pageup")) {
        QTest::keyClick(field, Qt::Key_PageUp);
    } else if (action == QLatin1String("wheel")) {
        const QPointF at = QPointF(spinBox->rect().center());
        QWheelEvent wheel(at, spinBox->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(spinBox, &wheel);
    } else if (action == QLatin1String("space")) {
        QTest::keyClick(field, Qt::Key_Space);
    } else if (action == QLatin1String("choose")) {
        // Picked in the open list, as with the mouse: one choice, whatever lies between.
        auto* list = static_cast<QComboBox*>(field);
        reveal(list);
        list->showPopup();
        list->view()->setCurrentIndex(list->model()->index(words.at(2).toInt(), 0));
        QTest::keyClick(list->view(), Qt::Key_Return);
    } else {
        qFatal("unknown step %s", qPrintable(step));
    }
}

QStringList writes(const QSignalSpy& changes)
{
    QStringList requests;
    for (const QList<QVariant>& change : changes)
        requests << set(quint8(change.at(1).value<char>()), change.at(2).toInt());
    return requests;
}

// The main window's panel with its module: the simulated module that the window serves
// itself, and the window's own command handler.
struct Window
{
    SimulatedPanel simulated;
    BLDC& bldc = simulated.bldc;

    // The panels a name stands for (two for the ramp panel), in the order of the tabs.
    QList<ParameterPanel*> panels(const QString& name)
    {
        QList<ParameterPanel*> found;
        for (ParameterPanel* panel : bldc.findChildren<ParameterPanel*>()) {
            auto* titleBox = panel->findChild<QGroupBox*>(QString(), Qt::FindDirectChildrenOnly);
            if (name == QLatin1String(panel->metaObject()->className()) ||
                (titleBox && name == titleBox->title()))
                found << panel;
        }
        return found;
    }

    ParameterPanel* panel(const QString& name, int index = 0)
    {
        const QList<ParameterPanel*> found = panels(name);
        if (found.size() <= index)
            qFatal("no panel %s", qPrintable(name));
        return found.at(index);
    }

    ServedModule& module() { return *bldc.simulatedModule(); }

    // Shown and active, so that fields take the focus and lose it as they do for a user.
    void show()
    {
        bldc.show();
        bldc.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&bldc));
    }

    // Connects through the USB panel to the last entry of its list, the simulated module.
    void connectToModule()
    {
        auto* usb = bldc.findChild<WConnection*>();
        auto* devices = child<QComboBox>(usb, "cmbDevices");
        devices->setCurrentIndex(devices->count() - 1);
        QTest::mouseClick(child<QPushButton>(usb, "btnConnect"), Qt::LeftButton);
    }

    void disconnectFromModule()
    {
        auto* usb = bldc.findChild<WConnection*>();
        QTest::mouseClick(child<QPushButton>(usb, "btnDisconnect"), Qt::LeftButton);
    }

    // The requests on the module's line since the last clearLine(), as describe() puts
    // them.
    QStringList line()
    {
        QStringList requests;
        for (const QByteArray& frame : module().peer().requests())
            requests << describe(frame);
        return requests;
    }

    void clearLine() { module().peer().clearRequests(); }

    int moduleValue(int type)
    {
        int value = 0;
        module().withModule([&](SimulatedModule& m) { value = m.axisParameter(type); });
        return value;
    }

    // The fields of the parameter panels that do not show what the module holds.
    QStringList fieldsNotShowingModule()
    {
        QStringList wrong;
        for (const QString& name : ParameterPanels) {
            for (ParameterPanel* panel : panels(name)) {
                for (QWidget* field : panel->findChildren<QWidget*>()) {
                    const Parameter* parameter = panel->parameterOf(field);
                    if (!parameter)
                        continue;
                    const int expected = moduleValue(parameter->number());
                    if (shown(field) != shownFor(field, expected))
                        wrong << QStringLiteral("%1/%2 shows %3, the module holds %4")
                                     .arg(name, field->objectName(), shown(field))
                                     .arg(expected);
                }
            }
        }
        return wrong;
    }
};

} // namespace

class TestParameters : public QObject
{
    Q_OBJECT

private slots:
    void refreshOnlyReads_data();
    void refreshOnlyReads();
    void connectRefreshesEveryPanel();
    void connectToOddModuleOnlyReads();
    void answerShown_data();
    void answerShown();
    void foreignAnswerChangesNothing_data();
    void foreignAnswerChangesNothing();
    void userEdit_data();
    void userEdit();
    void editWithoutLinkIsMarked();
    void readWithoutValueIsMarked_data();
    void readWithoutValueIsMarked();
    void sineInitialisationOnlyWhenTaken_data();
    void sineInitialisationOnlyWhenTaken();
};

void TestParameters::refreshOnlyReads_data()
{
    QTest::addColumn<QString>("panel");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QList<int>>("order");
    QTest::newRow("motor") << "WMotorSettings"
                           << "\"Motor settings\" ::updateValues() "
                           << QList<int>{253, 240, 239, 6};
    QTest::newRow("encoder") << "WEncoderSettings"
                             << "\"Encoder settings\" ::updateValues() "
                             << QList<int>{165, 249, 250, 251};
    // The answer selects sine commutation: neither the mode nor 160 is written.
    QTest::newRow("commutation") << "WCommutationMode"
                                 << "WCommutationMode::updateValues() " << QList<int>{159};
    QTest::newRow("current PID") << "Current PID control"
                                 << "\"Current PID control\" ::updateValues() "
                                 << QList<int>{168, 169, 170, 171, 172, 173, 174, 175, 176};
    QTest::newRow("velocity PID") << "Velocity PID control"
                                  << "\"Velocity PID control\" ::updateValues() "
                                  << QList<int>{140, 141, 142, 143, 234, 235, 236, 237, 8};
    QTest::newRow("position PID") << "Position PID control"
                                  << "\"Position PID control\" ::updateValues() "
                                  << QList<int>{130, 131, 132, 135, 230, 231, 232, 233, 12};
    QTest::newRow("velocity ramp")
        << "WVelocityRampControl"
        << "\"Velocity ramp control\" ::updateValues() " << QList<int>{4, 11, 146};
}

// Against the simulated module through the real handler: a refresh reads every value in
// the panel's order and shows it, and writes nothing, the first time (when every answer
// changes a field) as any other.
void TestParameters::refreshOnlyReads()
{
    QFETCH(QString, panel);
    QFETCH(QString, title);
    QFETCH(QList<int>, order);
    Window window;
    ParameterPanel* instance = window.panel(panel);
    SerialUSBDevice device(window.module().portName(), QStringLiteral("Simulated"));
    SerialUSBCommandHandler handler;
    handler.setDebug(false);
    handler.setDevice(&device);
    QVERIFY(handler.open());
    ParameterModel model(&handler);
    instance->setParameterModel(&model);

    const QMap<QString, QString> before = snapshot(instance);
    LogCapture log;
    instance->updateValues();
    QCOMPARE(log.lines().value(0), title);
    QCOMPARE(window.line(), reads(order));
    QVERIFY(snapshot(instance) != before);

    window.clearLine();
    instance->updateValues();
    QCOMPARE(window.line(), reads(order));
}

// Connecting refreshes the panels in their fixed order and sends nothing but reads;
// afterwards every field shows the module's value.
void TestParameters::connectRefreshesEveryPanel()
{
    const QList<int> order = {4,   11,  146, 4,   11,  146, 253, 240, 239, 6,   165, 249, 250, 251,
                              159, 140, 141, 142, 143, 234, 235, 236, 237, 8,   168, 169, 170, 171,
                              172, 173, 174, 175, 176, 130, 131, 132, 135, 230, 231, 232, 233, 12};
    const QStringList titles = {"\"Velocity ramp control\" ::updateValues() ",
                                "\"Velocity ramp control\" ::updateValues() ",
                                "\"Motor settings\" ::updateValues() ",
                                "\"Encoder settings\" ::updateValues() ",
                                "WCommutationMode::updateValues() ",
                                "\"Velocity PID control\" ::updateValues() ",
                                "\"Current PID control\" ::updateValues() ",
                                "\"Position PID control\" ::updateValues() "};
    // Requests of the motion panels interleave; they use other numbers.
    const auto ours = [&](const QStringList& requests) {
        QStringList kept;
        for (const QString& request : requests) {
            const int type = request.section(QLatin1Char(' '), 1, 1).toInt();
            if (order.contains(type) || type == 160)
                kept << request;
        }
        return kept;
    };

    Window window;
    for (int round = 0; round < 2; ++round) {
        LogCapture log;
        window.clearLine();
        window.connectToModule();
        QStringList updates;
        for (const QString& line : log.lines())
            if (titles.contains(line))
                updates << line;
        QCOMPARE(updates, titles);
        QCOMPARE(ours(window.line()), reads(order));
        QCOMPARE(window.line().filter(QRegularExpression(QStringLiteral("^(?!get )"))),
                 QStringList());
        const QStringList wrong = window.fieldsNotShowingModule();
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
        window.disconnectFromModule();
    }
}

// A module whose answers no field can show as they are: a ramp flag of 7, a pole count
// beyond the field's range, an acceleration below it, sine commutation. Connect shows
// what it can and writes none of it back.
void TestParameters::connectToOddModuleOnlyReads()
{
    PtyPeer peer;
    QVERIFY(peer.start());
    const QMap<int, int> odd = {{146, 7}, {253, 200000}, {11, 0}, {159, 3}, {6, 1500}};
    peer.setResponder([odd](const QByteArray& request) {
        const int type = quint8(request.at(2));
        return PtyPeer::answer(
            PtyPeer::replyFrame(2, 1, 100, quint8(request.at(1)), odd.value(type, 1)));
    });
    Window window;
    connectTo(window.bldc.findChild<WSerialConnection*>(), peer.portName());
    QVERIFY(window.bldc.handler()->isOpen());
    QStringList requests;
    for (const QByteArray& frame : peer.requests())
        requests << describe(frame);
    QVERIFY(requests.size() >= 42);
    QCOMPARE(requests.filter(QRegularExpression(QStringLiteral("^(?!get )"))), QStringList());

    for (ParameterPanel* ramp : window.panels(QStringLiteral("WVelocityRampControl"))) {
        QVERIFY(child<QGroupBox>(ramp, "gbRampEnabler")->isChecked());
        QCOMPARE(child<QSpinBox>(ramp, "sbAcceleration")->value(), 1);
        QVERIFY(child<QSpinBox>(ramp, "sbAcceleration")->isEnabled());
    }
    ParameterPanel* motor = window.panel(QStringLiteral("WMotorSettings"));
    QCOMPARE(child<QSpinBox>(motor, "sbMotorPoles")->value(), 100000);
    QCOMPARE(child<QSpinBox>(motor, "sbMaxCurrent")->value(), 1500);
    QCOMPARE(child<QComboBox>(window.panel(QStringLiteral("WCommutationMode")), "cbCommutationMode")
                 ->currentText(),
             QStringLiteral("Sine  (encoder)"));
}

void TestParameters::answerShown_data()
{
    QTest::addColumn<QString>("panel");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("shows");
    QTest::addColumn<QStringList>("logged");
    const QStringList none;
    QTest::newRow("clamped") << "Position PID control" << 135 << 600000 << "sbIClippingSet1"
                             << "500000" << none;
    QTest::newRow("in range elsewhere")
        << "Current PID control" << 171 << 600000 << "sbIClippingSet1"
        << "600000" << none;
    QTest::newRow("below the lower bound") << "WVelocityRampControl" << 11 << 0 << "sbAcceleration"
                                           << "1" << none;
    QTest::newRow("ramp on") << "WVelocityRampControl" << 146 << 7 << "gbRampEnabler"
                             << "on" << none;
    QTest::newRow("ramp already off") << "WVelocityRampControl" << 146 << 0 << "gbRampEnabler"
                                      << "off" << none;
    QTest::newRow("one field of four") << "WEncoderSettings" << 249 << 2 << "sbSineInitMode"
                                       << "2" << none;
    QTest::newRow("sine selected by an answer")
        << "WCommutationMode" << 159 << 3 << "cbCommutationMode"
        << "Sine  (encoder)" << QStringList{"change commutation mode to:  \"Sine  (encoder)\" "};
    QTest::newRow("mode without an item")
        << "WCommutationMode" << 159 << 2 << "cbCommutationMode"
        << "Block (hall sensors)" << QStringList{"change commutation mode to:  \"\" "};
}

// An answer fills its field (a value outside the range at the nearest bound) and nothing
// else; it never writes, whatever the value.
void TestParameters::answerShown()
{
    QFETCH(QString, panel);
    QFETCH(int, type);
    QFETCH(int, value);
    QFETCH(QString, field);
    QFETCH(QString, shows);
    QFETCH(QStringList, logged);
    Window window;
    ParameterPanel* instance = window.panel(panel);
    QMap<QString, QString> expected = snapshot(instance);
    expected[field] = shows;
    QSignalSpy changes(instance, &ParameterPanel::changeValue);
    LogCapture log;
    instance->requestedValue(0, char(type), value);
    QCOMPARE(snapshot(instance), expected);
    QCOMPARE(writes(changes), QStringList());
    QCOMPARE(log.lines(), logged);
}

void TestParameters::foreignAnswerChangesNothing_data()
{
    QTest::addColumn<QString>("panel");
    QTest::addColumn<int>("motorBank");
    QTest::addColumn<int>("type");
    for (const QString& panel : ParameterPanels)
        QTest::addRow("%s: 177", qPrintable(panel)) << panel << 0 << 177;
    QTest::newRow("motor/bank 1") << "WMotorSettings" << 1 << 253;
    QTest::newRow("motor/bank 1, encoder") << "WEncoderSettings" << 1 << 250;
    QTest::newRow("motor/bank 1, mode") << "WCommutationMode" << 1 << 159;
    QTest::newRow("motor/bank 1, PID") << "Current PID control" << 1 << 168;
    QTest::newRow("motor/bank 1, ramp") << "WVelocityRampControl" << 1 << 146;
    QTest::newRow("133 is not position I-clipping") << "Position PID control" << 0 << 133;
    QTest::newRow("velocity PID number") << "Current PID control" << 0 << 140;
    QTest::newRow("160 is write-only") << "WCommutationMode" << 0 << 160;
}

// An answer for another motor/bank or for a number the panel does not show changes no
// field, writes nothing and logs nothing.
void TestParameters::foreignAnswerChangesNothing()
{
    QFETCH(QString, panel);
    QFETCH(int, motorBank);
    QFETCH(int, type);
    Window window;
    ParameterPanel* instance = window.panel(panel);
    const QMap<QString, QString> before = snapshot(instance);
    QSignalSpy changes(instance, &ParameterPanel::changeValue);
    LogCapture log;
    instance->requestedValue(char(motorBank), char(type), 1);
    QCOMPARE(snapshot(instance), before);
    QCOMPARE(changes.size(), 0);
    QCOMPARE(log.lines(), QStringList());
}

void TestParameters::userEdit_data()
{
    QTest::addColumn<QString>("panel");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("line");
    // A typed value is written once, when committed; the keystrokes before write nothing.
    QTest::newRow("typing 2000, Enter")
        << "Velocity PID control" << QStringList{"sbThreshold type 2000", "sbThreshold enter"}
        << QStringList{set(8, 2000)};
    QTest::newRow("typing, not committed")
        << "Current PID control" << QStringList{"sbPSet1 type 12"} << QStringList();
    QTest::newRow("typing, focus leaves")
        << "WMotorSettings" << QStringList{"sbMaxCurrent type 1500", "sbMaxCurrent tab"}
        << QStringList{set(6, 1500)};
    QTest::newRow("committed twice")
        << "Current PID control" << QStringList{"sbPSet1 type 12", "sbPSet1 enter", "sbPSet1 tab"}
        << QStringList{set(168, 12)};
    QTest::newRow("focus leaves an unchanged field")
        << "WMotorSettings" << QStringList{"sbCoilResistance focus", "sbCoilResistance tab"}
        << QStringList();
    QTest::newRow("the same value typed again")
        << "WMotorSettings"
        << QStringList{"sbCoilResistance type 500", "sbCoilResistance enter",
                       "sbCoilResistance tab"}
        << QStringList();
    QTest::newRow("encoder direction refuses 3")
        << "WEncoderSettings"
        << QStringList{"sbEncoderDirection type 3", "sbEncoderDirection enter"} << QStringList();
    // Each step of the arrows, Page Up or the wheel is written at once.
    QTest::newRow("three arrow steps")
        << "Current PID control"
        << QStringList{"sbThreshold up", "sbThreshold up", "sbThreshold up"}
        << QStringList{set(176, 1100), set(176, 1200), set(176, 1300)};
    QTest::newRow("page up, wheel")
        << "WMotorSettings" << QStringList{"sbMaxCurrent pageup", "sbMaxCurrent wheel"}
        << QStringList{set(6, 3000), set(6, 3100)};
    QTest::newRow("typed, then a step")
        << "WMotorSettings" << QStringList{"sbMaxCurrent type 1500", "sbMaxCurrent up"}
        << QStringList{set(6, 1600)};
    QTest::newRow("motor poles step by two")
        << "WMotorSettings" << QStringList{"sbMotorPoles up"} << QStringList{set(253, 10)};
    // An edit in one ramp panel: the answer fills the other one, which writes nothing.
    QTest::newRow("ramp off and on")
        << "WVelocityRampControl" << QStringList{"gbRampEnabler space", "gbRampEnabler space"}
        << QStringList{set(146, 0), set(146, 1)};
    QTest::newRow("typing a max. velocity")
        << "WVelocityRampControl" << QStringList{"sbMaxVelocity type 2500", "sbMaxVelocity enter"}
        << QStringList{set(4, 2500)};
    QTest::newRow("acceleration locked without ramp")
        << "WVelocityRampControl"
        << QStringList{"gbRampEnabler space", "sbAcceleration type 500", "sbAcceleration enter"}
        << QStringList{set(146, 0)};
    QTest::newRow("sine chosen by the user")
        << "WCommutationMode"
        << QStringList{"cbCommutationMode choose 0", "cbCommutationMode choose 2"}
        << QStringList{set(159, 0), set(159, 3), set(160, 0)};
    QTest::newRow("phaseQ chosen")
        << "WCommutationMode" << QStringList{"cbCommutationMode choose 1"}
        << QStringList{set(159, 1)};
}

// Connected to the simulated module, the user edits fields by key and wheel: each line
// holds exactly the writes the edit makes, and afterwards every field shows what the
// module holds.
void TestParameters::userEdit()
{
    QFETCH(QString, panel);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, line);
    Window window;
    window.show();
    window.connectToModule();
    QVERIFY(window.bldc.handler()->isOpen());
    ParameterPanel* instance = window.panel(panel);
    window.clearLine();
    for (const QString& step : steps)
        edit(instance, step);
    QCOMPARE(window.line(), line);
    const QStringList wrong = window.fieldsNotShowingModule();
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
}

// With no link, an edit keeps the typed value but says nothing was written, and the field
// stays marked until the module's value replaces it.
void TestParameters::editWithoutLinkIsMarked()
{
    Window window;
    window.show();
    QVERIFY(!window.bldc.handler()->isOpen());
    QSignalSpy said(&window.bldc, &BLDC::nothingWritten);
    ParameterPanel* motor = window.panel(QStringLiteral("WMotorSettings"));
    auto* field = child<QSpinBox>(motor, "sbMaxCurrent");
    edit(motor, QStringLiteral("sbMaxCurrent type 1500"));
    edit(motor, QStringLiteral("sbMaxCurrent enter"));
    QCOMPARE(said.size(), 1);
    QCOMPARE(said.at(0).at(0).toString(), QStringLiteral("Not connected: nothing written"));
    QCOMPARE(field->value(), 1500);
    QVERIFY(field->property("notWritten").toBool());
    // Another field is not marked.
    QVERIFY(!child<QSpinBox>(motor, "sbCoilResistance")->property("notWritten").toBool());

    window.connectToModule();
    QVERIFY(window.bldc.handler()->isOpen());
    QCOMPARE(field->value(), window.moduleValue(6));
    QVERIFY(!field->property("notWritten").toBool());
    QCOMPARE(said.size(), 1);
}

void TestParameters::readWithoutValueIsMarked_data()
{
    // The answer to a read of 6: its status; 0: none; -1: 9999, behind a reply to another
    // command.
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("reason");
    QTest::newRow("refused") << 3 << "refused by the module (status 3)";
    QTest::newRow("no reply") << 0 << "no reply from the module";
    QTest::newRow("line not clean") << -1 << "the line is not clean";
}

// A read of "Max. current" that the module refuses or leaves unanswered: the field keeps
// the last value the module reported, marked, with the reason in its tool tip and the
// status bar; the next good answer takes the mark away.
void TestParameters::readWithoutValueIsMarked()
{
    QFETCH(int, status);
    QFETCH(QString, reason);
    std::atomic<bool> failing{false};
    PtyPeer peer;
    QVERIFY(peer.start());
    peer.setResponder([&failing, status](const QByteArray& request) {
        const int command = quint8(request.at(1));
        if (failing && quint8(request.at(2)) == 6) {
            if (status == 0)
                return QList<PtyPeer::Chunk>{};
            if (status < 0)
                return PtyPeer::answer(PtyPeer::replyFrame(2, 1, 100, 5, 7) +
                                       PtyPeer::replyFrame(2, 1, 100, quint8(command), 9999));
            return PtyPeer::answer(PtyPeer::replyFrame(2, 1, quint8(status), quint8(command), 0));
        }
        return PtyPeer::answer(PtyPeer::replyFrame(2, 1, 100, quint8(command), 1500));
    });
    Window window;
    connectTo(window.bldc.findChild<WSerialConnection*>(), peer.portName());
    ParameterPanel* motor = window.panel(QStringLiteral("WMotorSettings"));
    auto* field = child<QSpinBox>(motor, "sbMaxCurrent");
    QCOMPARE(field->value(), 1500);
    QCOMPARE(field->toolTip(), QStringLiteral("Axis parameter 6"));

    QSignalSpy said(&window.bldc, &BLDC::parameterNotTaken);
    failing = true;
    motor->updateValues();
    QCOMPARE(field->value(), 1500);
    QVERIFY(field->property("notCurrent").toBool());
    QVERIFY2(field->toolTip().contains(reason), qPrintable(field->toolTip()));
    QCOMPARE(said.size(), 1);
    QVERIFY(said.at(0).at(0).toString().startsWith(
        QStringLiteral("Axis parameter 6 not read: %1").arg(reason)));
    // The fields read before it are current.
    QVERIFY(!child<QSpinBox>(motor, "sbMotorPoles")->property("notCurrent").toBool());

    failing = false;
    if (!window.bldc.handler()->isOpen())
        connectTo(window.bldc.findChild<WSerialConnection*>(), peer.portName());
    motor->updateValues();
    QVERIFY(!field->property("notCurrent").toBool());
    QCOMPARE(field->toolTip(), QStringLiteral("Axis parameter 6"));
    QCOMPARE(field->value(), 1500);
}

void TestParameters::sineInitialisationOnlyWhenTaken_data()
{
    QTest::addColumn<int>("answer"); // to a write of 159; -1: the value written
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<QString>("shows");
    QTest::newRow("taken") << -1 << QStringList{set(159, 3), set(160, 0)} << "Sine  (encoder)";
    QTest::newRow("answers block") << 0 << QStringList{set(159, 3)} << "Block (hall sensors)";
    QTest::newRow("answers a mode without an item")
        << 2 << QStringList{set(159, 3)} << "Sine  (encoder)";
}

// The user picks sine commutation: the sine initialisation (160 = 0) follows only when the
// module's answer says it took sine.
void TestParameters::sineInitialisationOnlyWhenTaken()
{
    QFETCH(int, answer);
    QFETCH(QStringList, writes);
    QFETCH(QString, shows);
    PtyPeer peer;
    QVERIFY(peer.start());
    peer.setResponder([answer](const QByteArray& request) {
        const int command = quint8(request.at(1));
        const int type = quint8(request.at(2));
        int value = command == 5 ? vokt::takeBigEndian(request.constData() + 4) : 1;
        if (command == 5 && type == 159 && answer >= 0)
            value = answer;
        return PtyPeer::answer(PtyPeer::replyFrame(2, 1, 100, quint8(command), value));
    });
    Window window;
    window.show();
    connectTo(window.bldc.findChild<WSerialConnection*>(), peer.portName());
    QVERIFY(window.bldc.handler()->isOpen());
    ParameterPanel* instance = window.panel(QStringLiteral("WCommutationMode"));
    peer.clearRequests();
    edit(instance, QStringLiteral("cbCommutationMode choose 2"));
    QStringList sent;
    for (const QByteArray& frame : peer.requests())
        sent << describe(frame);
    QCOMPARE(sent, writes);
    QCOMPARE(child<QComboBox>(instance, "cbCommutationMode")->currentText(), shows);
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TestParameters test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_parameters.moc"

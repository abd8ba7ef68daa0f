#include "BLDC.h"
#include "LogCapture.h"
#include "PanelProbe.h"
#include "ParameterCatalogue.h"
#include "ParameterPanel.h"
#include "SerialUSBCommandHandler.h"
#include "SerialUSBDevice.h"
#include "ServedModule.h"
#include "SimulatedModule.h"
#include "VOKTRequest.h"
#include "WConnection.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

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

// A refresh as the line carries it: "253=8 240" reads 253, writes 8 back, reads 240.
QStringList refresh(const QString& numbers)
{
    QStringList requests;
    for (const QString& item : numbers.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QStringList parts = item.split(QLatin1Char('='));
        requests << get(parts.at(0).toInt());
        if (parts.size() > 1)
            requests << set(parts.at(0).toInt(), parts.at(1).toInt());
    }
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
    BLDC bldc;

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

    // Cuts a panel off from the window's handler: only the test hears it.
    void detach(ParameterPanel* panel)
    {
        QObject::disconnect(panel, nullptr, bldc.handler(), nullptr);
        QObject::disconnect(bldc.handler(), nullptr, panel, nullptr);
    }

    ServedModule& module() { return *bldc.simulatedModule(); }

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
        for (const ParameterCatalogue::PanelField& entry : ParameterCatalogue::panelFields()) {
            if (!ParameterPanels.contains(QLatin1String(entry.panel)))
                continue;
            const QString expected = QString::number(moduleValue(entry.number));
            for (ParameterPanel* panel : panels(QLatin1String(entry.panel))) {
                auto* field = child<QWidget>(panel, entry.field);
                if (shown(field) != shownFor(field, expected.toInt()))
                    wrong << QStringLiteral("%1/%2 shows %3, the module holds %4")
                                 .arg(entry.panel, entry.field, shown(field), expected);
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
    void formsAgreeWithCatalogue_data();
    void formsAgreeWithCatalogue();
    void refreshReadsThenEchoes_data();
    void refreshReadsThenEchoes();
    void connectRefreshesEveryPanel();
    void answerShown_data();
    void answerShown();
    void foreignAnswerChangesNothing_data();
    void foreignAnswerChangesNothing();
    void userEdit_data();
    void userEdit();
};

void TestParameters::formsAgreeWithCatalogue_data()
{
    QTest::addColumn<QString>("panel");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("step");
    for (const ParameterCatalogue::PanelField& entry : ParameterCatalogue::panelFields()) {
        if (ParameterPanels.contains(QLatin1String(entry.panel)))
            QTest::addRow("%s %s", entry.panel, entry.field)
                << QString::fromLatin1(entry.panel) << QString::fromLatin1(entry.field)
                << entry.number << entry.minimum << entry.maximum << entry.step;
    }
}

// Each field has the catalogue's range and step, and an answer for the catalogue's number
// (carried as a char, so 253 arrives as -3) fills it and is echoed with that number.
void TestParameters::formsAgreeWithCatalogue()
{
    QFETCH(QString, panel);
    QFETCH(QString, field);
    QFETCH(int, number);
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, step);
    Window window;
    const QList<ParameterPanel*> panels = window.panels(panel);
    QCOMPARE(panels.size(), panel == QLatin1String("WVelocityRampControl") ? 2 : 1);
    for (ParameterPanel* instance : panels) {
        window.detach(instance);
        auto* widget = child<QWidget>(instance, qPrintable(field));
        if (auto* spinBox = qobject_cast<QSpinBox*>(widget)) {
            QCOMPARE(spinBox->minimum(), minimum);
            QCOMPARE(spinBox->maximum(), maximum);
            QCOMPARE(spinBox->singleStep(), step);
        } else if (auto* box = qobject_cast<QGroupBox*>(widget)) {
            QVERIFY(box->isCheckable());
        } else {
            QVERIFY(qobject_cast<QComboBox*>(widget));
        }
        QSignalSpy changes(instance, &ParameterPanel::changeValue);
        instance->requestedValue(0, char(number), maximum);
        QCOMPARE(shown(widget), shownFor(widget, maximum));
        QCOMPARE(writes(changes), QStringList{set(number, maximum)});
    }
}

void TestParameters::refreshReadsThenEchoes_data()
{
    QTest::addColumn<QString>("panel");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("firstRefresh");
    QTest::newRow("motor") << "WMotorSettings"
                           << "\"Motor settings\" ::updateValues() "
                           << "253=8 240=500 239=30 6=2000";
    QTest::newRow("encoder") << "WEncoderSettings"
                             << "\"Encoder settings\" ::updateValues() "
                             << "165 249 250=4096 251";
    // The answer selects sine commutation: the mode is written back, but the sine
    // initialisation (160) is not restarted.
    QTest::newRow("commutation") << "WCommutationMode"
                                 << "WCommutationMode::updateValues() "
                                 << "159=3";
    QTest::newRow("current PID")
        << "Current PID control"
        << "\"Current PID control\" ::updateValues() "
        << "168=600 169=100 170 171=100000 172=600 173=100 174 175=100000 176=1000";
    QTest::newRow("velocity PID")
        << "Velocity PID control"
        << "\"Velocity PID control\" ::updateValues() "
        << "140=2000 141=200 142 143=500000 234=2000 235=200 236 237=500000 8=1000";
    QTest::newRow("position PID") << "Position PID control"
                                  << "\"Position PID control\" ::updateValues() "
                                  << "130=300 131 132 135=10000 230=300 231 232 233=10000 12=1000";
    QTest::newRow("velocity ramp") << "WVelocityRampControl"
                                   << "\"Velocity ramp control\" ::updateValues() "
                                   << "4=2000 11=1000 146=1";
}

// Against the simulated module through the real handler: a refresh reads every value in
// the panel's order, a value the field did not show is written back once, and a refresh
// with current fields sends reads only.
void TestParameters::refreshReadsThenEchoes()
{
    QFETCH(QString, panel);
    QFETCH(QString, title);
    QFETCH(QString, firstRefresh);
    Window window;
    ParameterPanel* instance = window.panel(panel);
    window.detach(instance);
    SerialUSBDevice device(window.module().portName(), QStringLiteral("Simulated"));
    SerialUSBCommandHandler handler;
    handler.setDebug(false);
    handler.setDevice(&device);
    QVERIFY(handler.open());
    QObject::connect(instance, &ParameterPanel::requestValue, &handler,
                     &SerialUSBCommandHandler::getAxisParameter);
    QObject::connect(instance, &ParameterPanel::changeValue, &handler,
                     &SerialUSBCommandHandler::setAxisParameter);
    QObject::connect(&handler, &SerialUSBCommandHandler::requestedValue, instance,
                     &ParameterPanel::requestedValue);

    LogCapture log;
    instance->updateValues();
    QCOMPARE(log.lines().value(0), title);
    QCOMPARE(window.line(), refresh(firstRefresh));

    window.clearLine();
    instance->updateValues();
    QCOMPARE(window.line(), refresh(QString(firstRefresh).remove(QRegularExpression("=-?\\d+"))));
}

// Connecting refreshes the panels in their fixed order; afterwards every field shows the
// module's value, and a second connect reads without writing.
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
    QStringList reads;
    for (int type : order)
        reads << get(type);
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
    LogCapture log;
    window.connectToModule();
    QStringList updates;
    for (const QString& line : log.lines())
        if (titles.contains(line))
            updates << line;
    QCOMPARE(updates, titles);
    const QStringList first = ours(window.line());
    QCOMPARE(first.filter(QStringLiteral("get ")), reads);
    QVERIFY(!first.contains(set(160, 0)));
    // The answers to the first ramp panel's write fill the second, which writes again.
    QCOMPARE(first.count(set(4, 2000)), 2);
    QCOMPARE(first.count(set(253, 8)), 1);
    const QStringList wrong = window.fieldsNotShowingModule();
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));

    window.disconnectFromModule();
    window.clearLine();
    window.connectToModule();
    QCOMPARE(ours(window.line()), reads);
}

void TestParameters::answerShown_data()
{
    QTest::addColumn<QString>("panel");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("shows");
    QTest::addColumn<QStringList>("written");
    QTest::addColumn<QStringList>("logged");
    const QStringList none;
    QTest::newRow("clamped, not written")
        << "Position PID control" << 135 << 600000 << "sbIClippingSet1"
        << "500000" << none << none;
    QTest::newRow("in range elsewhere")
        << "Current PID control" << 171 << 600000 << "sbIClippingSet1"
        << "600000" << QStringList{set(171, 600000)} << none;
    QTest::newRow("below the lower bound") << "WVelocityRampControl" << 11 << 0 << "sbAcceleration"
                                           << "1" << none << none;
    QTest::newRow("ramp on, written as 1") << "WVelocityRampControl" << 146 << 7 << "gbRampEnabler"
                                           << "on" << QStringList{set(146, 1)} << none;
    QTest::newRow("ramp already off") << "WVelocityRampControl" << 146 << 0 << "gbRampEnabler"
                                      << "off" << none << none;
    QTest::newRow("one field of four") << "WEncoderSettings" << 249 << 2 << "sbSineInitMode"
                                       << "2" << QStringList{set(249, 2)} << none;
    QTest::newRow("sine selected by an answer")
        << "WCommutationMode" << 159 << 3 << "cbCommutationMode"
        << "Sine  (encoder)" << QStringList{set(159, 3)}
        << QStringList{"change commutation mode to:  \"Sine  (encoder)\" "};
    QTest::newRow("mode without an item")
        << "WCommutationMode" << 159 << 2 << "cbCommutationMode"
        << "Block (hall sensors)" << none << QStringList{"change commutation mode to:  \"\" "};
}

// An answer fills its field through the field's change notification: a value the field did
// not show is written back once; a value outside the range shows at the nearest bound and
// is not written, nor is anything that the answer did not change.
void TestParameters::answerShown()
{
    QFETCH(QString, panel);
    QFETCH(int, type);
    QFETCH(int, value);
    QFETCH(QString, field);
    QFETCH(QString, shows);
    QFETCH(QStringList, written);
    QFETCH(QStringList, logged);
    Window window;
    ParameterPanel* instance = window.panel(panel);
    window.detach(instance);
    QMap<QString, QString> expected = snapshot(instance);
    expected[field] = shows;
    QSignalSpy changes(instance, &ParameterPanel::changeValue);
    LogCapture log;
    instance->requestedValue(0, char(type), value);
    QCOMPARE(snapshot(instance), expected);
    QCOMPARE(writes(changes), written);
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
    window.detach(instance);
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
    QTest::newRow("typing into a PID field")
        << "Current PID control" << QStringList{"sbPSet1 type 12"}
        << QStringList{set(168, 1), set(168, 12)};
    QTest::newRow("velocity threshold")
        << "Velocity PID control" << QStringList{"sbThreshold up"} << QStringList{set(8, 1100)};
    QTest::newRow("current threshold")
        << "Current PID control" << QStringList{"sbThreshold up"} << QStringList{set(176, 1100)};
    QTest::newRow("motor poles step by two")
        << "WMotorSettings" << QStringList{"sbMotorPoles up"} << QStringList{set(253, 10)};
    QTest::newRow("encoder direction refuses 3")
        << "WEncoderSettings" << QStringList{"sbEncoderDirection type 3"} << QStringList();
    // One edit in a ramp panel: the answer fills the other one, which writes it again.
    QTest::newRow("ramp off and on")
        << "WVelocityRampControl" << QStringList{"gbRampEnabler toggle", "gbRampEnabler toggle"}
        << QStringList{set(146, 0), set(146, 0), set(146, 1), set(146, 1)};
    QTest::newRow("typing a max. velocity")
        << "WVelocityRampControl" << QStringList{"sbMaxVelocity type 2500"}
        << QStringList{set(4, 2),   set(4, 2),   set(4, 25),   set(4, 25),
                       set(4, 250), set(4, 250), set(4, 2500), set(4, 2500)};
    QTest::newRow("acceleration locked without ramp")
        << "WVelocityRampControl" << QStringList{"gbRampEnabler toggle", "sbAcceleration type 500"}
        << QStringList{set(146, 0), set(146, 0)};
    QTest::newRow("sine chosen by the user")
        << "WCommutationMode"
        << QStringList{"cbCommutationMode choose 0", "cbCommutationMode choose 2"}
        << QStringList{set(159, 0), set(159, 3), set(160, 0)};
    QTest::newRow("phaseQ chosen")
        << "WCommutationMode" << QStringList{"cbCommutationMode choose 1"}
        << QStringList{set(159, 1)};
}

// Connected to the simulated module: each edit is written at once, the module's answer
// changes nothing more, and afterwards every field shows what the module holds.
void TestParameters::userEdit()
{
    QFETCH(QString, panel);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, line);
    Window window;
    window.connectToModule();
    QVERIFY(window.bldc.handler()->isOpen());
    ParameterPanel* instance = window.panel(panel);
    window.clearLine();
    for (const QString& step : steps) {
        const QStringList words = step.split(QLatin1Char(' '));
        auto* field = child<QWidget>(instance, qPrintable(words.at(0)));
        if (words.at(1) == QLatin1String("type")) {
            static_cast<QSpinBox*>(field)->selectAll();
            QTest::keyClicks(field, words.at(2));
        } else if (words.at(1) == QLatin1String("up")) {
            QTest::keyClick(field, Qt::Key_Up);
        } else if (words.at(1) == QLatin1String("toggle")) {
            auto* box = static_cast<QGroupBox*>(field);
            box->setChecked(!box->isChecked());
        } else {
            static_cast<QComboBox*>(field)->setCurrentIndex(words.at(2).toInt());
        }
    }
    QCOMPARE(window.line(), line);
    const QStringList wrong = window.fieldsNotShowingModule();
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TestParameters test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_parameters.moc"

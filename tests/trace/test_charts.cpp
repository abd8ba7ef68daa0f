#include "app/BLDC.h"
#include "comm/SerialUSBCommandHandler.h"
#include "config/Poller.h"
#include "support/PanelProbe.h"
#include "support/StdoutCapture.h"
#include "trace/Chart.h"
#include "trace/ChartExport.h"
#include "trace/ChartPainter.h"
#include "trace/CreateChartDialog.h"
#include "trace/CreateDrawerDialog.h"
#include "trace/DrawerArea.h"
#include "trace/RemoveChartDialog.h"
#include "trace/WDrawer.h"
#include "trace/WTraceController.h"

#include <QAction>
#include <QComboBox>
#include <QImage>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <cstring>

namespace {

// A 220 x 140 area with the range 0..100 has the chart width 100, the baseline at y = 125
// and one pixel per unit of value: value v lies at y = 125 - v, the newest dot at x = 198.
const QSize PlotSize(220, 140);
constexpr int Baseline = 125;
constexpr int NewestX = 198;

const QRgb Blue = QColor(Qt::blue).rgb();

QImage paint(QWidget* widget)
{
    QImage image(widget->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget->render(&image);
    return image;
}

// A pixel (nearly) in the colour: a dot covers its own pixel almost fully, its neighbours
// only in part, so they show a lighter shade.
bool shows(QRgb pixel, QRgb color)
{
    return qAbs(qRed(pixel) - qRed(color)) < 32 && qAbs(qGreen(pixel) - qGreen(color)) < 32 &&
           qAbs(qBlue(pixel) - qBlue(color)) < 32;
}

// The rows of column x that show a dot of the colour.
QList<int> rowsIn(const QImage& image, int x, QRgb color)
{
    QList<int> rows;
    for (int y = 0; y < image.height(); ++y)
        if (shows(image.pixel(x, y), color))
            rows << y;
    return rows;
}

int pixelsIn(const QImage& image, const QRect& area, QRgb color)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += shows(image.pixel(x, y), color);
    return count;
}

// A chart without a legend text, so every pixel of its colour is a dot.
Chart* unnamedChart(char type, QColor color = Qt::blue)
{
    auto* chart = new Chart(0, type, QString());
    chart->setColor(color);
    return chart;
}

// Values 5 to 94 that differ from one sample to the next, so each dot's row tells which
// sample it shows.
double valueOf(int index)
{
    return index * 7 % 90 + 5;
}

void fill(Chart* chart, int count)
{
    for (int i = 0; i < count; ++i)
        chart->addSample(valueOf(i));
}

void setManualRange(DrawerArea& area, int min, int max)
{
    area.doManualScaling();
    area.setMinValue(min);
    area.setMaxValue(max);
}

// A turn of the mouse wheel over the widget: 120 is one step away from the user (closer).
void turnWheel(QWidget* widget, QPoint at, int delta, Qt::KeyboardModifiers modifiers = {})
{
    QWheelEvent event(QPointF(at), QPointF(widget->mapToGlobal(at)), QPoint(), QPoint(0, delta),
                      Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

void sendMouse(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(at), QPointF(widget->mapToGlobal(at)),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// The runs of rows left of the value axis that hold text: one per scale label drawn, unless
// labels touch, which makes one run of two.
QList<QPair<int, int>> labelRuns(const QImage& image)
{
    QList<QPair<int, int>> runs;
    bool inRun = false;
    for (int y = 2; y < image.height() - 2; ++y) {
        bool ink = false;
        for (int x = 2; x < 95 && !ink; ++x)
            ink = qGray(image.pixel(x, y)) < 160;
        if (ink && !inRun)
            runs.append({y, y});
        if (ink)
            runs.last().second = y;
        inRun = ink;
    }
    return runs;
}

// An area 220 x 140 as above, manual range 0..100, with one unnamed blue chart of the
// given capacity.
Chart* plainArea(DrawerArea& area, int capacity)
{
    area.resize(PlotSize);
    area.setBufferSize(capacity);
    setManualRange(area, 0, 100);
    area.setScrollState(100, capacity - 1, capacity - 1);
    Chart* chart = unnamedChart(3);
    area.addChart(chart);
    return chart;
}

int bitsOf(float value)
{
    int bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

} // namespace

class TestCharts : public QObject
{
    Q_OBJECT

private slots:
    void chartBuffer();
    void valuesReachTheirCharts();
    void dotWalk_data();
    void dotWalk();
    void plotBounds_data();
    void plotBounds();
    void dynamicRange_data();
    void dynamicRange();
    void drawsNoDots_data();
    void drawsNoDots();
    void panelScrolling();
    void panelControls();
    void removeChartDialog();
    void createDialogs();
    void centralPanelCharts();
    void axisLabelsNeverTouch_data();
    void axisLabelsNeverTouch();
    void pauseFreezesThePicture();
    void zoomAndPanWithTheMouse();
    void zoomedOutTraceKeepsEveryExtreme();
    void cursorReadout();
    void referenceBehindTheLiveCurves();
    void samplesAsCsv();
    void savedFiles();
    void contextMenuAndButtons();
};

void TestCharts::chartBuffer()
{
    Chart chart(0, 3, QStringLiteral("actual [rpm]"));
    QCOMPARE(chart.capacity(), 100);
    QCOMPARE(chart.valueFormat(), 2);
    QCOMPARE(Chart(1, 2).name(), QStringLiteral("unknown"));

    chart.setCapacity(10000);
    for (int i = 0; i <= 10000; ++i)
        chart.addSample(i);
    QCOMPARE(chart.sampleCount(), 10000);
    QCOMPARE(chart.samples().first(), 1.0);
    QCOMPARE(chart.samples().last(), 10000.0);

    // Past the wrap: a larger capacity keeps the order, a smaller one the newest samples.
    chart.setCapacity(5);
    chart.addSample(10001);
    chart.addSample(10002);
    chart.setCapacity(7);
    chart.addSample(10003);
    QCOMPARE(chart.samples(), QList<double>({9998, 9999, 10000, 10001, 10002, 10003}));
    chart.setCapacity(0);
    QCOMPARE(chart.capacity(), 7);
    chart.clearSamples();
    chart.addSample(-1);
    QCOMPARE(chart.samples(), QList<double>({-1}));
}

void TestCharts::valuesReachTheirCharts()
{
    DrawerArea area;
    area.setBufferSize(50);
    auto* velocity = new Chart(0, 3, QStringLiteral("a"));
    auto* velocityAgain = new Chart(0, 3, QStringLiteral("b"));
    auto* otherBank = new Chart(1, 3, QStringLiteral("c"));
    auto* target = new Chart(0, 13, QStringLiteral("d"));
    auto* single = new Chart(0, 3, Chart::FloatFormat, QStringLiteral("e"));
    auto* pwm = new Chart(0, static_cast<char>(153), QStringLiteral("f"));
    for (Chart* chart : {velocity, velocityAgain, otherBank, target, single, pwm})
        area.addChart(chart);
    QCOMPARE(velocity->capacity(), 50);

    const int bits = bitsOf(1.5f);
    area.addValue(0, 3, bits);
    area.addValue(0, static_cast<char>(153), -7);
    QCOMPARE(velocity->samples(), QList<double>({double(bits)}));
    QCOMPARE(velocityAgain->samples(), QList<double>({double(bits)}));
    QCOMPARE(single->samples(), QList<double>({1.5}));
    QCOMPARE(pwm->samples(), QList<double>({-7}));
    QVERIFY(otherBank->samples().isEmpty());
    QVERIFY(target->samples().isEmpty());

    area.removeChart(0, 3);
    QCOMPARE(area.charts(), QList<Chart*>({otherBank, target, pwm}));
}

void TestCharts::dotWalk_data()
{
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("resolution");
    QTest::addColumn<int>("scrollBack");
    // Full buffer, newest in view: the newest sample is the rightmost dot.
    QTest::newRow("resolution 1") << 1000 << 1 << 0;
    // Every tenth sample, counted back from the newest: samples 990, 980, ...
    QTest::newRow("resolution 10") << 1000 << 10 << 0;
    // Scrolled back by 300 at resolution 10: 30 samples further back.
    QTest::newRow("scrolled, resolution 10") << 1000 << 10 << 300;
    QTest::newRow("scrolled, resolution 1") << 1000 << 1 << 899;
    // Fewer samples than the chart is wide: dots up to the oldest sample, then none.
    QTest::newRow("few samples") << 40 << 1 << 0;
}

void TestCharts::dotWalk()
{
    QFETCH(int, samples);
    QFETCH(int, resolution);
    QFETCH(int, scrollBack);
    DrawerArea area;
    area.resize(PlotSize);
    area.setBufferSize(1000);
    setManualRange(area, 0, 100);
    area.setResolution(resolution);
    area.setScrollState(100, 999, 999 - scrollBack);
    Chart* chart = unnamedChart(3);
    area.addChart(chart);
    fill(chart, samples);

    const QImage image = paint(&area);
    const int newestInView = samples - 1 - scrollBack / resolution;
    for (int dot = 0; dot < 100; ++dot) {
        const int index = newestInView - (resolution - 1) - resolution * dot;
        const QList<int> expected =
            index >= 0 ? QList<int>{Baseline - int(valueOf(index))} : QList<int>{};
        QVERIFY2(rowsIn(image, NewestX - dot, Blue) == expected,
                 qPrintable(QStringLiteral("dot %1, sample %2").arg(dot).arg(index)));
    }
    // Nothing left of the first dot column or right of the newest.
    QCOMPARE(pixelsIn(image, QRect(0, 0, NewestX - 99, PlotSize.height()), Blue), 0);
    QCOMPARE(pixelsIn(image, QRect(NewestX + 1, 0, 21, PlotSize.height()), Blue), 0);
}

void TestCharts::plotBounds_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("row");
    QTest::newRow("at the minimum") << 0.0 << -1;
    QTest::newRow("just above the minimum") << 1.0 << Baseline - 1;
    QTest::newRow("at the maximum") << 100.0 << 25;
    QTest::newRow("at the top of the axis") << 105.0 << -1;
    QTest::newRow("above the top") << 150.0 << -1;
    QTest::newRow("below the minimum") << -3.0 << -1;
}

void TestCharts::plotBounds()
{
    QFETCH(double, value);
    QFETCH(int, row);
    DrawerArea area;
    area.resize(PlotSize);
    setManualRange(area, 0, 100);
    Chart* chart = unnamedChart(3);
    area.addChart(chart);
    chart->addSample(value);
    const QImage image = paint(&area);
    QCOMPARE(rowsIn(image, NewestX, Blue), row < 0 ? QList<int>{} : QList<int>{row});
    QCOMPARE(pixelsIn(image, image.rect(), Blue), row < 0 ? 0 : 1);
}

void TestCharts::dynamicRange_data()
{
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<int>("min");
    QTest::addColumn<int>("max");
    QTest::newRow("positive") << QList<double>{5, 250, 17} << 0 << 251;
    // At rest on the range's bottom, drawn just above the time axis.
    QTest::newRow("resting at zero") << QList<double>{0, 0, 40} << 0 << 41;
    QTest::newRow("negative") << QList<double>{-3, -40, -12} << -41 << 0;
    QTest::newRow("fractions truncate") << QList<double>{2.5, -0.5} << -1 << 3;
    QTest::newRow("no samples") << QList<double>{} << 0 << 0;
    // A flat curve gets a range around it, so its dots and the zero line show.
    QTest::newRow("flat at zero") << QList<double>{0, 0} << -1 << 1;
}

void TestCharts::dynamicRange()
{
    QFETCH(QList<double>, values);
    QFETCH(int, min);
    QFETCH(int, max);
    DrawerArea area;
    area.resize(PlotSize);
    area.setScrollState(0, 99, 99);
    Chart* chart = unnamedChart(3);
    area.addChart(chart);
    for (double value : values)
        chart->addSample(value);
    QSignalSpy changed(&area, &DrawerArea::scaleChanged);

    paint(&area);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).toInt(), min);
    QCOMPARE(changed.at(0).at(1).toInt(), max);
    QCOMPARE(area.minValue(), min);
    QCOMPARE(area.maxValue(), max);
    // The next paint uses the range and reports nothing new.
    const QImage image = paint(&area);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(pixelsIn(image, image.rect(), Blue), int(values.size()));
    // Without a sample the plot says so in words, in its middle.
    const QRect middle(110, Baseline / 2 - 10, 80, 25);
    if (values.isEmpty())
        QVERIFY(pixelsIn(image, middle, qRgb(255, 255, 255)) < middle.width() * middle.height());

    // With manual scaling the range stays where the spin boxes put it.
    area.doManualScaling();
    area.setMaxValue(1000);
    chart->addSample(5000);
    paint(&area);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(area.maxValue(), 1000);
}

void TestCharts::drawsNoDots_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("min");
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("chartWidth");
    QTest::newRow("empty range") << PlotSize << 50 << 50 << 100;
    QTest::newRow("narrow") << QSize(110, 140) << 0 << 100 << -10;
}

void TestCharts::drawsNoDots()
{
    QFETCH(QSize, size);
    QFETCH(int, min);
    QFETCH(int, max);
    QFETCH(int, chartWidth);
    DrawerArea area;
    area.resize(size);
    area.setName(QStringLiteral("Velocity"));
    setManualRange(area, min, max);
    area.setScrollState(0, 99, 99);
    Chart* chart = unnamedChart(3);
    area.addChart(chart);
    auto* named = new Chart(0, 13, QStringLiteral("target [rpm]"));
    named->setColor(Qt::red);
    area.addChart(named);
    for (int i = 0; i < 50; ++i) {
        chart->addSample(40 + i);
        named->addSample(50);
    }
    QSignalSpy width(&area, &DrawerArea::changedChartWidth);

    const QImage image = paint(&area);
    QCOMPARE(width.size(), 1);
    QCOMPARE(width.at(0).at(0).toInt(), chartWidth);
    QCOMPARE(pixelsIn(image, image.rect(), Blue), 0);
    // The name above the plot and the legend are drawn in any case.
    const QRect nameArea = QRect(100, 2, 40, 14) & image.rect();
    QVERIFY(pixelsIn(image, nameArea, qRgb(255, 255, 255)) < nameArea.width() * nameArea.height());
    if (min == max) {
        // No ticks, no scale labels, no zero line: left of the value axis and inside the
        // plot, all is white but the legend.
        const QRgb white = qRgb(255, 255, 255);
        QCOMPARE(pixelsIn(image, QRect(2, 17, 96, Baseline - 18), white), 96 * (Baseline - 18));
        QCOMPARE(pixelsIn(image, QRect(102, 21, 96, 20), white), 96 * 20);
    }
}

void TestCharts::panelScrolling()
{
    WDrawer panel;
    auto* scrollBar = panel.findChild<QScrollBar*>();
    panel.setBufferSize(10000);
    QCOMPARE(scrollBar->minimum(), 0);
    QCOMPARE(scrollBar->maximum(), 9999);
    QCOMPARE(scrollBar->value(), 9999);

    panel.addChart(0, 3, QString(), Qt::blue);
    Chart* chart = panel.charts().first();
    QCOMPARE(chart->capacity(), 10000);
    fill(chart, 10000);
    DrawerArea* area = panel.area();
    area->doManualScaling();
    area->setMaxValue(100);
    area->setMinValue(0);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    auto layOut = [&panel, area](int width) {
        panel.resize(width, 200);
        panel.layout()->activate();
        return area->width() - 120;
    };
    // The row of sample `index`'s dot, in the range 0..100.
    auto rowOf = [area](int index) {
        const float scale = float(area->height() - 40) / 100.0f;
        return QList<int>{int(float(area->height() - 15) - float(valueOf(index)) * scale)};
    };

    // At the maximum the newest sample is the rightmost dot; the paint moves the scroll
    // bar's minimum to the chart width.
    int chartWidth = layOut(900);
    QImage image = paint(area);
    QCOMPARE(rowsIn(image, chartWidth + 98, Blue), rowOf(9999));
    QCOMPARE(scrollBar->minimum(), chartWidth);

    // At the minimum the view ends at sample `chartWidth`, the oldest dot being sample 1.
    scrollBar->setValue(scrollBar->minimum());
    image = paint(area);
    QCOMPARE(rowsIn(image, chartWidth + 98, Blue), rowOf(chartWidth));
    QCOMPARE(rowsIn(image, 99, Blue), rowOf(1));

    // A wider area pushes the value up with the minimum, and the same paint shows it.
    chartWidth = layOut(1000);
    image = paint(area);
    QCOMPARE(scrollBar->value(), chartWidth);
    QCOMPARE(rowsIn(image, chartWidth + 98, Blue), rowOf(chartWidth));
}

void TestCharts::panelControls()
{
    WDrawer panel;
    panel.setName(QStringLiteral("Velocity"));
    panel.addChart(0, 3, QStringLiteral("actual [rpm]"), Qt::blue);
    panel.addChart(1, 3, QStringLiteral("other bank"), Qt::blue);
    panel.addChart(0, 13, QStringLiteral("target [rpm]"), Qt::red);
    QCOMPARE(panel.traceTypes(), QList<char>({3, 13}));
    QCOMPARE(panel.name(), QStringLiteral("Velocity"));
    DrawerArea* area = panel.area();
    QCOMPARE(area->interval(), 100);

    panel.startDrawing();
    QVERIFY(area->isDrawing());
    panel.stopDrawing();
    QVERIFY(!area->isDrawing());

    // Live values pass to the charts; the area's range shows in the spin boxes.
    for (int value : {5, 250})
        panel.requestedTraceValue(0, 3, value);
    panel.requestedTraceValue(0, 13, 17);
    panel.requestedTraceValue(0, 4, 9999);
    paint(area);
    auto* sbMin = child<QSpinBox>(&panel, "sbMin");
    auto* sbMax = child<QSpinBox>(&panel, "sbMax");
    QCOMPARE(sbMin->value(), 0);
    QCOMPARE(sbMax->value(), 251);
    QVERIFY(!sbMin->isEnabled() && !sbMax->isEnabled());

    // Manual scaling enables the range boxes, whose values reach the area.
    QTest::mouseClick(child<QRadioButton>(&panel, "btnScaleManually"), Qt::LeftButton);
    QVERIFY(sbMin->isEnabled() && sbMax->isEnabled());
    QVERIFY(!area->isScalingDynamic());
    QVERIFY(!child<QRadioButton>(&panel, "btnScaleDynamic")->isChecked());
    sbMax->setValue(300);
    sbMin->setValue(-100);
    QCOMPARE(area->maxValue(), 300);
    QCOMPARE(area->minValue(), -100);
    QTest::mouseClick(child<QRadioButton>(&panel, "btnScaleDynamic"), Qt::LeftButton);
    QVERIFY(!sbMin->isEnabled() && !sbMax->isEnabled());
    QVERIFY(area->isScalingDynamic());

    // The resolution reaches the area and repaints the shown panel at once.
    panel.resize(800, 200);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QSignalSpy painted(area, &DrawerArea::changedChartWidth);
    child<QSpinBox>(&panel, "sbResolution")->setValue(10);
    QCOMPARE(area->resolution(), 10);
    QCOMPARE(painted.size(), 1);

    // "Clear charts" empties the charts and keeps them, with their legend lines.
    QTest::mouseClick(child<QPushButton>(&panel, "btnClearCharts"), Qt::LeftButton);
    QCOMPARE(panel.charts().size(), 3);
    for (const Chart* chart : panel.charts())
        QCOMPARE(chart->sampleCount(), 0);
    const QImage image = paint(area);
    QVERIFY(pixelsIn(image, image.rect(), QColor(Qt::red).rgb()) > 0);
}

void TestCharts::removeChartDialog()
{
    WDrawer panel;
    panel.setName(QStringLiteral("Velocity"));
    panel.addChart(0, 3, QStringLiteral("actual [rpm]"), Qt::blue);
    panel.addChart(0, 13, QStringLiteral("target [rpm]"), Qt::red);
    panel.addChart(0, static_cast<char>(153), QStringLiteral("PWM"), Qt::green);
    Chart* actual = panel.charts().at(0);
    Chart* pwm = panel.charts().at(2);
    {
        StdoutCapture out;
        RemoveChartDialog dialog(&panel);
        QCOMPARE(out.text(), QByteArray("drawer yAxisCaption: Velocity\n"));
        auto* list = dialog.findChild<QComboBox*>();
        QStringList items;
        for (int i = 0; i < list->count(); ++i)
            items << list->itemText(i);
        QCOMPARE(items, QStringList({"actual [rpm] (type: 3)", "target [rpm] (type: 13)",
                                     "PWM (type: 153)"}));
        list->setCurrentIndex(1);
        dialog.remChart();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }
    QCOMPARE(panel.charts(), QList<Chart*>({actual, pwm}));
    // The trace types stay as they were.
    QCOMPARE(panel.traceTypes(), QList<char>({3, 13, static_cast<char>(153)}));

    WDrawer empty;
    StdoutCapture out;
    RemoveChartDialog dialog(&empty);
    QCOMPARE(dialog.findChild<QComboBox*>()->count(), 0);
    QTest::mouseClick(dialog.findChild<QPushButton*>(), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(empty.charts().isEmpty());
}

void TestCharts::createDialogs()
{
    CreateDrawerDialog drawer;
    auto* location = drawer.findChild<QComboBox*>();
    const QList<int> sides{4, 1, 2, 8};
    QCOMPARE(location->count(), 4);
    for (int i = 0; i < location->count(); ++i) {
        location->setCurrentIndex(i);
        QCOMPARE(drawer.location(), sides.at(i));
    }
    QCOMPARE(location->currentText(), QStringLiteral("Bottom"));
    location->setCurrentIndex(-1);
    QCOMPARE(drawer.location(), 0);
    drawer.findChild<QLineEdit*>()->setText(QStringLiteral("Torque"));
    QCOMPARE(drawer.name(), QStringLiteral("Torque"));

    CreateChartDialog chart;
    auto* color = chart.findChild<QComboBox*>();
    QCOMPARE(color->currentIndex(), 0);
    QCOMPARE(chart.color(), QColor(Qt::green));
    color->setCurrentIndex(4);
    QCOMPARE(chart.color(), QColor(Qt::gray));
    color->setCurrentIndex(-1);
    QCOMPARE(chart.color(), QColor(Qt::black));
    auto* type = chart.findChild<QSpinBox*>();
    QCOMPARE(type->maximum(), 99);
    type->setValue(13);
    QCOMPARE(chart.type(), 13);

    // "Ok" accepts, "Cancel" rejects.
    QList<QPushButton*> buttons = chart.findChildren<QPushButton*>();
    QCOMPARE(buttons.size(), 2);
    QVERIFY(buttons.at(0)->isDefault());
    QTest::mouseClick(buttons.at(0), Qt::LeftButton);
    QCOMPARE(chart.result(), int(QDialog::Accepted));
    QTest::mouseClick(buttons.at(1), Qt::LeftButton);
    QCOMPARE(chart.result(), int(QDialog::Rejected));
}

void TestCharts::centralPanelCharts()
{
    BLDC bldc;
    bldc.resize(800, 900);
    bldc.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bldc));
    auto* mainTabs = bldc.findChild<QTabWidget*>();
    int previousBottom = mainTabs->mapTo(&bldc, QPoint(0, mainTabs->height())).y();
    QStringList panels;
    for (WDrawer* drawer : bldc.drawers()) {
        QString text = drawer->name() + QLatin1Char(':');
        for (const Chart* chart : drawer->charts())
            text += QStringLiteral(" %1/%2 %3 %4 %5;")
                        .arg(int(chart->motorBank()))
                        .arg(static_cast<unsigned char>(chart->type()))
                        .arg(chart->name(), chart->color().name())
                        .arg(chart->capacity());
        panels << text;
        // Below the tabs, top to bottom.
        const int top = drawer->mapTo(&bldc, QPoint(0, 0)).y();
        QVERIFY(top >= previousBottom);
        previousBottom = top + drawer->height();
    }
    QCOMPARE(
        panels,
        QStringList({"Velocity: 0/3 actual [rpm] #0000ff 10000; 0/13 target [rpm] #ff0000 10000;",
                     "Position: 0/1 actual #0000ff 10000; 0/0 target #ff0000 10000;",
                     "Current/PWM: 0/153 PWM #00ff00 10000; 0/150 current #ff0000 10000;"}));

    // A polled current reaches the "Current/PWM" panel's current curve and nothing else; a
    // refused PWM reaches no curve.
    Poller* poller = bldc.findChild<WTraceController*>()->poller();
    PollSample sample;
    sample.command = 6;
    sample.type = 150;
    sample.value = 1234;
    sample.outcome = PollSample::Outcome::Ok;
    emit poller->sampled(sample);
    sample.type = 153;
    sample.outcome = PollSample::Outcome::Refused;
    emit poller->sampled(sample);
    for (WDrawer* drawer : bldc.drawers())
        for (const Chart* chart : drawer->charts())
            QCOMPARE(chart->samples(), chart->type() == static_cast<char>(150) ? QList<double>{1234}
                                                                               : QList<double>{});
}

void TestCharts::axisLabelsNeverTouch_data()
{
    QTest::addColumn<int>("height");
    QTest::newRow("60 px") << 60;
    QTest::newRow("100 px") << 100;
    QTest::newRow("160 px") << 160;
    QTest::newRow("300 px") << 300;
}

void TestCharts::axisLabelsNeverTouch()
{
    QFETCH(int, height);
    DrawerArea area;
    area.setMinimumSize(0, 0);
    area.resize(220, height);
    setManualRange(area, 0, 100);
    const QImage image = paint(&area);
    const QList<QPair<int, int>> runs = labelRuns(image);
    const int lineHeight = area.fontMetrics().height();
    // Each label stands alone, and the bottom one ("0") is always there.
    for (const auto& run : runs)
        QVERIFY2(run.second - run.first < lineHeight, qPrintable(QString::number(run.first)));
    QVERIFY(!runs.isEmpty());
    QVERIFY(qAbs(runs.last().second - (height - 15 + 5)) <= 2);
    if ((height - 40) / 10 > lineHeight) {
        // Where they fit, all eleven, as always.
        QCOMPARE(runs.size(), 11);
    } else {
        QVERIFY(runs.size() >= 2);
        QVERIFY(runs.size() < 11);
    }

    // Labels too long for their place ("-2.14748e+09") end before the value axis.
    setManualRange(area, -2147483647, 2147483647);
    const QImage wide = paint(&area);
    int ink = 0;
    for (int y = 2; y < height - 2; ++y)
        ink += qGray(wide.pixel(97, y)) < 160;
    QCOMPARE(ink, 0);
}

void TestCharts::pauseFreezesThePicture()
{
    WDrawer panel;
    panel.setBufferSize(1000);
    panel.addChart(0, 3, QStringLiteral("actual [rpm]"), Qt::blue);
    panel.addChart(0, 13, QStringLiteral("target [rpm]"), Qt::red);
    for (int i = 0; i < 300; ++i) {
        panel.requestedTraceValue(0, 3, int(valueOf(i)));
        panel.requestedTraceValue(0, 13, 50);
    }
    panel.resize(800, 200);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    DrawerArea* area = panel.area();
    paint(area);
    const QImage live = paint(area);
    QSignalSpy paused(&panel, &WDrawer::pausedChanged);

    auto* pauseButton = child<QToolButton>(&panel, "btnPauseChart");
    QTest::mouseClick(pauseButton, Qt::LeftButton);
    QVERIFY(panel.isPaused());
    QCOMPARE(paused.size(), 1);
    QVERIFY(panel.pauseAction()->isChecked());
    QCOMPARE(pauseButton->text(), QStringLiteral("Resume"));
    const QImage frozen = paint(area);
    // It says so.
    QVERIFY(frozen != live);
    QVERIFY(pixelsIn(frozen, QRect(area->width() - 80, 0, 80, 20), qRgb(176, 84, 0)) > 0);

    // New values, far outside the range, reach the buffer but not the picture.
    panel.startDrawing();
    for (int i = 0; i < 200; ++i) {
        panel.requestedTraceValue(0, 3, 5000 + i);
        panel.requestedTraceValue(0, 13, -5000);
    }
    QCOMPARE(panel.charts().first()->sampleCount(), 500);
    QCOMPARE(panel.charts().first()->samples().last(), 5199.0);
    QTest::qWait(250); // the repaint timer runs on
    QCOMPARE(paint(area), frozen);
    QCOMPARE(paint(area), frozen);
    QCOMPARE(child<QSpinBox>(&panel, "sbMax")->value(), 95);

    // On again: the newest values, at once.
    panel.pauseAction()->trigger();
    QVERIFY(!panel.isPaused());
    QCOMPARE(paused.size(), 2);
    QCOMPARE(pauseButton->text(), QStringLiteral("Pause"));
    paint(area);
    QCOMPARE(child<QSpinBox>(&panel, "sbMax")->value(), 5200);
    QCOMPARE(child<QSpinBox>(&panel, "sbMin")->value(), -5001);
    panel.stopDrawing();
}

void TestCharts::zoomAndPanWithTheMouse()
{
    WDrawer panel;
    panel.setBufferSize(1000);
    panel.addChart(0, 3, QString(), Qt::blue);
    fill(panel.charts().first(), 1000);
    panel.resize(800, 200);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    DrawerArea* area = panel.area();
    paint(area);
    const int chartWidth = area->width() - 120;
    const int x = 100 + chartWidth / 2;
    area->setCursorX(x);
    const QStringList before = area->cursorReadout();

    // The wheel zooms the time axis around the pointer: the sample there stays there.
    turnWheel(area, QPoint(x, 60), 120);
    QVERIFY(area->isTimeZoomed());
    QCOMPARE(area->samplesPerPixel(), 0.8);
    QCOMPARE(area->cursorReadout(), before);
    turnWheel(area, QPoint(x, 60), 240);
    turnWheel(area, QPoint(x, 60), -240);
    QVERIFY(qAbs(area->samplesPerPixel() - 0.8) < 1e-9);
    QVERIFY(area->rightOffset() > 0);
    QCOMPARE(area->cursorReadout(), before);
    // ...as far as there are newer samples: the newest stays at the right end.
    turnWheel(area, QPoint(x, 60), -240);
    QCOMPARE(area->rightOffset(), 0.0);

    // Dragging to the right shows older samples.
    const double offset = area->rightOffset();
    sendMouse(area, QEvent::MouseButtonPress, QPoint(x, 60), Qt::LeftButton);
    sendMouse(area, QEvent::MouseMove, QPoint(x + 40, 70), Qt::LeftButton);
    sendMouse(area, QEvent::MouseButtonRelease, QPoint(x + 40, 70), Qt::NoButton);
    QVERIFY(qAbs(area->rightOffset() - (offset + 40 * area->samplesPerPixel())) < 1e-9);

    // Ctrl+wheel zooms the value axis: a manual range, shown beside the chart.
    paint(area);
    QCOMPARE(area->minValue(), 0);
    QCOMPARE(area->maxValue(), 95);
    const int baseline = area->height() - 15;
    const int middle = baseline - (area->height() - 40) / 2;
    turnWheel(area, QPoint(x, middle), 240, Qt::ControlModifier);
    QVERIFY(area->isValueZoomed());
    QVERIFY(!area->isScalingDynamic());
    // Divisions of 9.5 become about 6, rounded to 5: round labels, the value under the
    // pointer (47.5) still in view near the middle.
    QCOMPARE(area->minValue(), 25);
    QCOMPARE(area->maxValue(), 75);
    turnWheel(area, QPoint(x, middle), -120, Qt::ControlModifier);
    QCOMPARE(area->maxValue() - area->minValue(), 100);
    turnWheel(area, QPoint(x, middle), 120, Qt::ControlModifier);
    QCOMPARE(area->maxValue() - area->minValue(), 50);
    // A drag down by ten units' height moves the zoomed range up by ten.
    const int low = area->minValue();
    const int pixels = qRound(10 * double(area->height() - 40) / 50);
    sendMouse(area, QEvent::MouseButtonPress, QPoint(x, middle), Qt::LeftButton);
    sendMouse(area, QEvent::MouseMove, QPoint(x, middle + pixels), Qt::LeftButton);
    sendMouse(area, QEvent::MouseButtonRelease, QPoint(x, middle + pixels), Qt::NoButton);
    QCOMPARE(area->minValue(), low + 10);
    QCOMPARE(area->maxValue(), low + 60);
    QCOMPARE(child<QSpinBox>(&panel, "sbMin")->value(), low + 10);
    QVERIFY(child<QRadioButton>(&panel, "btnScaleManually")->isChecked());
    QVERIFY(child<QSpinBox>(&panel, "sbMax")->isEnabled());
    QCOMPARE(child<QSpinBox>(&panel, "sbMax")->value(), area->maxValue());
    QCOMPARE(child<QSpinBox>(&panel, "sbMin")->value(), area->minValue());
    // Paused, the same works on the frozen picture.
    panel.setPaused(true);
    turnWheel(area, QPoint(x, 60), 240);
    QVERIFY(area->samplesPerPixel() < 1.0);

    // A double click brings the automatic view back: dynamic scaling, the newest at the
    // right, whatever the zoom.
    QTest::mouseDClick(area, Qt::LeftButton, {}, QPoint(x, 60));
    QVERIFY(!area->isTimeZoomed());
    QVERIFY(!area->isValueZoomed());
    QVERIFY(area->isScalingDynamic());
    QVERIFY(child<QRadioButton>(&panel, "btnScaleDynamic")->isChecked());
    QVERIFY(!child<QSpinBox>(&panel, "sbMax")->isEnabled());
    area->setCursorX(x);
    QCOMPARE(area->cursorReadout(), before);
}

void TestCharts::zoomedOutTraceKeepsEveryExtreme()
{
    // 2000 samples at 10 with one spike to 90 that every 20th sample would miss.
    DrawerArea area;
    Chart* chart = plainArea(area, 2000);
    for (int i = 0; i < 2000; ++i)
        chart->addSample(i == 1001 ? 90 : 10);
    area.setResolution(20);
    QImage image = paint(&area);
    QCOMPARE(pixelsIn(image, QRect(100, Baseline - 95, 100, 10), Blue), 0);

    // Zoomed out as far as it goes: all 2000 samples in 100 columns, each column showing
    // the smallest and the largest of its samples.
    area.zoomTime(1000, NewestX);
    QCOMPARE(area.samplesPerPixel(), 20.0);
    image = paint(&area);
    const int spikeColumn = NewestX - (2000 - 1 - 1001) / 20;
    QVERIFY(rowsIn(image, spikeColumn, Blue).contains(Baseline - 90));
    QVERIFY(rowsIn(image, spikeColumn, Blue).contains(Baseline - 10));
    // In that column only.
    const int spikeRows = pixelsIn(image, QRect(100, Baseline - 95, 100, 10), Blue);
    QCOMPARE(pixelsIn(image, QRect(spikeColumn, Baseline - 95, 1, 10), Blue), spikeRows);
    for (int column = 0; column < 100; ++column)
        QVERIFY2(rowsIn(image, NewestX - column, Blue).contains(Baseline - 10),
                 qPrintable(QString::number(column)));

    // Zoomed in, a line joins the samples: every column between two samples is drawn.
    area.zoomTime(1.0 / 200, NewestX);
    QVERIFY(area.samplesPerPixel() < 1);
    image = paint(&area);
    for (int x = NewestX - 60; x <= NewestX; ++x)
        QVERIFY2(!rowsIn(image, x, Blue).isEmpty(), qPrintable(QString::number(x)));
}

void TestCharts::cursorReadout()
{
    DrawerArea area;
    Chart* timed = plainArea(area, 100);
    auto* untimed = new Chart(0, 13, QStringLiteral("target [rpm]"));
    untimed->setColor(Qt::red);
    area.addChart(untimed);
    for (int i = 0; i < 50; ++i) {
        area.addValue(0, 3, i);
        untimed->addSample(1000 + i);
    }
    untimed->addSample(2000);
    area.setCursorX(NewestX);
    QStringList lines = area.cursorReadout();
    QCOMPARE(lines.size(), 3);
    QVERIFY2(
        QRegularExpression(QStringLiteral("^t = \\d+\\.\\d{3} s$")).match(lines.at(0)).hasMatch(),
        qPrintable(lines.at(0)));
    QCOMPARE(lines.at(1), QStringLiteral("curve 1: 49"));
    QCOMPARE(lines.at(2), QStringLiteral("target [rpm]: 2000"));
    // The time counts from the first sample.
    QCOMPARE(timed->time(0), area.timeOrigin());

    // Ten columns back; the chart of fewer samples has none there.
    area.setCursorX(NewestX - 49);
    QCOMPARE(area.cursorReadout().mid(1),
             QStringList({"curve 1: 0", QStringLiteral("target [rpm]: 1001")}));
    area.setCursorX(NewestX - 50);
    QCOMPARE(area.cursorReadout(), QStringList({"sample 0", QStringLiteral("curve 1: \u2013"),
                                                QStringLiteral("target [rpm]: 1000")}));

    // The line and the values are drawn, each value in its curve's colour.
    area.resize(600, 140);
    const int x = 600 - 22 - 10;
    area.setCursorX(x);
    const QImage image = paint(&area);
    QVERIFY(pixelsIn(image, QRect(100, 2, 500, 16), QColor(Qt::red).rgb()) > 0);
    QVERIFY(pixelsIn(image, QRect(100, 2, 500, 16), Blue) > 0);
    QVERIFY(pixelsIn(image, QRect(x, 22, 1, Baseline - 24), qRgb(80, 80, 80)) > 20);
    // Outside the plot, or after the pointer left, there is none.
    area.setCursorX(50);
    QVERIFY(area.cursorReadout().isEmpty());
    area.setCursorX(NewestX);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&area, &leave);
    QCOMPARE(area.cursorX(), -1);
}

void TestCharts::referenceBehindTheLiveCurves()
{
    WDrawer panel;
    panel.setBufferSize(100);
    panel.addChart(0, 3, QString(), Qt::blue);
    DrawerArea* area = panel.area();
    area->doManualScaling();
    area->setMinValue(0);
    area->setMaxValue(100);
    for (int i = 0; i < 100; ++i)
        panel.requestedTraceValue(0, 3, 50);
    auto* keep = child<QAction>(&panel, "actionKeepReference");
    auto* clear = child<QAction>(&panel, "actionClearReference");
    QVERIFY(!clear->isEnabled());
    // It says which module and run it came from; a switch to another module is marked.
    panel.moduleOpened(QStringLiteral("/dev/ttyUSB0"), 1);
    panel.startDrawing();
    keep->trigger();
    panel.stopDrawing();
    QVERIFY(area->hasReference());
    QVERIFY(clear->isEnabled());
    QCOMPARE(area->referenceSource(), QStringLiteral("address 1, run 1"));
    QVERIFY(area->moduleMarks().isEmpty());
    panel.moduleOpened(QStringLiteral("/dev/ttyUSB0"), 1);
    panel.moduleOpened(QStringLiteral("/dev/ttyUSB0"), 3);
    panel.moduleOpened(QStringLiteral("/dev/ttyUSB0"), 3);
    QCOMPARE(area->moduleMarks().size(), 1);
    QCOMPARE(area->moduleMarks().first().text, QStringLiteral("address 3"));

    // The next run: the kept one stays, dimmed, while the live curve moves on.
    panel.clearCharts();
    for (int i = 0; i < 100; ++i)
        panel.requestedTraceValue(0, 3, 20);
    const QRgb dimmed = ChartPainter::dimmed(Qt::blue).rgb();
    panel.resize(800, 200);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    const int column = area->width() - 22 - 10;
    const auto rowOf = [area](double value) {
        const float scale = float(area->height() - 40) / 100.0f;
        return QList<int>{int(float(area->height() - 15) - float(value) * scale)};
    };
    QImage image = paint(area);
    QCOMPARE(rowsIn(image, column, Blue), rowOf(20));
    QVERIFY(rowsIn(image, column, dimmed).contains(rowOf(50).first()));
    QCOMPARE(area->reference().front().sampleCount(), 100);

    // Kept while paused, the reference is the frozen picture.
    panel.setPaused(true);
    for (int i = 0; i < 100; ++i)
        panel.requestedTraceValue(0, 3, 70);
    keep->trigger();
    QCOMPARE(area->reference().front().samples().last(), 20.0);

    clear->trigger();
    QVERIFY(!area->hasReference());
    QVERIFY(!clear->isEnabled());
    image = paint(area);
    QCOMPARE(pixelsIn(image, QRect(100, rowOf(50).first() - 1, area->width() - 120, 3), dimmed), 0);
}

void TestCharts::samplesAsCsv()
{
    // A full ring (the oldest three samples gone) beside a shorter chart, lined up at the
    // newest sample; times count from the origin.
    Chart actual(0, 3, QStringLiteral("actual [rpm]"));
    actual.setCapacity(5);
    for (int i = 0; i < 8; ++i)
        actual.addSample(i * 10, 1000 + i * 20);
    Chart target(0, 13, QStringLiteral("target, \"set\""));
    target.setCapacity(5);
    for (int i = 0; i < 3; ++i)
        target.addSample(i + 0.5, 1100 + i * 20);
    QCOMPARE(ChartExport::samplesCsv({&actual, &target}, 1000),
             QStringLiteral("time_ms,actual [rpm],\"target, \"\"set\"\"\"\n"
                            "60,30,\n"
                            "80,40,\n"
                            "100,50,0.5\n"
                            "120,60,1.5\n"
                            "140,70,2.5\n"));

    // Samples without times are counted; large and fractional values are kept exactly.
    Chart plain(0, 1, QStringLiteral("actual"));
    for (double v : {-2147483648.0, 2147483647.0, 0.1f * 1.0})
        plain.addSample(v);
    QCOMPARE(ChartExport::samplesCsv({&plain, &target}, Chart::NoTime),
             QStringLiteral("sample,actual,\"target, \"\"set\"\"\"\n"
                            "0,-2147483648,0.5\n"
                            "1,2147483647,1.5\n"
                            "2,%1,2.5\n")
                 .arg(QString::number(double(0.1f), 'g', QLocale::FloatingPointShortest)));
    QCOMPARE(ChartExport::samplesCsv({}, 0), QStringLiteral("time_ms\n"));
}

void TestCharts::savedFiles()
{
    QTemporaryDir dir;
    WDrawer panel;
    panel.setName(QStringLiteral("Current/PWM"));
    panel.setBufferSize(10000);
    panel.addChart(0, static_cast<char>(153), QStringLiteral("PWM"), Qt::green);
    panel.addChart(0, static_cast<char>(150), QStringLiteral("current"), Qt::red);
    for (int i = 0; i < 10050; ++i) {
        panel.requestedTraceValue(0, static_cast<char>(153), i);
        panel.requestedTraceValue(0, static_cast<char>(150), -i);
    }
    panel.resize(700, 160);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));

    // The samples the buffer holds, no more, no fewer.
    const QString csv = dir.filePath(QStringLiteral("samples.csv"));
    QVERIFY(panel.saveSamples(csv));
    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 1 + 10000 + 1);
    QCOMPARE(lines.first(), QStringLiteral("time_ms,PWM,current"));
    QVERIFY(lines.at(1).endsWith(QStringLiteral(",50,-50")));
    QVERIFY(lines.at(10000).endsWith(QStringLiteral(",10049,-10049")));
    QVERIFY(lines.last().isEmpty());

    // The picture: the chart without the controls beside it, at its size or twice that.
    const QString png = dir.filePath(QStringLiteral("panel.png"));
    QVERIFY(panel.savePicture(png, 1));
    QCOMPARE(QImage(png).size(), panel.area()->size());
    QVERIFY(panel.savePicture(png, 2));
    QCOMPARE(QImage(png).size(), panel.area()->size() * 2);
    QCOMPARE(ChartExport::defaultBaseName(panel.name()).left(12), QStringLiteral("Current-PWM_"));

    // A file that cannot be written says why, and leaves nothing behind.
    QString error;
    QVERIFY(!panel.saveSamples(dir.filePath(QStringLiteral("no/such/samples.csv")), &error));
    QVERIFY(!error.isEmpty());
    error.clear();
    QVERIFY(!panel.savePicture(dir.filePath(QStringLiteral("no/such/panel.png")), 1, &error));
    QVERIFY(!error.isEmpty());
}

void TestCharts::contextMenuAndButtons()
{
    WDrawer panel;
    DrawerArea* area = panel.area();
    QCOMPARE(area->contextMenuPolicy(), Qt::ActionsContextMenu);
    QStringList texts;
    for (const QAction* action : area->actions()) {
        if (action->isSeparator())
            continue;
        texts << action->text();
        // Every one says what it does.
        QVERIFY(action->toolTip().size() > action->text().size() + 10);
    }
    QCOMPARE(texts,
             QStringList({"Pause", "Keep as reference", "Clear reference", "Save picture…",
                          "Save picture at double size…", "Save samples…", "Automatic view"}));
    QCOMPARE(child<QToolButton>(&panel, "btnPauseChart")->defaultAction()->text(),
             QStringLiteral("Pause"));
    auto* picture = child<QToolButton>(&panel, "btnSavePicture");
    QCOMPARE(picture->defaultAction()->text(), QStringLiteral("Save picture…"));
    QCOMPARE(picture->menu()->actions().size(), 2);
}

QTEST_MAIN(TestCharts)

#include "test_charts.moc"

#include "BLDC.h"
#include "Chart.h"
#include "CreateChartDialog.h"
#include "CreateDrawerDialog.h"
#include "DrawerArea.h"
#include "PanelProbe.h"
#include "RemoveChartDialog.h"
#include "SerialUSBCommandHandler.h"
#include "StdoutCapture.h"
#include "WDrawer.h"

#include <QComboBox>
#include <QImage>
#include <QLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
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
    QTest::newRow("negative") << QList<double>{-3, -40, -12} << -41 << 0;
    QTest::newRow("fractions truncate") << QList<double>{2.5, -0.5} << -1 << 3;
    QTest::newRow("no samples") << QList<double>{} << 0 << 0;
    QTest::newRow("all zero") << QList<double>{0, 0} << 0 << 0;
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
    if (min == max)
        QCOMPARE(pixelsIn(image, image.rect(), Blue), 0);
    else
        QCOMPARE(pixelsIn(image, image.rect(), Blue), int(values.size()));

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

    // A polled current reaches the "Current/PWM" panel's current curve and nothing else.
    emit bldc.handler()->requestedTraceValue(0, static_cast<char>(150), 1234);
    for (WDrawer* drawer : bldc.drawers())
        for (const Chart* chart : drawer->charts())
            QCOMPARE(chart->samples(), chart->type() == static_cast<char>(150) ? QList<double>{1234}
                                                                               : QList<double>{});
}

QTEST_MAIN(TestCharts)

#include "test_charts.moc"

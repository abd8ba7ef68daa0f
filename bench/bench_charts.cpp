// Cost of the live charts: painting one chart panel and taking one live value.
//
//   bench_charts [paints]
//
// Paint: one chart panel 800 pixels wide (area, scroll bar and graph controller) with two
// charts of 10000 samples each, as the app's panels hold them after a few minutes of
// polling, at resolution 1 (one dot per sample, the chart width in dots) and 100 (every
// 100th sample, the whole buffer walked). Times per paint into an image, median and 99th
// percentile; the panel's area alone is given beside the whole panel, and last an area
// that is itself 800 pixels wide (chart width 680), the most dots a paint draws here.
//
// Then the same panel and area as an instrument: a reference copy of both curves behind
// them and the cursor readout shown, in the plain view, zoomed out to the whole buffer
// (10000 samples on the chart width: one bar from the smallest to the largest sample a
// pixel column) and zoomed in to 4 pixels a sample; each against the plain paint of the
// same run (goal: at most twice that, and never above 4 ms for the 800 px area).
//
// addValue: one live value into a chart whose buffer is full, at capacities 1000, 10000
// and 100000: the time per value stays the same, as a full buffer overwrites its oldest
// sample instead of shifting the others.

#include "trace/Chart.h"
#include "trace/DrawerArea.h"
#include "trace/WDrawer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

struct Timing
{
    double median;
    double p99;
};

Timing timePaints(QWidget* widget, int paints)
{
    QImage image(widget->size(), QImage::Format_ARGB32_Premultiplied);
    for (int i = 0; i < 5; ++i)
        widget->render(&image);
    std::vector<double> millis;
    millis.reserve(static_cast<size_t>(paints));
    for (int i = 0; i < paints; ++i) {
        QElapsedTimer timer;
        timer.start();
        widget->render(&image);
        millis.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(millis.begin(), millis.end());
    return {millis[millis.size() / 2],
            millis[std::min(millis.size() - 1, millis.size() * 99 / 100)]};
}

void benchPaint(int paints)
{
    WDrawer panel;
    panel.setBufferSize(10000);
    panel.setName(QStringLiteral("Velocity"));
    panel.addChart(0, 3, QStringLiteral("actual [rpm]"), Qt::blue);
    panel.addChart(0, 13, QStringLiteral("target [rpm]"), Qt::red);
    for (int i = 0; i < 10000; ++i) {
        panel.requestedTraceValue(0, 3, int(2000 * std::sin(i / 300.0) + 40 * std::sin(i)));
        panel.requestedTraceValue(0, 13, int(2000 * std::sin(i / 300.0)));
    }
    panel.resize(800, 200);
    panel.show();
    QApplication::processEvents();

    Timing plainPanel{};
    for (int resolution : {1, 100}) {
        panel.handleChangedResolution(resolution);
        const Timing whole = timePaints(&panel, paints);
        if (resolution == 1)
            plainPanel = whole;
        const Timing area = timePaints(panel.area(), paints);
        std::printf("paint, 800 px panel (chart width %d), 2 x 10000 samples, resolution %3d: "
                    "panel median %.3f ms (p99 %.3f ms), its area alone median %.3f ms "
                    "(p99 %.3f ms)\n",
                    panel.area()->width() - 120, resolution, whole.median, whole.p99, area.median,
                    area.p99);
    }

    // The same charts in an area 800 pixels wide.
    DrawerArea wide;
    wide.setBufferSize(10000);
    wide.setScrollState(680, 9999, 9999);
    for (const Chart* chart : panel.charts()) {
        auto* copy = new Chart(chart->motorBank(), chart->type(), chart->name());
        copy->setColor(chart->color());
        wide.addChart(copy);
        for (int i = 0; i < chart->sampleCount(); ++i)
            copy->addSample(chart->sample(i));
    }
    wide.resize(800, 200);
    Timing plainWide{};
    for (int resolution : {1, 100}) {
        wide.setResolution(resolution);
        const Timing area = timePaints(&wide, paints);
        if (resolution == 1)
            plainWide = area;
        std::printf("paint, 800 px area (chart width %d), 2 x 10000 samples, resolution %3d: "
                    "median %.3f ms (p99 %.3f ms)\n",
                    wide.width() - 120, resolution, area.median, area.p99);
    }

    // The instrument: the reference and the cursor in view, plain, zoomed out, zoomed in.
    panel.handleChangedResolution(1);
    wide.setResolution(1);
    for (DrawerArea* area : {panel.area(), &wide}) {
        area->keepReference();
        area->setCursorX(100 + (area->width() - 120) / 2);
    }
    struct View
    {
        const char* name;
        double zoom;
    };
    for (const View& view :
         {View{"plain view", 0}, View{"zoomed out", 1e6}, View{"zoomed in", 0.25}}) {
        for (DrawerArea* area : {panel.area(), &wide}) {
            area->resetView();
            if (view.zoom > 0)
                area->zoomTime(view.zoom, 100 + (area->width() - 120) - 2);
        }
        const Timing whole = timePaints(&panel, paints);
        const Timing area = timePaints(&wide, paints);
        std::printf("paint with reference and cursor, %-10s (%.2f samples a pixel): 800 px panel "
                    "median %.3f ms (p99 %.3f ms, %.2f x plain), 800 px area median %.3f ms "
                    "(p99 %.3f ms, %.2f x plain)\n",
                    view.name, wide.isTimeZoomed() ? wide.samplesPerPixel() : 1.0, whole.median,
                    whole.p99, whole.median / plainPanel.median, area.median, area.p99,
                    area.median / plainWide.median);
    }
}

void benchAddValue()
{
    constexpr int Values = 2000000;
    for (int capacity : {1000, 10000, 100000}) {
        DrawerArea area;
        area.setBufferSize(capacity);
        auto* chart = new Chart(0, 3, QStringLiteral("actual [rpm]"));
        area.addChart(chart);
        for (int i = 0; i < capacity; ++i)
            area.addValue(0, 3, i);
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < Values; ++i)
            area.addValue(0, 3, i);
        const double nanos = double(timer.nsecsElapsed()) / Values;
        std::printf("addValue into a full buffer of %6d samples: %.1f ns per value "
                    "(newest %.0f, %d kept)\n",
                    capacity, nanos, chart->sample(chart->sampleCount() - 1), chart->sampleCount());
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int paints = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
    benchPaint(paints);
    benchAddValue();
    return 0;
}

#include "trace/ChartPainter.h"

#include "trace/Chart.h"

#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace PlotLayout;

namespace {

// Samples lie this far apart, in pixels, before each is marked on a zoomed trace.
constexpr double MarkedSampleSpacing = 5.0;

} // namespace

using ChartPainter::pixel;

PlotGeometry::PlotGeometry(int width, int height, int minimum_, int maximum)
    : chartWidth(width - AxisX - RightMargin), plotHeight(height - TopMargin - BottomMargin),
      baseline(height - BottomMargin), minimum(minimum_)
{
    // The difference is taken in 64 bits, as the range may span the whole int range.
    step = static_cast<float>(static_cast<qint64>(maximum) - minimum) / float(Divisions);
    scale = float(plotHeight) / (float(Divisions) * step);
    scaled = std::isfinite(scale);
}

int RangeTracker::rangeEnd(float value)
{
    constexpr double Limit = 2147483647.0;
    return static_cast<int>(std::clamp(static_cast<double>(value), -Limit, Limit));
}

namespace ChartPainter {

int pixel(float position)
{
    constexpr float FarOff = 1.0e6f;
    return static_cast<int>(std::clamp(position, -FarOff, FarOff));
}

void drawDots(QPainter& painter, const PlotGeometry& plot, const Chart& chart, const QColor& color,
              int offset, int resolution, RangeTracker& range, QVector<QRectF>& scratch,
              bool smooth)
{
    int i = chart.sampleCount() - 1 - offset;
    if (i < 0)
        return;
    scratch.clear();
    int sinceDot = 0;
    int drawn = 0;
    for (;;) {
        const float v = static_cast<float>(chart.sample(i));
        ++sinceDot;
        range.visit(v);
        if (sinceDot == resolution) {
            if (drawn >= plot.chartWidth)
                break;
            if (plot.scaled) {
                const float y = plot.yOf(v);
                // A sample without a number (a float format's NaN) has no place.
                if (!std::isnan(y)) {
                    int dotY = pixel(y);
                    // Dynamic scaling keeps 0 in the range, so a motor at rest lies on the
                    // time axis: such a dot is drawn just above it rather than hidden in it.
                    if (range.dynamic && dotY == plot.baseline && v == float(plot.minimum))
                        dotY = plot.baseline - 1;
                    if (AxisTop < dotY && dotY < plot.baseline)
                        scratch.append(QRectF(plot.newestX() - drawn, dotY, 1, 1));
                }
            }
            ++drawn;
            sinceDot = 0;
        }
        if (--i < 0)
            break;
    }
    if (smooth) {
        painter.setPen(color);
        painter.drawRects(scratch);
        return;
    }
    QVector<QRect> pixels;
    pixels.reserve(scratch.size());
    for (const QRectF& dot : std::as_const(scratch))
        pixels.append(dot.toRect());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawRects(pixels);
    painter.restore();
}

void drawTrace(QPainter& painter, const PlotGeometry& plot, const Chart& chart, const QColor& color,
               double rightOffset, double samplesPerPixel, RangeTracker& range,
               QVector<QRectF>& scratch)
{
    const int count = chart.sampleCount();
    if (count == 0 || plot.chartWidth <= 0 || samplesPerPixel <= 0)
        return;
    // Samples are counted back from the newest: back = 0 is the newest sample.
    const auto value = [&chart, count](int back) {
        return static_cast<float>(chart.sample(count - 1 - back));
    };
    const int newestX = plot.newestX();
    const double viewEnd = rightOffset + plot.chartWidth * samplesPerPixel;
    painter.save();
    // The columns the dot plot uses: from the newest one back as far as the chart is wide.
    painter.setClipRect(QRect(newestX - plot.chartWidth + 1, AxisTop + 1, plot.chartWidth,
                              plot.baseline - AxisTop - 1));
    scratch.clear();

    if (samplesPerPixel >= 1.0) {
        // One bar a column, from the smallest to the largest of its samples: whole pixels,
        // filled without smoothing.
        QVector<QRect> bars;
        bars.reserve(plot.chartWidth);
        const float top = AxisTop;
        const float bottom = plot.baseline;
        for (int column = 0; column < plot.chartWidth; ++column) {
            const double start = rightOffset + column * samplesPerPixel;
            const int first = std::max(0, int(std::ceil(start)));
            const int last = std::min(count - 1, int(std::ceil(start + samplesPerPixel)) - 1);
            if (first > count - 1)
                break;
            float low = std::numeric_limits<float>::infinity();
            float high = -low;
            for (int back = first; back <= last; ++back) {
                const float v = value(back);
                range.visit(v);
                if (std::isnan(v))
                    continue;
                low = std::min(low, v);
                high = std::max(high, v);
            }
            if (!plot.scaled || low > high)
                continue;
            // Joined to the newer sample next to it, so a steep edge shows as one line.
            if (column > 0 && first > 0) {
                const float joined = value(first - 1);
                if (!std::isnan(joined)) {
                    low = std::min(low, joined);
                    high = std::max(high, joined);
                }
            }
            const float yTop = std::clamp(plot.yOf(high), top - 1, bottom + 1);
            const float yBottom = std::clamp(plot.yOf(low), top - 1, bottom + 1);
            const int y = static_cast<int>(std::floor(yTop));
            bars.append(
                QRect(newestX - column, y, 1, static_cast<int>(std::floor(yBottom)) - y + 1));
        }
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawRects(bars);
    } else {
        // A line through the samples, and one sample beyond each end so it leaves the view.
        const int first = std::max(0, int(std::floor(rightOffset)) - 1);
        const int last = std::min(count - 1, int(std::ceil(viewEnd)) + 1);
        const bool marked = 1.0 / samplesPerPixel >= MarkedSampleSpacing;
        painter.setPen(QPen(color, 1));
        QPolygonF line;
        const auto flush = [&painter, &line] {
            if (line.size() > 1)
                painter.drawPolyline(line);
            line.clear();
        };
        for (int back = first; back <= last && plot.scaled; ++back) {
            const float v = value(back);
            if (back >= rightOffset && back <= viewEnd)
                range.visit(v);
            if (std::isnan(v)) {
                flush();
                continue;
            }
            const double x = newestX + 0.5 - (back - rightOffset) / samplesPerPixel;
            // Through the middle of the pixels, as the dots sit in them.
            const double y = std::clamp(double(plot.yOf(v)), -1.0e6, 1.0e6) + 0.5;
            line << QPointF(x, y);
            if (marked)
                scratch.append(QRectF(x - 1.5, y - 1.5, 3, 3));
        }
        flush();
        if (!scratch.isEmpty()) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(color);
            painter.drawRects(scratch);
        }
        // Samples out of the line's reach still count for the range.
        if (!plot.scaled)
            for (int back = std::max(0, int(std::ceil(rightOffset)));
                 back <= std::min(count - 1, int(std::floor(viewEnd))); ++back)
                range.visit(value(back));
    }
    painter.restore();
}

int labelStride(int plotHeight, int lineHeight)
{
    const float spacing = float(plotHeight) / float(Divisions);
    int stride = 1;
    while (stride < 16 && stride * spacing < float(lineHeight + 1))
        stride *= 2;
    return stride;
}

QColor dimmed(const QColor& color)
{
    const auto fade = [](int channel) { return channel + (255 - channel) / 2; };
    const QColor rgb = color.toRgb();
    return QColor(fade(rgb.red()), fade(rgb.green()), fade(rgb.blue()));
}

} // namespace ChartPainter

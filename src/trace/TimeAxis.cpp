#include "trace/TimeAxis.h"

#include "trace/Chart.h"
#include "trace/ChartPainter.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace PlotLayout;

namespace {

// The labels' font size in pixels: they fit the 15 pixels below the time axis.
constexpr int LabelPixelSize = 10;
constexpr int TickLength = 3;
// At least this much room between two labels.
constexpr int LabelGap = 12;
const QColor MarkColor(90, 50, 170);

qint64 floorDiv(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

} // namespace

namespace TimeAxis {

qint64 labelStep(double least)
{
    qint64 power = 1;
    for (;;) {
        for (qint64 factor : {1, 2, 5})
            if (double(factor * power) >= least)
                return factor * power;
        if (power > qint64(1) << 50)
            return power;
        power *= 10;
    }
}

QString labelText(qint64 time, qint64 origin, qint64 step)
{
    int decimals = 0;
    for (qint64 unit = 1000; unit > step && decimals < 3; unit /= 10)
        ++decimals;
    return QStringLiteral("%1 s").arg(double(time - origin) / 1000.0, 0, 'f', decimals);
}

void paint(QPainter& painter, const PlotGeometry& plot, int widgetWidth, const ColumnTime& timeAt,
           qint64 origin, const QList<Mark>& marks)
{
    const int width = plot.chartWidth;
    if (width <= 1)
        return;
    std::vector<qint64> times(static_cast<size_t>(width));
    int newest = -1;
    int oldest = -1;
    for (int column = 0; column < width; ++column) {
        const qint64 time = timeAt(column);
        times[size_t(column)] = time;
        if (time == Chart::NoTime)
            continue;
        if (newest < 0)
            newest = column;
        oldest = column;
    }
    if (newest < 0)
        return;
    const auto xOf = [&plot](int column) { return plot.newestX() - column; };

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);

    // A switch of module: where the samples pass its moment, if that lies in view.
    for (const Mark& mark : marks) {
        bool before = false;
        for (int column = oldest; column >= newest; --column) {
            const qint64 time = times[size_t(column)];
            if (time == Chart::NoTime)
                continue;
            if (time < mark.time) {
                before = true;
                continue;
            }
            if (!before)
                break;
            const int x = xOf(column);
            painter.setPen(QPen(MarkColor, 1, Qt::DashLine));
            painter.drawLine(x, AxisTop + 1, x, plot.baseline - 1);
            const QFontMetrics metrics = painter.fontMetrics();
            const int textWidth = metrics.horizontalAdvance(mark.text);
            const int textX =
                x + 3 + textWidth <= widgetWidth - RightMargin ? x + 3 : x - 3 - textWidth;
            // On a pale ground, readable where it crosses a curve.
            painter.fillRect(QRect(textX - 1, AxisTop + 2, textWidth + 2, metrics.height()),
                             QColor(255, 255, 255, 200));
            painter.setPen(MarkColor);
            painter.drawText(textX, AxisTop + 2 + metrics.ascent(), mark.text);
            break;
        }
    }

    const qint64 span = times[size_t(newest)] - times[size_t(oldest)];
    if (oldest > newest && span > 0) {
        QFont small = painter.font();
        small.setPixelSize(LabelPixelSize);
        painter.setFont(small);
        const QFontMetrics metrics(small);
        const double msPerPixel = double(span) / double(oldest - newest);
        const int widest = metrics.horizontalAdvance(QStringLiteral("0000.00 s"));
        const qint64 step = labelStep(std::max(1.0, msPerPixel * (widest + LabelGap)));
        // Below the ticks, but not past the widget's bottom edge.
        const int textY = std::min(plot.baseline + 1 + metrics.ascent(),
                                   plot.baseline + BottomMargin - metrics.descent());
        painter.setPen(Qt::black);
        bool started = false;
        qint64 previous = 0;
        int lastRight = -1000000;
        // From the oldest column on: a label where the time passes a multiple of the step.
        for (int column = oldest; column >= newest; --column) {
            const qint64 time = times[size_t(column)];
            if (time == Chart::NoTime)
                continue;
            const qint64 bucket = floorDiv(time - origin, step);
            if (started && bucket > previous) {
                const int x = xOf(column);
                const QString text = labelText(origin + bucket * step, origin, step);
                const int textWidth = metrics.horizontalAdvance(text);
                const int left = std::clamp(x - textWidth / 2, AxisX - textWidth / 2,
                                            widgetWidth - 2 - textWidth);
                if (left >= lastRight + LabelGap / 2) {
                    // The tick stands on the axis, inside the plot, clear of its label.
                    painter.drawLine(x, plot.baseline - TickLength, x, plot.baseline);
                    painter.drawText(left, textY, text);
                    lastRight = left + textWidth;
                }
            }
            started = true;
            previous = bucket;
        }
    }
    painter.restore();
}

} // namespace TimeAxis

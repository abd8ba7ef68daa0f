#pragma once

#include <QColor>
#include <QRectF>
#include <QVector>

class Chart;
class QPainter;

// Layout of a chart area's plot, in pixels: the value axis stands at x = 100 and runs up to
// y = 20; the time axis lies 15 pixels above the bottom edge and ends 20 pixels before the
// right edge; the top of the value range is 25 pixels below the top edge; the newest dot is
// 2 pixels left of the time axis's end.
namespace PlotLayout {
constexpr int AxisX = 100;
constexpr int AxisTop = 20;
constexpr int RightMargin = 20;
constexpr int BottomMargin = 15;
constexpr int TopMargin = 25;
constexpr int LabelX = 20;
constexpr int Divisions = 10;
constexpr int LegendLineHeight = 20;
constexpr int LegendCharWidth = 5;
} // namespace PlotLayout

// Where one paint of a chart area puts things: the size of the plot and the value range.
struct PlotGeometry
{
    PlotGeometry(int width, int height, int minimum, int maximum);

    int chartWidth;
    int plotHeight;
    int baseline;
    int minimum;
    // Value units per division, and pixels per unit of value. With an empty range there is
    // no scale (not finite), and nothing that needs one is drawn.
    float step;
    float scale;
    bool scaled;

    // The column of the newest sample in view.
    int newestX() const { return PlotLayout::AxisX + chartWidth - 2; }
    float yOf(double value) const { return baseline - (float(value) - minimum) * scale; }
    // The value at row y.
    double valueAt(double y) const { return minimum + (baseline - y) / scale; }
};

// The range that the samples a paint visits call for: 0 always, one above the largest
// value and one below the smallest (truncated), -1..1 when they are all 0. With manual
// scaling it stays as it was.
struct RangeTracker
{
    bool dynamic;
    int minimum;
    int maximum;
    // How many samples were visited.
    int visited = 0;

    void visit(float value)
    {
        ++visited;
        if (!dynamic)
            return;
        if (value > maximum)
            maximum = rangeEnd(value + 1);
        if (value < minimum)
            minimum = rangeEnd(value - 1);
    }

    // After the walks: a dynamic range that visited samples but has no width (every one of
    // them 0) is widened to -1..1, so the flat curve and the zero line are drawn.
    void widenFlat()
    {
        if (dynamic && visited > 0 && minimum == maximum) {
            minimum = -1;
            maximum = 1;
        }
    }

    // A range end taken from a sample, truncated toward zero and kept within what the
    // range spin boxes can show.
    static int rangeEnd(float value);
};

// The walks that draw a chart's samples. Both visit only the samples in view, however
// large the buffer.
namespace ChartPainter {

// A computed position becomes a pixel by truncation toward zero. Positions far outside the
// widget (a manual range far from the samples, or a huge float sample) are first pinned to
// a line far off, so the conversion cannot overflow; nothing visible changes.
int pixel(float position);

// The dot plot: counted back from the sample `offset` places before the newest, one dot
// for every `resolution`-th sample, the first at the newest column and each further one a
// pixel to the left, as far as the chart is wide. Dots on or beyond the plot's edges are
// left out, but for a sample at the bottom of a dynamic range, drawn just above the axis. With
// `smooth` false each dot fills its pixel exactly, without antialiasing.
void drawDots(QPainter& painter, const PlotGeometry& plot, const Chart& chart, const QColor& color,
              int offset, int resolution, RangeTracker& range, QVector<QRectF>& scratch,
              bool smooth = true);

// The trace of a zoomed time axis: `rightOffset` samples back from the newest stand at the
// newest column, and `samplesPerPixel` samples make one pixel. With more samples than
// pixels each column shows the span from the smallest to the largest of its samples (one
// bar a column, joined to the column before); with fewer, a line joins the samples, each
// marked once they lie far enough apart. Clipped to the plot.
void drawTrace(QPainter& painter, const PlotGeometry& plot, const Chart& chart, const QColor& color,
               double rightOffset, double samplesPerPixel, RangeTracker& range,
               QVector<QRectF>& scratch);

// Every how many scale labels one is drawn, so that none touches the next: 1 where all
// eleven fit, else 2, 4, 8 or 16.
int labelStride(int plotHeight, int lineHeight);

// The colour of a reference curve: the chart's colour faded towards white.
QColor dimmed(const QColor& color);

} // namespace ChartPainter

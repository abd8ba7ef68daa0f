#include "trace/DrawerArea.h"

#include "trace/Chart.h"

#include <QPainter>
#include <QRectF>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Layout of the plot, in pixels: the value axis stands at x = 100 and runs up to y = 20;
// the time axis lies 15 pixels above the bottom edge and ends 20 pixels before the right
// edge; the top of the value range is 25 pixels below the top edge; the newest dot is 2
// pixels left of the time axis's end.
constexpr int AxisX = 100;
constexpr int AxisTop = 20;
constexpr int RightMargin = 20;
constexpr int BottomMargin = 15;
constexpr int TopMargin = 25;
constexpr int LabelX = 20;
constexpr int Divisions = 10;
constexpr int LegendLineHeight = 20;
constexpr int LegendCharWidth = 5;

// A computed position becomes a pixel by truncation toward zero. Positions far outside
// the widget (a manual range far from the samples, or a huge float sample) are first
// pinned to a line far off, so the conversion cannot overflow; nothing visible changes.
int pixel(float position)
{
    constexpr float FarOff = 1.0e6f;
    return static_cast<int>(std::clamp(position, -FarOff, FarOff));
}

// A range end taken from a sample, truncated toward zero and kept within what the range
// spin boxes can show.
int rangeEnd(float value)
{
    constexpr double Limit = 2147483647.0;
    return static_cast<int>(std::clamp(static_cast<double>(value), -Limit, Limit));
}

// The value as a chart of this format reads it.
double convertValue(int valueFormat, int value)
{
    if (valueFormat != Chart::FloatFormat)
        return value;
    float single;
    static_assert(sizeof single == sizeof value, "a value carries 32 bits");
    std::memcpy(&single, &value, sizeof single);
    return single;
}

} // namespace

DrawerArea::DrawerArea(QWidget* parent) : QWidget(parent)
{
    setMinimumSize(100, 100);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    connect(&m_timer, &QTimer::timeout, this, qOverload<>(&QWidget::repaint));
    m_timer.setInterval(m_interval);
}

DrawerArea::DrawerArea(int interval, QWidget* parent) : QWidget(parent)
{
    setMinimumSize(100, 100);
    connect(&m_timer, &QTimer::timeout, this, qOverload<>(&QWidget::repaint));
    setInterval(interval);
}

DrawerArea::~DrawerArea()
{
    qDeleteAll(m_charts);
}

void DrawerArea::setInterval(int ms)
{
    m_interval = ms;
    m_timer.setInterval(ms);
}

void DrawerArea::setScrollState(int minimum, int maximum, int value)
{
    m_scrollMinimum = minimum;
    m_scrollMaximum = maximum;
    m_scrollValue = value;
}

void DrawerArea::setResolution(int resolution)
{
    if (resolution < 1)
        return;
    m_resolution = resolution;
}

void DrawerArea::addChart(Chart* chart)
{
    chart->setCapacity(m_bufferSize);
    m_charts.append(chart);
}

void DrawerArea::removeChart(char motorBank, char type)
{
    for (int i = m_charts.size() - 1; i >= 0; --i) {
        Chart* chart = m_charts.at(i);
        if (chart->motorBank() == motorBank && chart->type() == type) {
            m_charts.removeAt(i);
            delete chart;
        }
    }
}

void DrawerArea::addValue(char motorBank, char type, int value)
{
    for (Chart* chart : std::as_const(m_charts))
        if (chart->type() == type && chart->motorBank() == motorBank)
            chart->addSample(convertValue(chart->valueFormat(), value));
}

void DrawerArea::startDrawer()
{
    m_timer.start(m_interval);
}

void DrawerArea::stopDrawer()
{
    m_timer.stop();
}

void DrawerArea::clearValues()
{
    for (Chart* chart : std::as_const(m_charts))
        chart->clearSamples();
}

void DrawerArea::doManualScaling()
{
    m_dynamicScaling = false;
}

void DrawerArea::doDynamicScaling()
{
    m_dynamicScaling = true;
}

void DrawerArea::setMaxValue(int max)
{
    m_maximum = max;
}

void DrawerArea::setMinValue(int min)
{
    m_minimum = min;
}

void DrawerArea::paintEvent(QPaintEvent*)
{
    const int w = width();
    const int h = height();
    // Value units per division; the difference is taken in 64 bits, as the range may span
    // the whole int range.
    const float step =
        static_cast<float>(static_cast<qint64>(m_maximum) - m_minimum) / float(Divisions);
    const int chartWidth = w - AxisX - RightMargin;
    emit changedChartWidth(chartWidth);
    const int plotHeight = h - TopMargin - BottomMargin;
    const int baseline = h - BottomMargin;

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), Qt::white);
    painter.setPen(Qt::black);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.drawLine(AxisX, baseline, AxisX + chartWidth, baseline);
    painter.drawLine(AxisX, baseline, AxisX, AxisTop);
    painter.drawText(AxisX, 15, m_name);

    // Pixels per unit of value. With an empty range (maximum equal to minimum) there is no
    // scale, and nothing that needs one is drawn: no ticks, labels, zero line or dots.
    const float scale = float(plotHeight) / (float(Divisions) * step);
    const bool scaled = std::isfinite(scale);
    if (scaled) {
        for (int i = 1; i <= Divisions; ++i) {
            const int y = pixel(baseline - step * i * scale);
            painter.drawLine(AxisX - 2, y, AxisX + 2, y);
        }
        for (int i = 0; i <= Divisions; ++i) {
            const float y = baseline - step * i * scale;
            const float value = m_minimum + step * i;
            painter.drawText(LabelX, pixel(y + 5), QString::number(value, 'g', 6));
        }
        painter.setPen(Qt::gray);
        const int zeroY = pixel(baseline + m_minimum * scale);
        painter.drawLine(AxisX, zeroY, AxisX + chartWidth, zeroY);
    }

    qsizetype longestName = 0;
    for (const Chart* chart : std::as_const(m_charts))
        longestName = std::max(longestName, chart->name().size());
    const int legendX = AxisX + chartWidth - LegendCharWidth * int(longestName);
    int legendY = baseline - (2 * plotHeight) / 3;

    // The range the samples visited now call for; it applies from the next paint on.
    int newMaximum = m_dynamicScaling ? 0 : m_maximum;
    int newMinimum = m_dynamicScaling ? 0 : m_minimum;
    // Looking back from the scroll position, so the newest sample is the first visited.
    const int offset = std::max(0, m_scrollMaximum - m_scrollValue) / m_resolution;
    QVector<QRectF> dots;
    for (const Chart* chart : std::as_const(m_charts)) {
        painter.setPen(chart->color());
        int i = chart->sampleCount() - 1 - offset;
        if (i >= 0) {
            dots.clear();
            int sinceDot = 0;
            int drawn = 0;
            for (;;) {
                const float v = static_cast<float>(chart->sample(i));
                ++sinceDot;
                if (m_dynamicScaling) {
                    if (v > newMaximum)
                        newMaximum = rangeEnd(v + 1);
                    if (v < newMinimum)
                        newMinimum = rangeEnd(v - 1);
                }
                if (sinceDot == m_resolution) {
                    if (drawn >= chartWidth)
                        break;
                    if (scaled) {
                        const float y = baseline - (v - m_minimum) * scale;
                        // A sample without a number (a float format's NaN) has no place.
                        if (!std::isnan(y)) {
                            const int dotY = pixel(y);
                            if (AxisTop < dotY && dotY < baseline)
                                dots.append(QRectF(chartWidth + AxisX - 2 - drawn, dotY, 1, 1));
                        }
                    }
                    ++drawn;
                    sinceDot = 0;
                }
                if (--i < 0)
                    break;
            }
            painter.drawRects(dots);
        }
        painter.drawText(legendX, legendY, chart->name());
        legendY += LegendLineHeight;
    }

    if (newMaximum != m_maximum || newMinimum != m_minimum) {
        m_maximum = newMaximum;
        m_minimum = newMinimum;
        emit scaleChanged(newMinimum, newMaximum);
    }
}

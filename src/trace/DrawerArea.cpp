#include "trace/DrawerArea.h"

#include "trace/Chart.h"
#include "trace/ChartPainter.h"

#include <QPainter>
#include <QRectF>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace PlotLayout;
using ChartPainter::pixel;

namespace {

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

// Pixels between the parts of the cursor's readout, and at least between a scale label
// and the value axis.
constexpr int ReadoutGap = 14;
constexpr int LabelGap = 4;

// A value as the cursor shows it: whole numbers in full, others with six digits.
QString formatValue(double value)
{
    if (std::isfinite(value) && value == std::trunc(value) && std::abs(value) < 1e15)
        return QString::number(static_cast<qint64>(value));
    return QString::number(value, 'g', 6);
}

} // namespace

DrawerArea::DrawerArea(QWidget* parent) : QWidget(parent)
{
    setMinimumSize(100, 100);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    connect(&m_timer, &QTimer::timeout, this, qOverload<>(&QWidget::repaint));
    m_timer.setInterval(m_interval);
    setUpInteraction();
}

DrawerArea::DrawerArea(int interval, QWidget* parent) : QWidget(parent)
{
    setMinimumSize(100, 100);
    connect(&m_timer, &QTimer::timeout, this, qOverload<>(&QWidget::repaint));
    setInterval(interval);
    setUpInteraction();
}

void DrawerArea::setUpInteraction()
{
    // The cursor follows the pointer; a click takes the focus away from any field, so keys
    // meant for the window (Space pauses the charts) reach it.
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    m_clock.start();
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
    addValue(motorBank, type, value, m_clock.msecsSinceReference() + m_clock.elapsed());
}

void DrawerArea::addValue(char motorBank, char type, int value, qint64 monotonicMs)
{
    const qint64 now = monotonicMs - m_clock.msecsSinceReference();
    for (Chart* chart : std::as_const(m_charts)) {
        if (chart->type() == type && chart->motorBank() == motorBank) {
            if (m_timeOrigin == Chart::NoTime)
                m_timeOrigin = now;
            chart->addSample(convertValue(chart->valueFormat(), value), now);
        }
    }
}

QList<const Chart*> DrawerArea::shownCharts() const
{
    QList<const Chart*> shown;
    if (m_paused) {
        for (const Chart& chart : m_frozen)
            shown.append(&chart);
    } else {
        for (const Chart* chart : m_charts)
            shown.append(chart);
    }
    return shown;
}

void DrawerArea::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    m_frozen.clear();
    if (paused) {
        m_frozen.reserve(static_cast<size_t>(m_charts.size()));
        for (const Chart* chart : std::as_const(m_charts))
            m_frozen.push_back(*chart);
    } else {
        // On again: the view jumps to the newest sample.
        m_rightOffset = 0;
    }
    emit pausedChanged(paused);
    update();
}

void DrawerArea::keepReference()
{
    std::vector<Chart> copies;
    for (const Chart* chart : shownCharts())
        copies.push_back(*chart);
    m_reference = std::move(copies);
    QStringList source;
    if (!m_moduleLabel.isEmpty())
        source << m_moduleLabel;
    if (m_run > 0)
        source << tr("run %1").arg(m_run);
    m_referenceSource = source.join(QStringLiteral(", "));
    emit referenceChanged(true);
    update();
}

void DrawerArea::clearReference()
{
    m_reference.clear();
    m_referenceSource.clear();
    emit referenceChanged(false);
    update();
}

void DrawerArea::startDrawer()
{
    if (!m_timer.isActive())
        ++m_run;
    m_timer.start(m_interval);
}

void DrawerArea::setModule(const QString& identity, const QString& label)
{
    if (!m_moduleIdentity.isEmpty() && identity != m_moduleIdentity)
        m_marks.append({m_clock.elapsed(), label});
    m_moduleIdentity = identity;
    m_moduleLabel = label;
    update();
}

void DrawerArea::stopDrawer()
{
    m_timer.stop();
}

void DrawerArea::clearValues()
{
    for (Chart* chart : std::as_const(m_charts))
        chart->clearSamples();
    // A paused picture shows the emptiness as well.
    for (Chart& chart : m_frozen)
        chart.clearSamples();
    m_timeOrigin = Chart::NoTime;
    // Their moments went with the samples.
    m_marks.clear();
}

void DrawerArea::doManualScaling()
{
    m_dynamicScaling = false;
}

void DrawerArea::doDynamicScaling()
{
    m_dynamicScaling = true;
    // Chosen by the user: the automatic view has nothing of the mouse's to undo.
    m_valueZoomed = false;
}

void DrawerArea::setMaxValue(int max)
{
    m_maximum = max;
}

void DrawerArea::setMinValue(int min)
{
    m_minimum = min;
}

int DrawerArea::sampleAt(const Chart& chart, int x) const
{
    const int count = chart.sampleCount();
    const int chartWidth = width() - AxisX - RightMargin;
    const int column = AxisX + chartWidth - 2 - x;
    if (column < 0 || column >= chartWidth)
        return -1;
    qint64 index;
    if (m_timeZoomed) {
        // The newest sample of the column, or the nearest one where samples lie apart.
        const double back = m_rightOffset + column * m_samplesPerPixel;
        index = count - 1 -
                static_cast<qint64>(m_samplesPerPixel >= 1 ? std::ceil(back) : std::round(back));
    } else {
        const int offset = std::max(0, m_scrollMaximum - m_scrollValue) / m_resolution;
        index = count - 1 - offset - (m_resolution - 1) - qint64(m_resolution) * column;
    }
    return index >= 0 && index < count ? static_cast<int>(index) : -1;
}

QStringList DrawerArea::cursorReadout() const
{
    if (m_cursorX < 0)
        return {};
    QStringList lines;
    QString where;
    int curve = 0;
    for (const Chart* chart : shownCharts()) {
        ++curve;
        const QString name = chart->name().isEmpty() ? tr("curve %1").arg(curve) : chart->name();
        const int index = sampleAt(*chart, m_cursorX);
        if (index < 0) {
            lines << name + QStringLiteral(": \u2013");
            continue;
        }
        if (where.isEmpty()) {
            const qint64 time = chart->time(index);
            where = time != Chart::NoTime && m_timeOrigin != Chart::NoTime
                        ? tr("t = %1 s").arg(double(time - m_timeOrigin) / 1000.0, 0, 'f', 3)
                        : tr("sample %1").arg(index);
        }
        lines << name + QStringLiteral(": ") + formatValue(chart->sample(index));
    }
    lines.prepend(where.isEmpty() ? tr("no sample") : where);
    return lines;
}

void DrawerArea::paintCursor(QPainter& painter, int baseline)
{
    const QStringList lines = cursorReadout();
    if (lines.isEmpty())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(QColor(80, 80, 80), 1, Qt::DashLine));
    painter.drawLine(m_cursorX, AxisTop, m_cursorX, baseline - 1);

    // The readout runs along the top, after the name, where it hides no curve: the time (or
    // index) in black, each value in its curve's colour.
    const QFontMetrics metrics = painter.fontMetrics();
    int x = AxisX + metrics.horizontalAdvance(m_name) + ReadoutGap;
    const QList<const Chart*> charts = shownCharts();
    for (int i = 0; i < lines.size(); ++i) {
        painter.setPen(i == 0 ? QColor(Qt::black) : charts.at(i - 1)->color());
        painter.drawText(x, 15, lines.at(i));
        x += metrics.horizontalAdvance(lines.at(i)) + ReadoutGap;
    }
    painter.restore();
}

void DrawerArea::paintTimeAxis(QPainter& painter, const PlotGeometry& plot)
{
    const Chart* timed = nullptr;
    for (const Chart* chart : shownCharts()) {
        if (chart->sampleCount() > 0) {
            timed = chart;
            break;
        }
    }
    // Samples without a time (none came live) get no labels.
    if (!timed || timed->time(timed->sampleCount() - 1) == Chart::NoTime)
        return;
    const int newestX = plot.newestX();
    TimeAxis::paint(
        painter, plot, width(),
        [this, timed, newestX](int column) {
            const int index = sampleAt(*timed, newestX - column);
            return index < 0 ? Chart::NoTime : timed->time(index);
        },
        m_timeOrigin, m_marks);
}

void DrawerArea::paintEvent(QPaintEvent*)
{
    const PlotGeometry plot(width(), height(), m_minimum, m_maximum);
    const int chartWidth = plot.chartWidth;
    emit changedChartWidth(chartWidth);
    const int baseline = plot.baseline;

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), Qt::white);
    painter.setPen(Qt::black);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.drawLine(AxisX, baseline, AxisX + chartWidth, baseline);
    painter.drawLine(AxisX, baseline, AxisX, AxisTop);
    painter.drawText(AxisX, 15, m_name);

    // With an empty range (maximum equal to minimum) there is no scale, and nothing that
    // needs one is drawn: no ticks, labels, zero line or dots.
    if (plot.scaled) {
        for (int i = 1; i <= Divisions; ++i) {
            const int y = pixel(baseline - plot.step * i * plot.scale);
            painter.drawLine(AxisX - 2, y, AxisX + 2, y);
        }
        // Where the labels would touch, every second (fourth ...) one.
        const int stride =
            ChartPainter::labelStride(plot.plotHeight, painter.fontMetrics().height());
        for (int i = 0; i <= Divisions; i += stride) {
            const float y = baseline - plot.step * i * plot.scale;
            const float value = m_minimum + plot.step * i;
            const QString label = QString::number(value, 'g', 6);
            // A label too long for its place ends before the axis rather than on it.
            const int room = AxisX - LabelGap - painter.fontMetrics().horizontalAdvance(label);
            painter.drawText(std::min(LabelX, room), pixel(y + 5), label);
        }
        painter.setPen(Qt::gray);
        const int zeroY = pixel(baseline + m_minimum * plot.scale);
        painter.drawLine(AxisX, zeroY, AxisX + chartWidth, zeroY);
    }

    const QList<const Chart*> charts = shownCharts();
    qsizetype longestName = 0;
    for (const Chart* chart : charts)
        longestName = std::max(longestName, chart->name().size());
    const int legendX = AxisX + chartWidth - LegendCharWidth * int(longestName);
    int legendY = baseline - (2 * plot.plotHeight) / 3;

    // The range the samples visited now call for; it applies from the next paint on.
    RangeTracker range{m_dynamicScaling, m_dynamicScaling ? 0 : m_minimum,
                       m_dynamicScaling ? 0 : m_maximum};
    // Looking back from the scroll position, so the newest sample is the first visited.
    const int offset = std::max(0, m_scrollMaximum - m_scrollValue) / m_resolution;
    QVector<QRectF> scratch;
    const auto drawCurve = [&](const Chart& chart, const QColor& color) {
        if (m_timeZoomed)
            ChartPainter::drawTrace(painter, plot, chart, color, m_rightOffset, m_samplesPerPixel,
                                    range, scratch);
        else
            ChartPainter::drawDots(painter, plot, chart, color, offset, m_resolution, range,
                                   scratch);
    };
    // The reference behind the live curves; its dots are whole pixels, without smoothing: a
    // pale copy needs none, and it paints in a fraction of the time.
    for (const Chart& chart : m_reference) {
        if (m_timeZoomed)
            drawCurve(chart, ChartPainter::dimmed(chart.color()));
        else
            ChartPainter::drawDots(painter, plot, chart, ChartPainter::dimmed(chart.color()),
                                   offset, m_resolution, range, scratch, false);
    }
    for (const Chart* chart : charts) {
        drawCurve(*chart, chart->color());
        painter.setPen(chart->color());
        painter.drawText(legendX, legendY, chart->name());
        legendY += LegendLineHeight;
    }
    range.widenFlat();
    if (range.visited == 0 && plot.chartWidth > 0) {
        painter.setPen(QColor(130, 130, 130));
        painter.drawText(QRect(AxisX + 1, AxisTop + 1, chartWidth - 1, baseline - AxisTop - 1),
                         Qt::AlignCenter, tr("no data"));
    }
    paintTimeAxis(painter, plot);
    paintCursor(painter, baseline);
    // Along the top at the right: "Paused", and left of it the word for the dimmed curves.
    int markX = width() - RightMargin;
    if (m_paused) {
        painter.save();
        QFont bold = painter.font();
        bold.setBold(true);
        painter.setFont(bold);
        painter.setPen(QColor(176, 84, 0));
        const QString paused = tr("Paused");
        markX -= painter.fontMetrics().horizontalAdvance(paused);
        painter.drawText(markX, 15, paused);
        painter.restore();
        markX -= ReadoutGap;
    }
    if (hasReference()) {
        painter.setPen(QColor(140, 140, 140));
        const QString reference = m_referenceSource.isEmpty()
                                      ? tr("reference dimmed")
                                      : tr("reference dimmed: %1").arg(m_referenceSource);
        painter.drawText(markX - painter.fontMetrics().horizontalAdvance(reference), 15, reference);
    }

    if (range.maximum != m_maximum || range.minimum != m_minimum) {
        m_maximum = range.maximum;
        m_minimum = range.minimum;
        emit scaleChanged(range.minimum, range.maximum);
    }
}

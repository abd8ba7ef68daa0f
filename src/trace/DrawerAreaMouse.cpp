#include "trace/DrawerArea.h"

#include "trace/ChartPainter.h"

#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

// How the user moves the view of a chart area with the mouse: the wheel zooms the time
// axis (Ctrl: the value axis), a drag pans, a double click returns to the automatic view,
// and the cursor follows the pointer.

using namespace PlotLayout;

namespace {

// A wheel step zooms by this factor; the time axis zooms in as far as this many pixels a
// sample, the value axis to a span of at least this many units.
constexpr double WheelZoom = 0.8;
constexpr double MaxPixelsPerSample = 32;
constexpr qint64 SmallestValueSpan = 10;
constexpr qint64 RangeLimit = 2147483647;

// The step of 1, 2 or 5 times a power of ten nearest to `step` (at least 1).
qint64 niceStep(double step)
{
    qint64 best = 1;
    for (qint64 power = 1; power <= RangeLimit; power *= 10)
        for (qint64 mantissa : {1, 2, 5})
            if (std::abs(std::log(double(mantissa * power) / step)) <
                std::abs(std::log(double(best) / step)))
                best = mantissa * power;
    return best;
}

// The next such step up or down from a nice step (never below 1).
qint64 nextNiceStep(qint64 step, bool up)
{
    qint64 power = 1;
    while (power * 10 <= step)
        power *= 10;
    const qint64 mantissa = step / power;
    if (up)
        return mantissa == 1 ? 2 * power : mantissa == 2 ? 5 * power : 10 * power;
    if (mantissa == 5)
        return 2 * power;
    if (mantissa == 2)
        return power;
    return std::max<qint64>(1, power / 2);
}

} // namespace

void DrawerArea::enterTimeZoom()
{
    if (m_timeZoomed)
        return;
    // The samples the plain view shows: its newest at the right end, r samples a pixel.
    m_timeZoomed = true;
    m_samplesPerPixel = m_resolution;
    m_rightOffset = std::max(0, m_scrollMaximum - m_scrollValue) / m_resolution;
}

void DrawerArea::zoomTime(double factor, int x)
{
    const int chartWidth = width() - AxisX - RightMargin;
    if (chartWidth <= 0 || !(factor > 0))
        return;
    enterTimeZoom();
    const int newestX = AxisX + chartWidth - 2;
    const double column = std::clamp(newestX - x, 0, chartWidth - 1);
    // The sample under the pointer stays there.
    const double atPointer = m_rightOffset + column * m_samplesPerPixel;
    const double widest =
        std::max({1.0, double(m_resolution), double(m_bufferSize) / double(chartWidth)});
    m_samplesPerPixel = std::clamp(m_samplesPerPixel * factor, 1.0 / MaxPixelsPerSample, widest);
    m_rightOffset = std::clamp(atPointer - column * m_samplesPerPixel, 0.0,
                               double(std::max(0, m_bufferSize - 1)));
    update();
}

void DrawerArea::zoomValues(double factor, int y)
{
    if (!(factor > 0))
        return;
    const PlotGeometry plot(width(), height(), m_minimum, m_maximum);
    qint64 span = qint64(m_maximum) - m_minimum;
    if (span <= 0 || plot.plotHeight <= 0)
        span = SmallestValueSpan;
    // The value under the pointer stays there.
    const double share = plot.plotHeight > 0
                             ? std::clamp(double(plot.baseline - y) / plot.plotHeight, 0.0, 1.0)
                             : 0.0;
    const double atPointer = m_minimum + share * double(span);
    // Round labels: a division of 1, 2 or 5 times a power of ten, one such step further
    // at least, and the bottom on the nearest whole division.
    const qint64 current = niceStep(double(span) / Divisions);
    qint64 step = niceStep(double(span) / Divisions * factor);
    if (factor < 1 && step >= current)
        step = nextNiceStep(current, false);
    else if (factor > 1 && step <= current)
        step = nextNiceStep(current, true);
    const qint64 newSpan = step * Divisions;
    const auto minimum =
        static_cast<qint64>(std::round((atPointer - share * double(newSpan)) / double(step))) *
        step;
    chooseRange(minimum, minimum + newSpan);
}

void DrawerArea::chooseRange(qint64 minimum, qint64 maximum)
{
    if (!m_valueZoomed) {
        m_valueZoomed = true;
        m_dynamicBeforeZoom = m_dynamicScaling;
        m_minimumBeforeZoom = m_minimum;
        m_maximumBeforeZoom = m_maximum;
    }
    // Within what the range spin boxes hold, the span kept.
    const qint64 span = std::min(maximum - minimum, 2 * RangeLimit);
    minimum = std::clamp(minimum, -RangeLimit, RangeLimit - span);
    maximum = minimum + span;
    m_dynamicScaling = false;
    m_minimum = static_cast<int>(minimum);
    m_maximum = static_cast<int>(maximum);
    emit scalingChosen(false, m_minimum, m_maximum);
    update();
}

void DrawerArea::panBy(int dx, int dy)
{
    if (dx != 0) {
        enterTimeZoom();
        m_rightOffset = std::clamp(m_rightOffset + dx * m_samplesPerPixel, 0.0,
                                   double(std::max(0, m_bufferSize - 1)));
        update();
    }
    const PlotGeometry plot(width(), height(), m_minimum, m_maximum);
    if (dy != 0 && m_valueZoomed && plot.scaled) {
        const auto shift = static_cast<qint64>(std::llround(dy / plot.scale));
        chooseRange(qint64(m_minimum) + shift, qint64(m_maximum) + shift);
    }
}

void DrawerArea::resetView()
{
    m_timeZoomed = false;
    m_rightOffset = 0;
    if (m_valueZoomed) {
        m_valueZoomed = false;
        m_dynamicScaling = m_dynamicBeforeZoom;
        m_minimum = m_minimumBeforeZoom;
        m_maximum = m_maximumBeforeZoom;
        emit scalingChosen(m_dynamicScaling, m_minimum, m_maximum);
    }
    update();
}

void DrawerArea::endTimeZoom()
{
    if (!m_timeZoomed)
        return;
    m_timeZoomed = false;
    m_rightOffset = 0;
    update();
}

void DrawerArea::wheelEvent(QWheelEvent* event)
{
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0) {
        event->ignore();
        return;
    }
    const double factor = std::pow(WheelZoom, steps);
    const QPoint at = event->position().toPoint();
    if (event->modifiers() & Qt::ControlModifier)
        zoomValues(factor, at.y());
    else
        zoomTime(factor, at.x());
    event->accept();
}

void DrawerArea::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    m_dragFrom = event->position().toPoint();
    m_dragOffset =
        m_timeZoomed ? m_rightOffset : std::max(0, m_scrollMaximum - m_scrollValue) / m_resolution;
    m_dragMinimum = m_minimum;
    m_dragMaximum = m_maximum;
    event->accept();
}

void DrawerArea::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    setCursorX(at.x());
    if (!m_dragging || !(event->buttons() & Qt::LeftButton))
        return;
    const int dx = at.x() - m_dragFrom.x();
    const int dy = at.y() - m_dragFrom.y();
    if (dx != 0 || m_timeZoomed) {
        enterTimeZoom();
        m_rightOffset = std::clamp(m_dragOffset + dx * m_samplesPerPixel, 0.0,
                                   double(std::max(0, m_bufferSize - 1)));
    }
    const PlotGeometry plot(width(), height(), int(m_dragMinimum), int(m_dragMaximum));
    if (m_valueZoomed && plot.scaled) {
        const auto shift = static_cast<qint64>(std::llround(dy / plot.scale));
        if (m_dragMinimum + shift != m_minimum)
            chooseRange(m_dragMinimum + shift, m_dragMaximum + shift);
    }
    update();
}

void DrawerArea::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
    QWidget::mouseReleaseEvent(event);
}

void DrawerArea::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        resetView();
    event->accept();
}

void DrawerArea::leaveEvent(QEvent* event)
{
    hideCursor();
    QWidget::leaveEvent(event);
}

void DrawerArea::setCursorX(int x)
{
    const int chartWidth = width() - AxisX - RightMargin;
    const int cursorX = (x > AxisX && x <= AxisX + chartWidth - 2) ? x : -1;
    if (cursorX == m_cursorX)
        return;
    m_cursorX = cursorX;
    update();
}

void DrawerArea::hideCursor()
{
    setCursorX(-1);
}

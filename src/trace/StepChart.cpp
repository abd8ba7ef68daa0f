#include "trace/StepChart.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

constexpr int Margin = 8;
constexpr int AxisWidth = 56;
constexpr int AxisHeight = 20;

const QColor referenceColours[] = {QColor(120, 160, 220), QColor(220, 160, 100),
                                   QColor(150, 200, 140), QColor(200, 140, 200)};
const QColor CurrentColour(200, 40, 40);
// A run's label: a short line in its colour, then its text; entries this far apart.
constexpr int LegendSwatch = 16;
constexpr int LegendGap = 14;

// A round step for about `count` ticks over span.
double tickStep(double span, int count)
{
    if (span <= 0)
        return 1;
    const double raw = span / count;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double factor : {1.0, 2.0, 5.0})
        if (raw <= factor * power)
            return factor * power;
    return 10 * power;
}

} // namespace

StepChart::StepChart(QWidget* parent) : QWidget(parent)
{
    setMinimumSize(320, 180);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void StepChart::setCurrent(const Curve& curve)
{
    m_current = curve;
    update();
}

bool StepChart::keepCurrent()
{
    if (m_current.samples.empty())
        return false;
    m_references << m_current;
    update();
    return true;
}

void StepChart::clearReferences()
{
    m_references.clear();
    update();
}

QList<StepChart::LegendEntry> StepChart::legend(int width) const
{
    QList<LegendEntry> entries;
    const QFontMetrics metrics(font());
    int x = AxisWidth;
    int row = 0;
    const auto add = [&](const Curve& curve, const QColor& colour) {
        const int entryWidth = LegendSwatch + 4 + metrics.horizontalAdvance(curve.label);
        // A new row where the entry would run past the right edge (unless it starts one).
        if (x > AxisWidth && x + entryWidth > width - Margin) {
            x = AxisWidth;
            ++row;
        }
        entries.append({curve.label, colour,
                        QRect(x, Margin + row * metrics.height(), entryWidth, metrics.height())});
        x += entryWidth + LegendGap;
    };
    for (int i = 0; i < m_references.size(); ++i)
        add(m_references.at(i), referenceColours[i % std::size(referenceColours)]);
    if (!m_current.samples.empty())
        add(m_current, CurrentColour);
    return entries;
}

void StepChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    painter.setRenderHint(QPainter::Antialiasing);

    QList<const Curve*> curves;
    for (const Curve& reference : m_references)
        curves << &reference;
    if (!m_current.samples.empty())
        curves << &m_current;
    // The run labels in rows above the plot, where they cannot cover each other or a curve.
    const QList<LegendEntry> entries = legend(width());
    const int legendHeight = entries.isEmpty() ? 0 : entries.last().rect.bottom() + 1 - Margin;
    const QRect plot(AxisWidth, Margin + legendHeight, width() - AxisWidth - Margin,
                     height() - AxisHeight - 2 * Margin - legendHeight);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(plot);
    if (curves.isEmpty() || plot.width() < 10 || plot.height() < 10) {
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(plot, Qt::AlignCenter, tr("Run a step to see its response"));
        return;
    }

    // One scale for every curve: time from 0 to the longest window, values around all of
    // them and their targets.
    double tMax = 1;
    double low = 0;
    double high = 0;
    bool first = true;
    for (const Curve* curve : std::as_const(curves)) {
        for (double v : {curve->start, curve->target}) {
            low = first ? v : std::min(low, v);
            high = first ? v : std::max(high, v);
            first = false;
        }
        for (const StepMetrics::Sample& s : curve->samples) {
            tMax = std::max(tMax, s.timeMs);
            low = std::min(low, s.value);
            high = std::max(high, s.value);
        }
    }
    const double pad = std::max(1.0, (high - low) * 0.05);
    low -= pad;
    high += pad;
    const auto x = [&](double t) { return plot.left() + t / tMax * plot.width(); };
    const auto y = [&](double v) {
        return plot.bottom() - (v - low) / (high - low) * plot.height();
    };

    // Grid and axes.
    const QFontMetrics metrics(font());
    painter.setPen(palette().color(QPalette::Midlight));
    const double vStep = tickStep(high - low, 5);
    for (double v = std::ceil(low / vStep) * vStep; v <= high; v += vStep) {
        painter.setPen(palette().color(QPalette::Midlight));
        painter.drawLine(QPointF(plot.left(), y(v)), QPointF(plot.right(), y(v)));
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(QRectF(0, y(v) - 8, AxisWidth - 4, 16), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(v));
    }
    const double tStep = tickStep(tMax, 8);
    for (double t = 0; t <= tMax; t += tStep) {
        painter.setPen(palette().color(QPalette::Midlight));
        painter.drawLine(QPointF(x(t), plot.top()), QPointF(x(t), plot.bottom()));
        painter.setPen(palette().color(QPalette::Text));
        // A label centred under its line, moved inwards where it would leave the widget.
        const QString label = t == 0 ? tr("0 ms") : QString::number(t);
        const double labelWidth = painter.fontMetrics().horizontalAdvance(label) + 4;
        const double left = std::min(x(t) - labelWidth / 2, width() - labelWidth);
        painter.drawText(QRectF(left, plot.bottom() + 2, labelWidth, AxisHeight), Qt::AlignHCenter,
                         label);
    }

    // Each curve: its target as a dashed step, its samples as a line.
    for (int i = 0; i < curves.size(); ++i) {
        const Curve& curve = *curves.at(i);
        const bool current = &curve == &m_current;
        const QColor colour = entries.at(i).colour;
        painter.setPen(QPen(current ? QColor(40, 40, 40) : colour.lighter(120), 1, Qt::DashLine));
        painter.drawLine(QPointF(plot.left(), y(curve.start)), QPointF(x(0), y(curve.target)));
        painter.drawLine(QPointF(x(0), y(curve.target)), QPointF(plot.right(), y(curve.target)));
        QPainterPath path;
        path.moveTo(x(curve.samples.front().timeMs), y(curve.samples.front().value));
        for (const StepMetrics::Sample& s : curve.samples)
            path.lineTo(x(s.timeMs), y(s.value));
        painter.setPen(QPen(colour, current ? 2 : 1));
        painter.drawPath(path);
    }
    for (const LegendEntry& entry : entries) {
        const int middle = entry.rect.center().y();
        painter.setPen(QPen(entry.colour, 2));
        painter.drawLine(entry.rect.left(), middle, entry.rect.left() + LegendSwatch, middle);
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(entry.rect.adjusted(LegendSwatch + 4, 0, 0, 0),
                         Qt::AlignLeft | Qt::AlignVCenter, entry.label);
    }
}

#include "trace/BodeChart.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

constexpr int Margin = 8;
constexpr int AxisWidth = 56;
constexpr int AxisHeight = 20;
constexpr int Gap = 12;

const QColor CurrentColour(200, 40, 40);
const QColor referenceColours[] = {QColor(120, 160, 220), QColor(220, 160, 100),
                                   QColor(150, 200, 140), QColor(200, 140, 200)};

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

QString hz(double value)
{
    return QString::number(value, 'g', 3);
}

} // namespace

BodeChart::BodeChart(QWidget* parent) : QWidget(parent)
{
    setMinimumSize(360, 260);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void BodeChart::setRange(double fromHz, double toHz)
{
    m_fromHz = fromHz;
    m_toHz = toHz;
    update();
}

void BodeChart::setCurrent(const Curve& curve)
{
    m_current = curve;
    update();
}

bool BodeChart::keepCurrent()
{
    if (m_current.points.empty())
        return false;
    m_references << m_current;
    update();
    return true;
}

void BodeChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    painter.setRenderHint(QPainter::Antialiasing);

    QList<const Curve*> curves;
    for (const Curve& reference : m_references)
        curves << &reference;
    if (!m_current.points.empty())
        curves << &m_current;

    const int plotHeight = (height() - 2 * Margin - 2 * AxisHeight - Gap) / 2;
    const int plotWidth = width() - AxisWidth - Margin;
    const QRect gainPlot(AxisWidth, Margin, plotWidth, plotHeight);
    const QRect phasePlot(AxisWidth, gainPlot.bottom() + AxisHeight + Gap, plotWidth, plotHeight);
    if (plotWidth < 20 || plotHeight < 20)
        return;

    // The frequency axis: the sweep's range and every point shown, a decade's 1, 2, 5 marked.
    double fLow = m_fromHz;
    double fHigh = m_toHz;
    double gLow = -6;
    double gHigh = 3;
    double pLow = -90;
    double pHigh = 0;
    for (const Curve* curve : std::as_const(curves)) {
        for (const FrequencyResponse::Point& p : curve->points) {
            fLow = std::min(fLow, p.frequencyHz);
            fHigh = std::max(fHigh, p.frequencyHz);
            gLow = std::min(gLow, p.gainDb);
            gHigh = std::max(gHigh, p.gainDb);
            pLow = std::min(pLow, p.phaseDeg);
            pHigh = std::max(pHigh, p.phaseDeg);
        }
    }
    if (fHigh <= fLow)
        fHigh = fLow * 10;
    const double logLow = std::log10(fLow);
    const double logHigh = std::log10(fHigh);
    const auto x = [&](double f) {
        return gainPlot.left() + (std::log10(f) - logLow) / (logHigh - logLow) * plotWidth;
    };
    const double gStep = tickStep(gHigh - gLow, 5);
    gLow = std::floor(gLow / gStep) * gStep;
    gHigh = std::ceil(gHigh / gStep) * gStep;
    const double pStep = std::max(15.0, tickStep(pHigh - pLow, 5));
    pLow = std::floor(pLow / pStep) * pStep;
    pHigh = std::ceil(pHigh / pStep) * pStep;
    const auto scale = [](const QRect& plot, double low, double high) {
        return [plot, low, high](double v) {
            return plot.bottom() - (v - low) / (high - low) * plot.height();
        };
    };
    const auto gainY = scale(gainPlot, gLow, gHigh);
    const auto phaseY = scale(phasePlot, pLow, pHigh);

    const QColor grid = palette().color(QPalette::Midlight);
    const QColor text = palette().color(QPalette::Text);
    const auto valueAxis = [&](const QRect& plot, double low, double high, double step,
                               const auto& y, const QString& unit) {
        for (double v = low; v <= high + step / 2; v += step) {
            painter.setPen(grid);
            painter.drawLine(QPointF(plot.left(), y(v)), QPointF(plot.right(), y(v)));
            painter.setPen(text);
            painter.drawText(QRectF(0, y(v) - 8, AxisWidth - 4, 16),
                             Qt::AlignRight | Qt::AlignVCenter,
                             v == high ? unit : QString::number(v));
        }
    };
    valueAxis(gainPlot, gLow, gHigh, gStep, gainY, tr("dB"));
    valueAxis(phasePlot, pLow, pHigh, pStep, phaseY, tr("deg"));
    // A decade's 1, 2 and 5 marked; every whole multiple where that would be fewer than three.
    std::vector<double> marks;
    for (const std::vector<double>& factors :
         {std::vector<double>{1, 2, 5}, std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8, 9}}) {
        marks.clear();
        for (int decade = int(std::floor(logLow)); decade <= int(std::ceil(logHigh)); ++decade)
            for (double factor : factors) {
                const double f = factor * std::pow(10.0, decade);
                if (f >= fLow * 0.999 && f <= fHigh * 1.001)
                    marks.push_back(f);
            }
        if (marks.size() >= 3)
            break;
    }
    for (double f : marks) {
        for (const QRect& plot : {gainPlot, phasePlot}) {
            painter.setPen(grid);
            painter.drawLine(QPointF(x(f), plot.top()), QPointF(x(f), plot.bottom()));
            painter.setPen(text);
            const QString label = hz(f);
            const double w = painter.fontMetrics().horizontalAdvance(label) + 4;
            const double left = std::clamp(x(f) - w / 2, 0.0, width() - w);
            painter.drawText(QRectF(left, plot.bottom() + 2, w, AxisHeight), Qt::AlignHCenter,
                             label);
        }
    }
    painter.setPen(text);
    painter.drawText(QRectF(4, phasePlot.bottom() + 2, AxisWidth, AxisHeight), Qt::AlignLeft,
                     tr("Hz"));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(gainPlot);
    painter.drawRect(phasePlot);
    // -3 dB, where the bandwidth is read.
    painter.setPen(QPen(palette().color(QPalette::Mid), 1, Qt::DotLine));
    painter.drawLine(QPointF(gainPlot.left(), gainY(-3)), QPointF(gainPlot.right(), gainY(-3)));

    if (curves.isEmpty()) {
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(gainPlot, Qt::AlignCenter, tr("Run a sweep to see the loop's response"));
        return;
    }

    const QFontMetrics metrics(font());
    int legendY = gainPlot.top() + 4;
    for (int i = 0; i < curves.size(); ++i) {
        const Curve& curve = *curves.at(i);
        const bool current = &curve == &m_current;
        const QColor colour =
            current ? CurrentColour : referenceColours[i % std::size(referenceColours)];
        painter.setPen(QPen(colour, current ? 2 : 1));
        QPainterPath gain;
        QPainterPath phase;
        for (const FrequencyResponse::Point& p : curve.points) {
            const QPointF g(x(p.frequencyHz), gainY(p.gainDb));
            const QPointF ph(x(p.frequencyHz), phaseY(p.phaseDeg));
            if (gain.elementCount() == 0) {
                gain.moveTo(g);
                phase.moveTo(ph);
            } else {
                gain.lineTo(g);
                phase.lineTo(ph);
            }
            painter.drawEllipse(g, 2.5, 2.5);
            painter.drawEllipse(ph, 2.5, 2.5);
        }
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(gain);
        painter.drawPath(phase);
        QString label = curve.label;
        if (curve.bandwidthHz) {
            label += tr(", bandwidth %1 Hz").arg(hz(*curve.bandwidthHz));
            painter.setPen(QPen(colour, 1, Qt::DashLine));
            const double bx = x(*curve.bandwidthHz);
            painter.drawLine(QPointF(bx, gainPlot.top()), QPointF(bx, gainPlot.bottom()));
            painter.drawLine(QPointF(bx, phasePlot.top()), QPointF(bx, phasePlot.bottom()));
        }
        painter.setPen(colour);
        painter.drawText(QPointF(gainPlot.right() - 4 - metrics.horizontalAdvance(label),
                                 legendY + metrics.ascent()),
                         label);
        legendY += metrics.height();
    }
}

#pragma once

#include "config/StepMetrics.h"

#include <QColor>
#include <QList>
#include <QRect>
#include <QString>
#include <QWidget>

#include <vector>

// The chart of a step response: the target as a step from the start value, the actual
// values over time, and earlier runs kept as references, dimmed behind it, each with its
// label in the legend. The legend runs in rows above the plot, so a label never covers
// another or a curve.
class StepChart : public QWidget
{
    Q_OBJECT

public:
    struct Curve
    {
        QString label;
        double start = 0;
        double target = 0;
        std::vector<StepMetrics::Sample> samples;
    };

    explicit StepChart(QWidget* parent = nullptr);

    // The run shown in front (empty samples: none).
    void setCurrent(const Curve& curve);
    const Curve& current() const { return m_current; }
    // Keeps the current run as a reference; false when there is none.
    bool keepCurrent();
    const QList<Curve>& references() const { return m_references; }
    void clearReferences();

    QSize sizeHint() const override { return QSize(640, 280); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // One run's place in the legend: its label, its colour and where it is drawn.
    struct LegendEntry
    {
        QString label;
        QColor colour;
        QRect rect;
    };
    // The references first, then the current run, laid out for a chart `width` wide.
    QList<LegendEntry> legend(int width) const;

    Curve m_current;
    QList<Curve> m_references;
};

#pragma once

#include "config/FrequencyResponse.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

// The Bode plot of a frequency response: gain in dB above, phase in degrees below, over a
// logarithmic frequency axis, the -3 dB bandwidth marked; earlier sweeps kept as references
// behind it, each with its label (the gains it was measured with) in the legend.
class BodeChart : public QWidget
{
    Q_OBJECT

public:
    struct Curve
    {
        QString label;
        std::vector<FrequencyResponse::Point> points; // in order of frequency
        std::optional<double> bandwidthHz;
    };

    explicit BodeChart(QWidget* parent = nullptr);

    // The frequencies the axis spans at least (those of the sweep about to run).
    void setRange(double fromHz, double toHz);
    // The sweep shown in front (no points: none).
    void setCurrent(const Curve& curve);
    const Curve& current() const { return m_current; }
    // Keeps the current sweep as a reference; false when there is none.
    bool keepCurrent();
    const QList<Curve>& references() const { return m_references; }

    QSize sizeHint() const override { return QSize(640, 420); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Curve m_current;
    QList<Curve> m_references;
    double m_fromHz = 1;
    double m_toHz = 40;
};

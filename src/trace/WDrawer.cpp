#include "trace/WDrawer.h"

#include "comm/DebugLine.h"
#include "trace/Chart.h"
#include "trace/DrawerArea.h"
#include "trace/WGraphController.h"

#include <QBoxLayout>
#include <QScrollBar>
#include <QSignalBlocker>

WDrawer::WDrawer(QWidget* parent) : QWidget(parent)
{
    m_area = new DrawerArea;
    m_area->setInterval(100);
    m_scrollBar = new QScrollBar(Qt::Horizontal);
    m_scrollBar->setSingleStep(100);
    m_graphController = new WGraphController;

    // Narrow margins, as on the panels' forms: three of these sit below the tabs.
    auto* plot = new QWidget;
    auto* plotLayout = new QVBoxLayout(plot);
    plotLayout->setContentsMargins(0, 0, 0, 0);
    plotLayout->addWidget(m_area);
    plotLayout->addWidget(m_scrollBar);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(plot);
    layout->addWidget(m_graphController);

    connect(m_area, &DrawerArea::scaleChanged, m_graphController,
            &WGraphController::changedScaleValues);
    connect(m_area, &DrawerArea::changedChartWidth, this, &WDrawer::handleChangedChartWidth);
    connect(m_graphController, &WGraphController::scaleManually, m_area,
            &DrawerArea::doManualScaling);
    connect(m_graphController, &WGraphController::scaleDynamic, m_area,
            &DrawerArea::doDynamicScaling);
    connect(m_graphController, &WGraphController::minValueChanged, m_area,
            &DrawerArea::setMinValue);
    connect(m_graphController, &WGraphController::maxValueChanged, m_area,
            &DrawerArea::setMaxValue);
    connect(m_graphController, &WGraphController::clear, m_area, &DrawerArea::clearValues);
    connect(m_graphController, &WGraphController::changeResolution, this,
            &WDrawer::handleChangedResolution);
    connect(m_scrollBar, &QScrollBar::valueChanged, this, &WDrawer::scrollBarValueChanged);

    setBufferSize(1000);
}

void WDrawer::setBufferSize(int n)
{
    m_area->setBufferSize(n);
    m_scrollBar->setMinimum(0);
    m_scrollBar->setMaximum(n - 1);
    m_scrollBar->setValue(n - 1);
    // The value change has handed the scroll state over already, unless the bar stood at
    // n - 1 before; either way the area now sees the new range.
    m_area->setScrollState(m_scrollBar->minimum(), m_scrollBar->maximum(), m_scrollBar->value());
}

void WDrawer::setName(const QString& name)
{
    m_area->setName(name);
}

QString WDrawer::name() const
{
    return m_area->name();
}

void WDrawer::addChart(char motorBank, char type, const QString& name, const QColor& color)
{
    addChart(motorBank, type, Chart::IntegerFormat, name, color);
}

void WDrawer::addChart(char motorBank, char type, int valueFormat, const QString& name,
                       const QColor& color)
{
    auto* chart = new Chart(motorBank, type, valueFormat, name);
    chart->setColor(color);
    m_area->addChart(chart);
    // One entry per type number, whatever the motor/bank.
    if (!m_traceTypes.contains(type))
        m_traceTypes.append(type);
}

QList<Chart*>& WDrawer::charts()
{
    return m_area->charts();
}

void WDrawer::removeChart(char motorBank, char type)
{
    m_area->removeChart(motorBank, type);
}

void WDrawer::updateLiveVales()
{
    DebugLine() << "WDrawer::updateLiveVales()";
    const QList<Chart*> charts = m_area->charts();
    for (const Chart* chart : charts)
        emit getAxisParameter(chart->motorBank(), chart->type());
}

void WDrawer::clearCharts()
{
    m_area->clearValues();
}

void WDrawer::startDrawing()
{
    m_area->startDrawer();
}

void WDrawer::stopDrawing()
{
    m_area->stopDrawer();
}

void WDrawer::requestedTraceValue(char motorBank, char typeNumber, int value)
{
    m_area->addValue(motorBank, typeNumber, value);
}

void WDrawer::handleChangedChartWidth(int width)
{
    // The area reports its width while it paints: the scroll range moves without asking
    // for another paint from inside this one, and a value the new minimum pushes up reaches
    // the area before it walks the samples.
    {
        const QSignalBlocker blocker(m_scrollBar);
        m_scrollBar->setMinimum(width);
    }
    m_area->setScrollState(m_scrollBar->minimum(), m_scrollBar->maximum(), m_scrollBar->value());
}

void WDrawer::handleChangedResolution(int resolution)
{
    m_area->setResolution(resolution);
    repaint();
}

void WDrawer::scrollBarValueChanged(int value)
{
    m_area->setScrollState(m_scrollBar->minimum(), m_scrollBar->maximum(), value);
    repaint();
}

#pragma once

#include <QList>
#include <QString>
#include <QTimer>
#include <QWidget>

class Chart;

// The plotting surface of a chart panel: a scrolling dot plot of its charts' samples, with
// a value axis of ten divisions, a grey zero line and a legend. The newest sample in view
// is drawn at the right end of the time axis, older ones one pixel further left each; with
// a resolution r only every r-th sample becomes a dot. The value range is either tracked
// from the samples a paint visits (dynamic scaling) or set by hand.
class DrawerArea : public QWidget
{
    Q_OBJECT

public:
    explicit DrawerArea(QWidget* parent = nullptr);
    // Repaints every `interval` ms while drawing runs; keeps the default size policy.
    explicit DrawerArea(int interval, QWidget* parent = nullptr);
    ~DrawerArea() override;

    void setName(const QString& name) { m_name = name; }
    QString name() const { return m_name; }
    // The capacity given to charts added from now on.
    void setBufferSize(int size) { m_bufferSize = size; }
    int bufferSize() const { return m_bufferSize; }
    void setInterval(int ms);
    int interval() const { return m_interval; }
    bool isDrawing() const { return m_timer.isActive(); }
    // The scroll bar of the panel: its maximum shows the newest samples.
    void setScrollState(int minimum, int maximum, int value);
    // Samples per plotted dot; below 1 is ignored.
    void setResolution(int resolution);
    int resolution() const { return m_resolution; }
    int maxValue() const { return m_maximum; }
    int minValue() const { return m_minimum; }
    bool isScalingDynamic() const { return m_dynamicScaling; }

    // The area owns the chart from now on and gives it the buffer size as capacity.
    void addChart(Chart* chart);
    // Removes and releases every chart of this motor/bank and type.
    void removeChart(char motorBank, char type);
    // The list itself: whoever edits it releases the charts taken out.
    QList<Chart*>& charts() { return m_charts; }
    // One live value, kept by every chart of this motor/bank and type.
    void addValue(char motorBank, char type, int value);

signals:
    void scaleChanged(int minValue, int maxValue);
    void changedChartWidth(int width);

public slots:
    void startDrawer();
    void stopDrawer();
    void clearValues();
    void doManualScaling();
    void doDynamicScaling();
    void setMaxValue(int max);
    void setMinValue(int min);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_maximum = 100;
    int m_minimum = 0;
    int m_bufferSize = 100;
    int m_scrollMinimum = 0;
    int m_scrollMaximum = 0;
    int m_scrollValue = 0;
    int m_resolution = 1;
    QString m_name;
    QList<Chart*> m_charts;
    QTimer m_timer;
    int m_interval = 1000;
    bool m_dynamicScaling = true;
};

#pragma once

#include "trace/Chart.h"
#include "trace/TimeAxis.h"

#include <QElapsedTimer>
#include <QList>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <vector>

struct PlotGeometry;

// The plotting surface of a chart panel: a scrolling dot plot of its charts' samples, with
// a value axis of ten divisions, a grey zero line and a legend. The newest sample in view
// is drawn at the right end of the time axis, older ones one pixel further left each; with
// a resolution r only every r-th sample becomes a dot. The value range is either tracked
// from the samples a paint visits (dynamic scaling) or set by hand.
//
// Beyond that picture, the area is an instrument: it can be paused (the picture freezes on
// copies of the charts while new values keep arriving into them), zoomed and panned with
// the mouse (wheel: time axis around the pointer; Ctrl+wheel: value axis; drag: pan; double
// click: back to the automatic view), it shows the values under the pointer on a cursor
// line, and it can keep the curves shown as a dimmed reference behind the live ones. Where
// none of that is in use, it paints exactly the plain picture above; labels that would
// touch at the current font are thinned out (every second, fourth ... is drawn). Below the
// time axis it labels the samples' times in seconds; a switch to another module is marked
// in the plot; a plot without a sample in view says "no data".
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
    // One live value, kept by every chart of this motor/bank and type, with the time it
    // came on the area's clock.
    void addValue(char motorBank, char type, int value);
    // The same with the time the value was taken, on the monotonic clock (a poll sample's).
    void addValue(char motorBank, char type, int value, qint64 monotonicMs);

    // The charts the picture shows: the live ones, or the copies taken when it was paused.
    QList<const Chart*> shownCharts() const;
    bool isPaused() const { return m_paused; }
    bool hasReference() const { return !m_reference.empty(); }
    const std::vector<Chart>& reference() const { return m_reference; }
    // Where the reference came from: the module and the drawing run ("address 1, run 2"),
    // empty where neither is known.
    QString referenceSource() const { return m_referenceSource; }

    // The module whose values arrive from now on: `identity` tells modules apart (port and
    // address), `label` names it in the plot ("address 3"). A switch from one module to
    // another marks the plot at this moment.
    void setModule(const QString& identity, const QString& label);
    const QList<TimeAxis::Mark>& moduleMarks() const { return m_marks; }
    // Drawing runs started so far (startDrawer), the one going on included.
    int run() const { return m_run; }
    // Times on the area's clock count from the first sample after construction or after
    // the charts were last cleared; the cursor and the sample export show them so.
    qint64 timeOrigin() const { return m_timeOrigin; }

    // The time axis zoomed or panned with the mouse, and how: samples per pixel, and how
    // many samples back from the newest stand at the right end.
    bool isTimeZoomed() const { return m_timeZoomed; }
    double samplesPerPixel() const { return m_samplesPerPixel; }
    double rightOffset() const { return m_rightOffset; }
    // The value axis zoomed or panned with the mouse (the range is then a manual one).
    bool isValueZoomed() const { return m_valueZoomed; }
    // Zooms the time axis by `factor` (below 1: closer) keeping the sample at column x in
    // place; the value axis likewise around row y.
    void zoomTime(double factor, int x);
    void zoomValues(double factor, int y);
    // Moves the view as a drag by (dx, dy) pixels does: to the right shows older samples.
    void panBy(int dx, int dy);

    // The cursor line at column x (in the plot), or none. Its readout runs along the top,
    // after the name.
    void setCursorX(int x);
    void hideCursor();
    int cursorX() const { return m_cursorX; }
    // What the cursor shows: the time ("t = 1.234 s") or the index ("sample 17") of the
    // sample under it, then "name: value" for each chart shown. Empty without a cursor.
    QStringList cursorReadout() const;

signals:
    void scaleChanged(int minValue, int maxValue);
    void changedChartWidth(int width);
    void pausedChanged(bool paused);
    void referenceChanged(bool kept);
    // The mouse chose a range (manual) or the automatic view brought the scaling back.
    void scalingChosen(bool dynamic, int minValue, int maxValue);

public slots:
    void startDrawer();
    void stopDrawer();
    void clearValues();
    void doManualScaling();
    void doDynamicScaling();
    void setMaxValue(int max);
    void setMinValue(int min);
    // Freezes the picture (values keep arriving), or lets it go on from the newest sample.
    void setPaused(bool paused);
    // Copies the curves shown as the reference, in place of an earlier one.
    void keepReference();
    void clearReference();
    // Back to the automatic view: the time axis as the scroll bar and resolution say, and
    // the scaling that was chosen before the mouse zoomed the value axis.
    void resetView();
    // The time axis as the scroll bar and resolution say, the value axis left as it is.
    void endTimeZoom();

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void setUpInteraction();
    // From the plain view to a zoomed time axis that shows the same samples.
    void enterTimeZoom();
    // The sample (index from the oldest) of the chart at column x, or -1.
    int sampleAt(const Chart& chart, int x) const;
    void paintCursor(QPainter& painter, int baseline);
    // Time labels and module marks, from the first shown chart that has samples.
    void paintTimeAxis(QPainter& painter, const PlotGeometry& plot);
    void chooseRange(qint64 minimum, qint64 maximum);

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

    bool m_paused = false;
    std::vector<Chart> m_frozen;
    std::vector<Chart> m_reference;
    QString m_referenceSource;
    QString m_moduleIdentity;
    QString m_moduleLabel;
    QList<TimeAxis::Mark> m_marks;
    int m_run = 0;
    QElapsedTimer m_clock;
    qint64 m_timeOrigin = Chart::NoTime;

    bool m_timeZoomed = false;
    double m_samplesPerPixel = 1;
    double m_rightOffset = 0;
    bool m_valueZoomed = false;
    // The scaling before the mouse zoomed the value axis, for the automatic view.
    bool m_dynamicBeforeZoom = true;
    int m_minimumBeforeZoom = 0;
    int m_maximumBeforeZoom = 0;

    int m_cursorX = -1;
    bool m_dragging = false;
    QPoint m_dragFrom;
    double m_dragOffset = 0;
    qint64 m_dragMinimum = 0;
    qint64 m_dragMaximum = 0;
};

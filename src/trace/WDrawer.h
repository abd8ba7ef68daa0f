#pragma once

#include <QColor>
#include <QList>
#include <QString>
#include <QWidget>

class Chart;
class DrawerArea;
class QScrollBar;
class WGraphController;

// A chart panel: a chart area with a scroll bar below it for paging back through the
// stored samples, and a graph controller beside them. Live values reach it through
// requestedTraceValue; each chart keeps the values of its own motor/bank and type.
class WDrawer : public QWidget
{
    Q_OBJECT

public:
    explicit WDrawer(QWidget* parent = nullptr);

    // Samples kept per chart added from now on; the scroll bar then shows the newest.
    void setBufferSize(int n);
    void setName(const QString& name);
    QString name() const;
    void addChart(char motorBank, char type, const QString& name, const QColor& color);
    void addChart(char motorBank, char type, int valueFormat, const QString& name,
                  const QColor& color);
    // The distinct type numbers of the charts added, in order of first addition: the
    // values this panel wants polled.
    QList<char> traceTypes() const { return m_traceTypes; }
    // The area's own chart list.
    QList<Chart*>& charts();
    void removeChart(char motorBank, char type);
    // Asks once for the value of each chart, in list order.
    void updateLiveVales();
    // Empties every chart, as "Clear charts" does.
    void clearCharts();

    DrawerArea* area() const { return m_area; }

signals:
    void getAxisParameter(char motorBank, char type);

public slots:
    void startDrawing();
    void stopDrawing();
    void requestedTraceValue(char motorBank, char typeNumber, int value);
    void handleChangedChartWidth(int width);
    void handleChangedResolution(int resolution);

private slots:
    void scrollBarValueChanged(int value);

private:
    DrawerArea* m_area;
    WGraphController* m_graphController;
    QScrollBar* m_scrollBar;
    QList<char> m_traceTypes;
};

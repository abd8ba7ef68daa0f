#pragma once

#include "config/Poller.h"

#include <QColor>
#include <QList>
#include <QString>
#include <QWidget>

class Chart;
class DrawerArea;
class QAction;
class QScrollBar;
class QToolButton;
class WGraphController;

// A chart panel: a chart area with a scroll bar below it for paging back through the
// stored samples, and a graph controller beside them. Live values reach it through
// requestedTraceValue; each chart keeps the values of its own motor/bank and type.
//
// The area's context menu offers "Pause", "Keep as reference", "Clear reference", "Save
// picture…", "Save picture at double size…", "Save samples…" and "Automatic view"; Pause
// and Save picture are also small buttons beside the chart.
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
    bool isPaused() const;

    // A PNG of the chart (the area: plot, axes, legend) at its size times `scale` (1 or 2).
    // false, with the reason, if it could not be written.
    bool savePicture(const QString& fileName, int scale, QString* error = nullptr);
    // The samples of the charts shown (those of the frozen picture while paused) as CSV.
    bool saveSamples(const QString& fileName, QString* error = nullptr);

    QAction* pauseAction() const { return m_pause; }

signals:
    void getAxisParameter(char motorBank, char type);
    void pausedChanged(bool paused);

public slots:
    void startDrawing();
    void stopDrawing();
    void requestedTraceValue(char motorBank, char typeNumber, int value);
    // A polled value with the time its reply arrived; one the module refused, or that may
    // answer another request, is no value and is left out.
    void takeSample(const PollSample& sample);
    void handleChangedChartWidth(int width);
    void handleChangedResolution(int resolution);
    // Freezes the picture while values keep arriving; going on shows the newest again.
    void setPaused(bool paused);
    // The values come from the module at this port and address from now on; a switch from
    // another module is marked on the chart ("address 3").
    void moduleOpened(const QString& port, int address);

private slots:
    void scrollBarValueChanged(int value);

private:
    void createActions();
    QAction* newAction(const QString& text, const char* name, const QString& toolTip);
    // Ask for a file, save, and say so if it failed.
    void askAndSavePicture(int scale);
    void askAndSaveSamples();
    void showPaused(bool paused);

    DrawerArea* m_area;
    WGraphController* m_graphController;
    QScrollBar* m_scrollBar;
    QList<char> m_traceTypes;
    QAction* m_pause = nullptr;
    QAction* m_keepReference = nullptr;
    QAction* m_clearReference = nullptr;
    QAction* m_savePicture = nullptr;
    QAction* m_savePictureDouble = nullptr;
    QAction* m_saveSamples = nullptr;
    QAction* m_automaticView = nullptr;
};

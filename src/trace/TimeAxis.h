#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <functional>

class QPainter;
struct PlotGeometry;

// What a chart area draws along its time axis, from the times its samples were taken: time
// labels in seconds in the strip below the axis, at round times far enough apart that no two
// touch, and the marks of a switch to another module, each a vertical line through the plot
// with its text at the top.
namespace TimeAxis {

// A moment on the area's clock (ms) and the words shown at it.
struct Mark
{
    qint64 time;
    QString text;
};

// The time of the sample shown in a column counted back from the newest (0), or
// Chart::NoTime where none is shown or it carries no time.
using ColumnTime = std::function<qint64(int column)>;

// The step between two labels, in ms: 1, 2 or 5 times a power of ten, at least `least`.
qint64 labelStep(double least);

// The text of a label: seconds since `origin`, with as many decimals as the step needs.
QString labelText(qint64 time, qint64 origin, qint64 step);

// Draws the labels and the marks. `origin` is the time that reads 0 s.
void paint(QPainter& painter, const PlotGeometry& plot, int widgetWidth, const ColumnTime& timeAt,
           qint64 origin, const QList<Mark>& marks);

} // namespace TimeAxis

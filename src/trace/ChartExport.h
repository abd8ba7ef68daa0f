#pragma once

#include <QList>
#include <QString>

class Chart;
class QWidget;

// What a chart panel saves for a report or for another program: a picture of the panel, and
// the samples its charts hold.
namespace ChartExport {

// The samples as CSV: a header row, then one row per sample. The rows line up the charts'
// newest samples, as the picture does; a chart that holds fewer samples than another has
// empty fields at the top. The first column is "time_ms", the milliseconds from `origin`
// when every sample carries its time, or else "sample", the row's index from 0; then one
// column per chart, headed by its name.
QString samplesCsv(const QList<const Chart*>& charts, qint64 origin);
// Writes samplesCsv() to the file, whole or not at all. false, with the reason, if it
// could not be written.
bool saveSamples(const QString& fileName, const QList<const Chart*>& charts, qint64 origin,
                 QString* error);

// A PNG of the widget as it is on the screen, at its size times `scale` (1, or 2 for a
// sharper picture in a report). false, with the reason, if it could not be written.
bool savePicture(const QString& fileName, QWidget* widget, int scale, QString* error);

// "Velocity_20240131_14.05.09": the panel's name, fit for a file name, and the time now.
QString defaultBaseName(const QString& panelName);

} // namespace ChartExport

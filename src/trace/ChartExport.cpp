#include "trace/ChartExport.h"

#include "config/CsvRecorder.h"
#include "config/FileTarget.h"
#include "trace/Chart.h"

#include <QBuffer>
#include <QDateTime>
#include <QImage>
#include <QImageWriter>
#include <QRegularExpression>
#include <QStringList>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {

// Whole numbers in full; others as the shortest text that reads back as the same number.
QString formatSample(double value)
{
    if (std::isfinite(value) && value == std::trunc(value) && std::abs(value) < 1e15)
        return QString::number(static_cast<qint64>(value));
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

} // namespace

namespace ChartExport {

QString samplesCsv(const QList<const Chart*>& charts, qint64 origin)
{
    int rows = 0;
    bool timed = origin != Chart::NoTime;
    for (const Chart* chart : charts) {
        rows = std::max(rows, chart->sampleCount());
        for (int i = 0; i < chart->sampleCount() && timed; ++i)
            timed = chart->time(i) != Chart::NoTime;
    }
    QStringList header{timed ? CsvRecorder::TimeColumn : QStringLiteral("sample")};
    for (const Chart* chart : charts)
        header << CsvRecorder::field(chart->name());
    QString text = header.join(QLatin1Char(',')) + QLatin1Char('\n');

    for (int row = 0; row < rows; ++row) {
        QStringList fields{QString()};
        for (const Chart* chart : charts) {
            // Lined up at the newest sample.
            const int index = row - (rows - chart->sampleCount());
            if (index < 0) {
                fields << QString();
                continue;
            }
            if (fields.first().isEmpty())
                fields.first() =
                    timed ? QString::number(chart->time(index) - origin) : QString::number(row);
            fields << formatSample(chart->sample(index));
        }
        text += fields.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return text;
}

namespace {

// A file that cannot take the export is refused; otherwise it is written beside and put in
// place only when every byte reached the disk.
bool writeWhole(const QString& fileName, const QByteArray& content, QString* error)
{
    const QString problem = FileTarget::problem(fileName);
    if (!problem.isEmpty()) {
        if (error)
            *error = problem;
        return false;
    }
    return FileTarget::replace(fileName, content, error);
}

} // namespace

bool saveSamples(const QString& fileName, const QList<const Chart*>& charts, qint64 origin,
                 QString* error)
{
    // Through the checked writer of the exports: a full disk leaves an older file as it was.
    return writeWhole(fileName, samplesCsv(charts, origin).toUtf8(), error);
}

bool savePicture(const QString& fileName, QWidget* widget, int scale, QString* error)
{
    scale = std::max(1, scale);
    QImage image(widget->size() * scale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(widget->palette().window().color());
    widget->render(&image);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image)) {
        if (error)
            *error = writer.errorString();
        return false;
    }
    return writeWhole(fileName, png, error);
}

QString defaultBaseName(const QString& panelName)
{
    QString name = panelName;
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]+")), QStringLiteral("-"));
    return name + QDateTime::currentDateTime().toString(QStringLiteral("_yyyyMMdd_hh.mm.ss"));
}

} // namespace ChartExport

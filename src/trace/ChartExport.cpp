#include "ChartExport.h"

#include "Chart.h"
#include "CsvRecorder.h"

#include <QDateTime>
#include <QImage>
#include <QImageWriter>
#include <QRegularExpression>
#include <QSaveFile>
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

bool saveSamples(const QString& fileName, const QList<const Chart*>& charts, qint64 origin,
                 QString* error)
{
    QSaveFile file(fileName);
    const QByteArray bytes = samplesCsv(charts, origin).toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool savePicture(const QString& fileName, QWidget* widget, int scale, QString* error)
{
    scale = std::max(1, scale);
    QImage image(widget->size() * scale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(widget->palette().window().color());
    widget->render(&image);
    QImageWriter writer(fileName, "png");
    if (!writer.write(image)) {
        if (error)
            *error = writer.errorString();
        return false;
    }
    return true;
}

QString defaultBaseName(const QString& panelName)
{
    QString name = panelName;
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]+")), QStringLiteral("-"));
    return name + QDateTime::currentDateTime().toString(QStringLiteral("_yyyyMMdd_hh.mm.ss"));
}

} // namespace ChartExport

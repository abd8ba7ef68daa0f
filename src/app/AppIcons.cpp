#include "app/AppIcons.h"

#include <QAction>
#include <QHash>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QToolBar>

#include <cmath>
#include <functional>

namespace {

using Drawing = std::function<void(QPainter&)>;

// Everything is drawn on a 32 x 32 grid and scaled to the size asked for.
const QColor Ink(60, 60, 60);
const QColor Paper(250, 250, 250);
const QColor Red(200, 40, 40);
const QColor Blue(40, 100, 190);
const QColor Green(40, 140, 60);

void page(QPainter& p)
{
    QPainterPath outline;
    outline.moveTo(7, 3);
    outline.lineTo(19, 3);
    outline.lineTo(25, 9);
    outline.lineTo(25, 29);
    outline.lineTo(7, 29);
    outline.closeSubpath();
    p.setPen(QPen(Ink, 1.5));
    p.setBrush(Paper);
    p.drawPath(outline);
    p.drawLine(QPointF(19, 3), QPointF(19, 9));
    p.drawLine(QPointF(19, 9), QPointF(25, 9));
}

// An arrow from (x, y1) to (x, y2) in the colour.
void arrow(QPainter& p, double x, double y1, double y2, const QColor& colour)
{
    p.setPen(QPen(colour, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(x, y1), QPointF(x, y2));
    const double head = y2 > y1 ? -5 : 5;
    p.drawLine(QPointF(x, y2), QPointF(x - 5, y2 + head));
    p.drawLine(QPointF(x, y2), QPointF(x + 5, y2 + head));
}

const QHash<QString, Drawing>& drawings()
{
    static const QHash<QString, Drawing> table = {
        {QStringLiteral("process-stop"),
         [](QPainter& p) {
             QPolygonF octagon;
             for (const QPointF& point :
                  {QPointF(11, 2), QPointF(21, 2), QPointF(30, 11), QPointF(30, 21),
                   QPointF(21, 30), QPointF(11, 30), QPointF(2, 21), QPointF(2, 11)})
                 octagon << point;
             p.setPen(QPen(Qt::white, 2));
             p.setBrush(Red);
             p.drawPolygon(octagon);
             p.fillRect(QRectF(8, 14, 16, 4), Qt::white);
         }},
        {QStringLiteral("media-playback-pause"),
         [](QPainter& p) {
             p.fillRect(QRectF(8, 6, 6, 20), Ink);
             p.fillRect(QRectF(18, 6, 6, 20), Ink);
         }},
        {QStringLiteral("media-record"),
         [](QPainter& p) {
             p.setPen(Qt::NoPen);
             p.setBrush(Red);
             p.drawEllipse(QRectF(6, 6, 20, 20));
         }},
        {QStringLiteral("document-save"),
         [](QPainter& p) {
             page(p);
             arrow(p, 16, 11, 25, Blue);
         }},
        {QStringLiteral("document-save-as"),
         [](QPainter& p) {
             page(p);
             arrow(p, 16, 11, 25, Green);
         }},
        {QStringLiteral("document-open"),
         [](QPainter& p) {
             page(p);
             arrow(p, 16, 25, 11, Blue);
         }},
        {QStringLiteral("document-export"),
         [](QPainter& p) {
             page(p);
             p.setPen(QPen(Ink, 1.5));
             for (int y : {13, 17, 21, 25})
                 p.drawLine(QPointF(10, y), QPointF(21, y));
         }},
        {QStringLiteral("document-revert"),
         [](QPainter& p) {
             page(p);
             p.setPen(QPen(Blue, 3, Qt::SolidLine, Qt::RoundCap));
             p.drawArc(QRectF(10, 12, 12, 12), 90 * 16, 270 * 16);
             p.drawLine(QPointF(16, 12), QPointF(12, 9));
         }},
        {QStringLiteral("x-office-document"),
         [](QPainter& p) {
             page(p);
             p.setPen(QPen(Green, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
             p.drawLine(QPointF(11, 19), QPointF(15, 23));
             p.drawLine(QPointF(15, 23), QPointF(22, 13));
         }},
        {QStringLiteral("edit-find"),
         [](QPainter& p) {
             p.setPen(QPen(Ink, 3));
             p.setBrush(Paper);
             p.drawEllipse(QRectF(5, 5, 15, 15));
             p.setPen(QPen(Ink, 4, Qt::SolidLine, Qt::RoundCap));
             p.drawLine(QPointF(18, 18), QPointF(27, 27));
         }},
        {QStringLiteral("application-exit"),
         [](QPainter& p) {
             p.setPen(QPen(Ink, 2));
             p.setBrush(Paper);
             p.drawRect(QRectF(4, 4, 14, 24));
             p.setPen(QPen(Red, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
             p.drawLine(QPointF(12, 16), QPointF(28, 16));
             p.drawLine(QPointF(28, 16), QPointF(23, 11));
             p.drawLine(QPointF(28, 16), QPointF(23, 21));
         }},
        {QStringLiteral("help-about"),
         [](QPainter& p) {
             p.setPen(Qt::NoPen);
             p.setBrush(Blue);
             p.drawEllipse(QRectF(3, 3, 26, 26));
             p.fillRect(QRectF(14, 14, 4, 10), Qt::white);
             p.fillRect(QRectF(14, 8, 4, 4), Qt::white);
         }},
        {QStringLiteral("view-statistics"),
         [](QPainter& p) {
             // A sine whose swing falls with the frequency: the loop's response.
             p.setPen(QPen(Ink, 2));
             p.setBrush(Paper);
             p.drawRect(QRectF(3, 5, 26, 22));
             p.setPen(QPen(Blue, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
             QPainterPath wave;
             wave.moveTo(6, 16);
             for (int x = 6; x <= 26; ++x)
                 wave.lineTo(x,
                             16 - (8.0 - 0.3 * (x - 6)) * std::sin((x - 6) * 0.2 * (x - 4) / 6.0));
             p.setBrush(Qt::NoBrush);
             p.drawPath(wave);
         }},
        {QStringLiteral("preferences-system"),
         [](QPainter& p) {
             // A knob turned part of the way.
             p.setPen(QPen(Ink, 2));
             p.setBrush(Paper);
             p.drawEllipse(QRectF(5, 5, 22, 22));
             p.setPen(QPen(Red, 3, Qt::SolidLine, Qt::RoundCap));
             p.drawLine(QPointF(16, 16), QPointF(23, 10));
         }},
        {QStringLiteral("utilities-system-monitor"),
         [](QPainter& p) {
             p.setPen(QPen(Ink, 2));
             p.setBrush(Paper);
             p.drawRect(QRectF(3, 5, 26, 22));
             p.setPen(QPen(Red, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
             QPainterPath step;
             step.moveTo(6, 23);
             step.lineTo(12, 23);
             step.cubicTo(14, 8, 17, 8, 20, 12);
             step.lineTo(26, 11);
             p.setBrush(Qt::NoBrush);
             p.drawPath(step);
         }},
        {QStringLiteral("text-x-generic"),
         [](QPainter& p) {
             p.setPen(QPen(Ink, 2));
             p.setBrush(Paper);
             p.drawRect(QRectF(4, 5, 24, 22));
             p.setPen(QPen(Ink, 1.5));
             for (int y : {11, 15, 19, 23})
                 p.drawLine(QPointF(8, y), QPointF(y == 23 ? 17 : 24, y));
         }},
    };
    return table;
}

QIcon drawn(const Drawing& draw)
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 32.0, size / 32.0);
        draw(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// The entries that carry an icon, by their text, and the icon's standard name.
const QHash<QString, QString>& entryIcons()
{
    static const QHash<QString, QString> table = {
        {QStringLiteral("&Export settings to *.ini"), QStringLiteral("document-save-as")},
        {QStringLiteral("&Import settings from *.ini"), QStringLiteral("document-open")},
        {QStringLiteral("Co&mpare with settings file…"), QStringLiteral("edit-find")},
        {QStringLiteral("Save commissioning recor&d…"), QStringLiteral("x-office-document")},
        {QStringLiteral("Export settings to &VOKT"), QStringLiteral("document-export")},
        {QStringLiteral("&Store actual values"), QStringLiteral("document-save")},
        {QStringLiteral("&Restore actual values"), QStringLiteral("document-revert")},
        {QStringLiteral("Record live values to &CSV…"), QStringLiteral("media-record")},
        {QStringLiteral("E&xit"), QStringLiteral("application-exit")},
        {QStringLiteral("&Log"), QStringLiteral("text-x-generic")},
        {QStringLiteral("&Pause charts\tSpace"), QStringLiteral("media-playback-pause")},
        {QStringLiteral("Pause charts"), QStringLiteral("media-playback-pause")},
        {QStringLiteral("&Step response…"), QStringLiteral("utilities-system-monitor")},
        {QStringLiteral("&Frequency response…"), QStringLiteral("view-statistics")},
        {QStringLiteral("&Tune velocity loop…"), QStringLiteral("preferences-system")},
        {QStringLiteral("&Commission modules on the line…"), QStringLiteral("x-office-document")},
        {QStringLiteral("&About"), QStringLiteral("help-about")},
        {QStringLiteral("Stop motor"), QStringLiteral("process-stop")},
    };
    return table;
}

void applyTo(const QList<QAction*>& actions)
{
    for (QAction* action : actions) {
        if (QMenu* menu = action->menu())
            applyTo(menu->actions());
        const auto name = entryIcons().constFind(action->text());
        if (name != entryIcons().constEnd() && action->icon().isNull())
            action->setIcon(AppIcons::themed(*name));
    }
}

} // namespace

namespace AppIcons {

QIcon themed(const QString& name)
{
    const auto draw = drawings().constFind(name);
    return QIcon::fromTheme(name, draw == drawings().constEnd() ? QIcon() : drawn(*draw));
}

void apply(QMainWindow* window)
{
    applyTo(window->menuBar()->actions());
    for (QToolBar* bar : window->findChildren<QToolBar*>()) {
        bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        // As high as the buttons' texts: the icons add no height to the window.
        bar->setIconSize(QSize(16, 16));
        applyTo(bar->actions());
    }
}

} // namespace AppIcons

#include "app/ScreenFit.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>

namespace {

constexpr int TaskBarAllowance = 40;

} // namespace

namespace ScreenFit {

QRect freeArea(const QRect& available, const QRect& screen)
{
    QRect area = available;
    if (area.height() >= screen.height())
        area.setHeight(screen.height() - TaskBarAllowance);
    return area;
}

void keepOnScreen(QWidget* window)
{
    const QScreen* screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = freeArea(screen->availableGeometry(), screen->geometry());
    // The window's own size within the free area's, as on a first start; its frame (a title
    // bar) counts where it is placed.
    const QSize frame = window->frameGeometry().size() - window->geometry().size();
    const QSize largest = area.size().expandedTo(window->minimumSize());
    const QSize size = window->size().boundedTo(largest);
    if (size != window->size())
        window->resize(size);
    const QRect outer(window->frameGeometry().topLeft(), size + frame);
    QPoint topLeft = outer.topLeft();
    topLeft.setX(std::clamp(topLeft.x(), area.left(),
                            std::max(area.left(), area.right() + 1 - outer.width())));
    topLeft.setY(std::clamp(topLeft.y(), area.top(),
                            std::max(area.top(), area.bottom() + 1 - outer.height())));
    if (topLeft != outer.topLeft())
        window->move(topLeft);
}

void keepHeight(QWidget* window, int height)
{
    // The layout grows the window on its next turn of the event loop.
    QTimer::singleShot(0, window, [window = QPointer<QWidget>(window), height] {
        if (window && window->height() > height)
            window->resize(window->width(), std::max(height, window->minimumSizeHint().height()));
    });
}

} // namespace ScreenFit

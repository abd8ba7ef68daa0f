#pragma once

#include <QRect>
#include <QSize>

class QWidget;

// The window on its screen: never larger than the screen's free area, wherever a remembered
// geometry or a dock that opened would put it.
namespace ScreenFit {

// The free area of a screen: what the platform reports as available, less room for a task
// bar of 40 pixels where it reports none.
QRect freeArea(const QRect& available, const QRect& screen);

// Shrinks a top-level window that is larger than the free area of its screen to fit it (not
// below its minimum size) and moves it back inside where it lies partly outside. Nothing
// happens without a screen.
void keepOnScreen(QWidget* window);

// Gives a window that grows taller from now on (a dock that opened) the height it has now
// back, once the growth has happened, as far as its minimum size allows.
void keepHeight(QWidget* window, int height);

} // namespace ScreenFit

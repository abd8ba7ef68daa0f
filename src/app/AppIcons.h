#pragma once

#include <QIcon>

class QMainWindow;

// The icons of the window's menus and tool bar: the desktop theme's standard ones where the
// theme has them, otherwise the tool's own simple drawings of the same things.
namespace AppIcons {

// The theme's icon of this standard name, or the tool's drawing for it (an empty icon for
// a name the tool draws nothing for).
QIcon themed(const QString& name);

// Gives every menu entry and tool bar button of the window that has a standard icon its icon
// (by the entry's text), and lets the tool bar show its buttons' texts beside them.
void apply(QMainWindow* window);

} // namespace AppIcons

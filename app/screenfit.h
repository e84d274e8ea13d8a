#pragma once

#include <QSize>

class QWidget;

// Where a top-level window opens: inside the screen's available area, at
// every scale, with every control on the screen.
namespace ScreenFit {

// What the screen leaves for the window's contents once its frame is drawn.
QSize room(const QWidget *window);

// The size a window would like, shrunk to the room but never below the
// smallest size its controls need.
QSize fitted(const QSize &wanted, const QSize &minimum, const QSize &room);

// Sizes the window before it first shows; a window that is no dialog is
// also placed over its parent (or in the middle), inside the available area.
void place(QWidget *window, const QSize &wanted);

} // namespace ScreenFit

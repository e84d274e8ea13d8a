#include "app/screenfit.h"

#include <QDialog>
#include <QRect>
#include <QScreen>
#include <QStyle>
#include <QWidget>

namespace ScreenFit {

QSize room(const QWidget *window)
{
    const QScreen *screen = window->screen();
    if (!screen)
        return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    QSize size = screen->availableGeometry().size();
    const QSize frame = window->frameGeometry().size() - window->geometry().size();
    // Before the window manager has framed the window its title bar and
    // borders are a guess.
    if (frame.height() > 0) {
        size -= frame;
    } else {
        const int border = 2 * window->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
        size -= QSize(border, border + window->style()->pixelMetric(QStyle::PM_TitleBarHeight));
    }
    return size;
}

QSize fitted(const QSize &wanted, const QSize &minimum, const QSize &room)
{
    return wanted.boundedTo(room).expandedTo(minimum);
}

void place(QWidget *window, const QSize &wanted)
{
    const QSize size = fitted(wanted, window->minimumSizeHint(), room(window));
    window->resize(size);
    const QScreen *screen = window->screen();
    // A dialog centres itself over its parent and keeps to the screen.
    if (!screen || qobject_cast<QDialog *>(window))
        return;
    const QRect area = screen->availableGeometry();
    const QWidget *parent = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    QRect frame(QPoint(0, 0), size + (area.size() - room(window)).expandedTo(QSize(0, 0)));
    frame.moveCenter(parent && parent->isVisible() ? parent->frameGeometry().center() : area.center());
    frame.moveLeft(qBound(area.left(), frame.left(), qMax(area.left(), area.right() - frame.width() + 1)));
    frame.moveTop(qBound(area.top(), frame.top(), qMax(area.top(), area.bottom() - frame.height() + 1)));
    window->move(frame.topLeft());
}

} // namespace ScreenFit

#include "app/statusline.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace {

bool cutShort(const QWidget *w, const QString &text, int width)
{
    return w->fontMetrics().horizontalAdvance(text) > width;
}

} // namespace

ElidingStatusBar::ElidingStatusBar(QWidget *parent)
    : QStatusBar(parent)
{
    connect(this, &QStatusBar::messageChanged, this, &ElidingStatusBar::updateToolTip);
}

QRect ElidingStatusBar::messageRect() const
{
    // As the bar lays its message out: from its left edge to the first
    // permanent widget.
    int right = width() - 12;
    for (const QWidget *w : findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (w->isVisible() && w->x() > 0)
            right = qMin(right, w->x() - 2);
    }
    return QRect(6, 0, qMax(0, right - 6), height());
}

bool ElidingStatusBar::elided() const
{
    return cutShort(this, currentMessage(), messageRect().width());
}

void ElidingStatusBar::updateToolTip()
{
    setToolTip(elided() ? currentMessage() : QString());
}

void ElidingStatusBar::resizeEvent(QResizeEvent *event)
{
    QStatusBar::resizeEvent(event);
    updateToolTip();
}

void ElidingStatusBar::paintEvent(QPaintEvent *event)
{
    const QString message = currentMessage();
    if (message.isEmpty()) {
        QStatusBar::paintEvent(event);
        return;
    }
    // The bar would draw the message cut at its edge; it draws the rest.
    QPainter p(this);
    QStyleOption option;
    option.initFrom(this);
    style()->drawPrimitive(QStyle::PE_PanelStatusBar, &option, &p, this);
    const QRect rect = messageRect();
    p.setPen(palette().windowText().color());
    p.drawText(rect, Qt::AlignLeading | Qt::AlignVCenter | Qt::TextSingleLine,
               fontMetrics().elidedText(message, Qt::ElideRight, rect.width()));
}

bool ElidingLabel::elided() const
{
    return cutShort(this, text(), contentsRect().width() - 2 * margin());
}

QSize ElidingLabel::minimumSizeHint() const
{
    // Room for a few letters and the ellipsis; the rest goes to neighbours.
    const QSize whole = QLabel::minimumSizeHint();
    return QSize(qMin(whole.width(), fontMetrics().horizontalAdvance(QStringLiteral("Mmmm…"))), whole.height());
}

void ElidingLabel::paintEvent(QPaintEvent *event)
{
    if (!elided()) {
        setToolTip(QString());
        QLabel::paintEvent(event);
        return;
    }
    setToolTip(text());
    QPainter p(this);
    const QRect rect = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    p.setPen(palette().windowText().color());
    p.drawText(rect, int(alignment()) | Qt::TextSingleLine,
               fontMetrics().elidedText(text(), Qt::ElideRight, rect.width()));
}

#pragma once

#include <QLabel>
#include <QStatusBar>

// A status bar whose message never runs off its edge: a message longer than
// the room beside the permanent part is drawn cut short with an ellipsis,
// and the whole of it is the bar's tooltip and accessible description.
class ElidingStatusBar : public QStatusBar
{
    Q_OBJECT

public:
    explicit ElidingStatusBar(QWidget *parent = nullptr);

    // Whether the message shown is drawn cut short.
    bool elided() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QRect messageRect() const;
    void updateToolTip();
};

// A label of one line that gives way to its neighbours: it is drawn cut
// short with an ellipsis, its whole text its tooltip and accessible
// description. text() is always the whole text.
class ElidingLabel : public QLabel
{
    Q_OBJECT

public:
    using QLabel::QLabel;

    bool elided() const;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};

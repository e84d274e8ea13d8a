#pragma once

#include <QProxyStyle>

// The desktop's own style, except that the text of a closed combo box that
// would be cut short by a pixel or two is drawn with its letters closer.
// The control-code pickers are narrow: "NULL" misses its box by a pixel in
// the usual fonts. A font of their own would do the same, but a combo box
// given a font builds its list at once, three lists before the window can
// show; drawing tighter changes nothing but the pixels.
class AppStyle : public QProxyStyle
{
public:
    // The style named by key, the one the application would have used.
    explicit AppStyle(const QString &key)
        : QProxyStyle(key)
    {
    }

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget = nullptr) const override;
};

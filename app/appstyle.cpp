#include "app/appstyle.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QStyleOptionComboBox>

namespace {

// Half a pixel between letters: enough for "NULL" at every scale from 1x to
// 2x, little enough that the letters stay apart.
constexpr qreal Tighter = -0.5;

} // namespace

void AppStyle::drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                           const QWidget *widget) const
{
    const auto *combo = qstyleoption_cast<const QStyleOptionComboBox *>(option);
    if (element != CE_ComboBoxLabel || !combo || combo->editable || combo->currentText.isEmpty()) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    const QRect field = subControlRect(CC_ComboBox, combo, SC_ComboBoxEditField, widget);
    // The label is drawn a pixel inside the field on either side.
    if (QFontMetricsF(painter->font()).horizontalAdvance(combo->currentText) <= field.width() - 2) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    painter->save();
    QFont tight = painter->font();
    tight.setLetterSpacing(QFont::AbsoluteSpacing, Tighter);
    painter->setFont(tight);
    QProxyStyle::drawControl(element, option, painter, widget);
    painter->restore();
}

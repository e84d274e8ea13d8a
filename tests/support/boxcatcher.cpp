#include "boxcatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTest>

BoxCatcher::BoxCatcher(QMessageBox::StandardButton answer)
    : answer(answer)
{
    connect(&timer, &QTimer::timeout, this, &BoxCatcher::poll);
    timer.start(10);
}

QStringList BoxCatcher::texts() const
{
    QStringList out;
    for (const SeenBox &box : boxes)
        out.append(box.text);
    return out;
}

void BoxCatcher::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    // Boxes live on the stack of the static QMessageBox functions, so two
    // boxes in a row may share an address: mark the object, not the pointer.
    if (!box || !box->isVisible() || box->property("boxCatcherSeen").toBool())
        return;
    box->setProperty("boxCatcherSeen", true);

    SeenBox seen;
    seen.icon = box->icon();
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.buttons = box->standardButtons();
    seen.hasParent = box->parentWidget() != nullptr;
    boxes.append(seen);
    if (onBox)
        onBox(seen);

    QPointer<QMessageBox> guard(box);
    if (answer != QMessageBox::NoButton) {
        if (QAbstractButton *button = box->button(answer)) {
            button->click();
            return;
        }
    }
    if (guard)
        QTest::keyClick(box, Qt::Key_Escape);
}

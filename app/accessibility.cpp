#include "accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QStatusBar>
#include <QVariant>

namespace {

constexpr char HiddenProperty[] = "tavrinAccessibleHidden";
constexpr char StatusLineProperty[] = "tavrinStatusLine";

bool isHidden(const QObject *object)
{
    return object->property(HiddenProperty).toBool();
}

// A widget that holds hidden ones lists only the others as its children.
// Group boxes keep their title as their name and their grouping role.
class SkippingParent : public QAccessibleWidget
{
public:
    explicit SkippingParent(QWidget *w)
        : QAccessibleWidget(w, qobject_cast<QGroupBox *>(w) ? QAccessible::Grouping : QAccessible::Client)
    {
    }

    int childCount() const override { return int(children().size()); }

    QAccessibleInterface *child(int index) const override
    {
        const QList<QWidget *> list = children();
        return index >= 0 && index < list.size() ? QAccessible::queryAccessibleInterface(list.at(index)) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child ? int(children().indexOf(qobject_cast<QWidget *>(child->object()))) : -1;
    }

    QString text(QAccessible::Text t) const override
    {
        const auto *box = qobject_cast<QGroupBox *>(widget());
        if (t == QAccessible::Name && box && widget()->accessibleName().isEmpty())
            return QString(box->title()).remove(QLatin1Char('&'));
        return QAccessibleWidget::text(t);
    }

private:
    QList<QWidget *> children() const
    {
        QList<QWidget *> list;
        for (QObject *o : widget()->children()) {
            auto *w = qobject_cast<QWidget *>(o);
            if (w && !w->isWindow() && !isHidden(w))
                list.append(w);
        }
        return list;
    }
};

// On Linux a combo box says its current item as its name, whatever name it
// was given. This one says its name (or its label's text), and its item as
// its value; only one without either says its item as its name.
class NamedComboBox : public QAccessibleWidget
{
public:
    explicit NamedComboBox(QWidget *w)
        : QAccessibleWidget(w, QAccessible::ComboBox)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        QString item = static_cast<QComboBox *>(widget())->currentText();
        if (t == QAccessible::Value)
            return item;
        const QString own = QAccessibleWidget::text(t);
        return t == QAccessible::Name && own.isEmpty() ? item : own;
    }

    QStringList actionNames() const override { return QAccessibleWidget::actionNames() << showMenuAction(); }

    void doAction(const QString &action) override
    {
        if (action == showMenuAction())
            static_cast<QComboBox *>(widget())->showPopup();
        else
            QAccessibleWidget::doAction(action);
    }
};

class StatusLine : public QAccessibleWidget
{
public:
    explicit StatusLine(QWidget *w)
        : QAccessibleWidget(w, QAccessible::StatusBar)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
        {
            if (const auto *label = qobject_cast<QLabel *>(widget()))
                return label->text();
            if (const auto *bar = qobject_cast<QStatusBar *>(widget()))
                return bar->currentMessage();
        }
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface *factory(const QString &, QObject *object)
{
    auto *w = qobject_cast<QWidget *>(object);
    if (!w)
        return nullptr;
    if (w->property(StatusLineProperty).toBool())
        return new StatusLine(w);
    // Decided when the interface is first asked for, which can be as soon
    // as the widget is made, before its name or its children are set.
    if (auto *combo = qobject_cast<QComboBox *>(w); combo && !combo->isEditable())
        return new NamedComboBox(w);
    if (qobject_cast<QGroupBox *>(w))
        return new SkippingParent(w);
    for (const QObject *child : w->children())
        if (isHidden(child))
            return new SkippingParent(w);
    return nullptr;
}

} // namespace

namespace Accessibility {

void install()
{
    QAccessible::installFactory(factory);
}

void hide(QWidget *widget)
{
    widget->setFocusPolicy(Qt::NoFocus);
    widget->setProperty(HiddenProperty, true);
}

void makeStatusLine(QWidget *label)
{
    label->setProperty(StatusLineProperty, true);
}

void announceChange(QWidget *label)
{
    QAccessibleEvent event(label, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}

} // namespace Accessibility

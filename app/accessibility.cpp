#include "accessibility.h"

#include "app/statusline.h"

#include <QAccessible>
#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QStatusBar>
#include <QTimer>
#include <QVariant>

namespace {

constexpr char HiddenProperty[] = "tavrinAccessibleHidden";
constexpr char StatusLineProperty[] = "tavrinStatusLine";

bool isHidden(const QObject *object)
{
    return object->property(HiddenProperty).toBool();
}

// Asking the combo for its view would build it.
bool listShown(const QComboBox *combo)
{
    const auto *view = combo ? combo->findChild<QAbstractItemView *>() : nullptr;
    return view && view->isVisible();
}

// The cache may have let an interface go already as the application ends.
void release(QAccessible::Id id)
{
    if (QAccessible::accessibleInterface(id))
        QAccessible::deleteAccessibleInterface(id);
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

// A combo box's list as assistive technology expects to find it: a child
// list whose selected item is the current one. The popup the combo would
// show is not asked for; it is built only when the list first opens. The
// items are told from the combo's model, which holds them from the start.
class ComboItem : public QAccessibleInterface
{
public:
    ComboItem(QComboBox *combo, QAccessibleInterface *list, int row)
        : m_combo(combo)
        , m_list(list)
        , m_row(row)
    {
    }

    bool isValid() const override { return m_combo && m_row < m_combo->count(); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_list->window(); }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessibleInterface *parent() const override { return m_list; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name && isValid() ? m_combo->itemText(m_row) : QString();
    }
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override { return m_list->rect(); }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        s.selectable = true;
        s.invisible = !listShown(m_combo);
        s.selected = m_combo && m_combo->currentIndex() == m_row;
        return s;
    }

private:
    QPointer<QComboBox> m_combo;
    QAccessibleInterface *m_list;
    int m_row;
};

class ComboList : public QAccessibleInterface
{
public:
    ComboList(QComboBox *combo, QAccessibleInterface *box)
        : m_combo(combo)
        , m_box(box)
    {
    }
    ~ComboList() override
    {
        for (QAccessible::Id id : std::as_const(m_items))
            release(id);
    }

    bool isValid() const override { return !m_combo.isNull(); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_box->window(); }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessibleInterface *parent() const override { return m_box; }
    QAccessibleInterface *child(int index) const override
    {
        if (!m_combo || index < 0 || index >= m_combo->count())
            return nullptr;
        // The accessibility cache owns what is registered; release() ends it.
        // NOLINTBEGIN(clang-analyzer-cplusplus.NewDeleteLeaks)
        if (!m_items.contains(index))
            m_items.insert(index, QAccessible::registerAccessibleInterface(
                                      new ComboItem(m_combo, const_cast<ComboList *>(this), index)));
        // NOLINTEND(clang-analyzer-cplusplus.NewDeleteLeaks)
        return QAccessible::accessibleInterface(m_items.value(index));
    }
    int childCount() const override { return m_combo ? m_combo->count() : 0; }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        for (auto it = m_items.begin(); it != m_items.end(); ++it) {
            if (QAccessible::accessibleInterface(it.value()) == child)
                return it.key();
        }
        return -1;
    }
    QString text(QAccessible::Text t) const override { return m_box->text(t); }
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override { return m_box->rect(); }
    QAccessible::Role role() const override { return QAccessible::List; }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        s.invisible = !listShown(m_combo);
        return s;
    }

private:
    QPointer<QComboBox> m_combo;
    QAccessibleInterface *m_box;
    mutable QHash<int, QAccessible::Id> m_items;
};

// On Linux a combo box says its current item as its name, whatever name it
// was given. This one says its name (or its label's text), and its item as
// its value and as the selected item of its one child, the list.
class NamedComboBox : public QAccessibleWidget
{
public:
    explicit NamedComboBox(QWidget *w)
        : QAccessibleWidget(w, QAccessible::ComboBox)
    {
    }
    ~NamedComboBox() override
    {
        if (m_list)
            release(m_list);
    }

    QString text(QAccessible::Text t) const override
    {
        QString item = combo()->currentText();
        if (t == QAccessible::Value)
            return item;
        const QString own = QAccessibleWidget::text(t);
        return t == QAccessible::Name && own.isEmpty() ? item : own;
    }

    int childCount() const override { return 1; }
    QAccessibleInterface *child(int index) const override
    {
        if (index != 0)
            return nullptr;
        // The accessibility cache owns what is registered; release() ends it.
        // NOLINTBEGIN(clang-analyzer-cplusplus.NewDeleteLeaks)
        if (!m_list)
            m_list = QAccessible::registerAccessibleInterface(
                new ComboList(combo(), const_cast<NamedComboBox *>(this)));
        // NOLINTEND(clang-analyzer-cplusplus.NewDeleteLeaks)
        return QAccessible::accessibleInterface(m_list);
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return m_list && child == QAccessible::accessibleInterface(m_list) ? 0 : -1;
    }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }

    QStringList actionNames() const override { return QAccessibleWidget::actionNames() << showMenuAction(); }

    void doAction(const QString &action) override
    {
        if (action == showMenuAction())
            combo()->showPopup();
        else
            QAccessibleWidget::doAction(action);
    }

private:
    QComboBox *combo() const { return static_cast<QComboBox *>(widget()); }
    mutable QAccessible::Id m_list = 0;
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
        // What the line shows cut short is told whole.
        if (t == QAccessible::Description) {
            if (const auto *label = qobject_cast<ElidingLabel *>(widget()); label && label->elided())
                return label->text();
            if (const auto *bar = qobject_cast<ElidingStatusBar *>(widget()); bar && bar->elided())
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
    // A window made of a plain widget would be a "filler" to the desktop: it
    // is a frame, named by its title.
    if (w->windowType() == Qt::Window && !qobject_cast<QMainWindow *>(w))
        return new QAccessibleWidget(w, QAccessible::Window);
    for (const QObject *child : w->children())
        if (isHidden(child))
            return new SkippingParent(w);
    return nullptr;
}

// Hiding a window hands the focus to whatever the desktop picks in the
// window beneath, often not the control the user left.
class FocusReturn : public QObject
{
public:
    FocusReturn(QWidget *opened, QWidget *opener)
        : QObject(opened)
        , m_opener(opener)
    {
        opened->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Hide && watched == parent()) {
            // After the hiding is done with, when the owner is active again.
            QTimer::singleShot(0, m_opener.data(), [opener = m_opener] {
                if (!opener || !opener->isEnabled() || !opener->isVisible())
                    return;
                opener->activateWindow();
                opener->setFocus(Qt::OtherFocusReason);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QPointer<QWidget> m_opener;
};

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

void returnFocusOnClose(QWidget *opened, QWidget *opener)
{
    if (opener)
        new FocusReturn(opened, opener);
}

void announceChange(QWidget *label)
{
    QAccessibleEvent event(label, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}

} // namespace Accessibility

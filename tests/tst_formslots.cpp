// The settings form's own reactions: enable boxes and control-code pickers.
#include "app/mainwindow.h"

#include "support/fakehid.h"
#include "support/windowdriver.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QWheelEvent>

namespace {

// One notch of the mouse wheel over the widget; negative steps go down the list.
void wheel(QWidget *target, int steps)
{
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, 120 * steps), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}

// Opens the picker's list and picks the item with the keyboard, as a user would.
void pick(QComboBox *picker, int index)
{
    picker->showPopup();
    QAbstractItemView *list = picker->view();
    list->setCurrentIndex(picker->model()->index(index, 0));
    QTest::keyClick(list, Qt::Key_Return);
    QCoreApplication::processEvents(); // the list counts as open until its hiding is handled
}

void addStringColumns()
{
    QTest::addColumn<QString>("check");
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("combo");
    QTest::newRow("preamble") << "PreAmbleChk" << "PreAmbleEdit" << "Pre_cmb";
    QTest::newRow("postamble") << "PostAmbleChk" << "PostAmbleEdit" << "Post_cmb";
    QTest::newRow("remove data") << "RemoveDataChk" << "RemoveDataEdit" << "Remove_cmb";
}

} // namespace

class FormSlotsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { FakeHid::reset(); }

    void enableBoxGovernsOnlyItsEdit_data() { addStringColumns(); }
    void enableBoxGovernsOnlyItsEdit();
    void pickerInsertsIntoItsOwnEdit_data() { addStringColumns(); }
    void pickerInsertsIntoItsOwnEdit();
    void pickerInsertsAtTheCursor_data();
    void pickerInsertsAtTheCursor();
    void closedPickerInsertsNothing();
    void outOfRangeIndexInsertsNothing();
};

void FormSlotsTest::enableBoxGovernsOnlyItsEdit()
{
    QFETCH(QString, check);
    QFETCH(QString, edit);
    QFETCH(QString, combo);

    MainWindow w;
    w.SetIButtonControlsEnabled(true);
    auto *box = widget<QCheckBox>(w, check);
    auto *line = widget<QLineEdit>(w, edit);
    line->setText(QStringLiteral("kept"));
    QVERIFY(!box->isChecked() && line->isEnabled());

    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(box->isChecked());
    QVERIFY(line->isEnabled());

    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(!box->isChecked());
    QVERIFY(!line->isEnabled());
    QCOMPARE(line->text(), QStringLiteral("kept"));
    QVERIFY(widget(w, combo)->isEnabled());
    // The other two edits did not follow.
    for (const char *other : {"PreAmbleEdit", "PostAmbleEdit", "RemoveDataEdit"}) {
        if (edit != QLatin1String(other))
            QVERIFY2(widget(w, QLatin1String(other))->isEnabled(), other);
    }

    // The space key on the focused box is a click too.
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Space);
    QVERIFY(box->isChecked() && line->isEnabled());
}

void FormSlotsTest::pickerInsertsIntoItsOwnEdit()
{
    QFETCH(QString, check);
    QFETCH(QString, edit);
    QFETCH(QString, combo);

    MainWindow w;
    auto *picker = widget<QComboBox>(w, combo);
    auto *line = widget<QLineEdit>(w, edit);
    // Disabled, as before any connection: the name goes in all the same.
    QVERIFY(!line->isEnabled());

    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    pick(picker, 0); // already current: a pick all the same
    pick(picker, 13);
    pick(picker, 13);
    picker->setCurrentIndex(5); // not picked by the user: nothing
    pick(picker, 31);
    QCOMPARE(line->text(), QStringLiteral("[NULL][CR][CR][US]"));
    QCOMPARE(picker->currentIndex(), 31);
    for (const char *other : {"PreAmbleEdit", "PostAmbleEdit", "RemoveDataEdit"}) {
        if (edit != QLatin1String(other))
            QVERIFY2(widget<QLineEdit>(w, QLatin1String(other))->text().isEmpty(), other);
    }
}

void FormSlotsTest::pickerInsertsAtTheCursor_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<int>("selectionLength");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("cursorAfter");

    QTest::newRow("between A and B") << "AB" << 1 << 0 << "A[CR]B" << 5;
    QTest::newRow("at the start") << "AB" << 0 << 0 << "[CR]AB" << 4;
    QTest::newRow("over a selection") << "ABCD" << 1 << 2 << "A[CR]D" << 5;
    QTest::newRow("empty") << "" << 0 << 0 << "[CR]" << 4;
}

void FormSlotsTest::pickerInsertsAtTheCursor()
{
    QFETCH(QString, text);
    QFETCH(int, cursor);
    QFETCH(int, selectionLength);
    QFETCH(QString, result);
    QFETCH(int, cursorAfter);

    MainWindow w;
    w.SetIButtonControlsEnabled(true);
    auto *line = widget<QLineEdit>(w, QStringLiteral("PostAmbleEdit"));
    line->setText(text);
    if (selectionLength > 0)
        line->setSelection(cursor, selectionLength);
    else
        line->setCursorPosition(cursor);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    pick(widget<QComboBox>(w, QStringLiteral("Post_cmb")), 13);
    QCOMPARE(line->text(), result);
    QCOMPARE(line->cursorPosition(), cursorAfter);
    QVERIFY(!line->hasSelectedText());
}

void FormSlotsTest::closedPickerInsertsNothing()
{
    MainWindow w;
    w.SetIButtonControlsEnabled(true);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *picker = widget<QComboBox>(w, QStringLiteral("Pre_cmb"));
    auto *line = widget<QLineEdit>(w, QStringLiteral("PreAmbleEdit"));
    // The wheel and the arrow keys over the closed list pass names by.
    wheel(picker, -1);
    wheel(picker, -1);
    picker->setFocus();
    QTest::keyClick(picker, Qt::Key_Down);
    QTest::keyClick(picker, Qt::Key_Up);
    QCOMPARE(picker->currentText(), QStringLiteral("STX"));
    QCoreApplication::processEvents();
    QVERIFY(line->text().isEmpty());
    // A list opened and closed without a pick leaves the wheel as harmless.
    picker->showPopup();
    picker->hidePopup();
    QCoreApplication::processEvents();
    wheel(picker, -1);
    QVERIFY(line->text().isEmpty());
    pick(picker, 2);
    QCOMPARE(line->text(), QStringLiteral("[STX]"));
}

void FormSlotsTest::outOfRangeIndexInsertsNothing()
{
    MainWindow w;
    QVERIFY(QMetaObject::invokeMethod(&w, "Remove_selectChanged", Q_ARG(int, 32)));
    QVERIFY(QMetaObject::invokeMethod(&w, "Pre_selectChanged", Q_ARG(int, -7)));
    QVERIFY(widget<QLineEdit>(w, QStringLiteral("RemoveDataEdit"))->text().isEmpty());
    QVERIFY(widget<QLineEdit>(w, QStringLiteral("PreAmbleEdit"))->text().isEmpty());
}

QTEST_MAIN(FormSlotsTest)
#include "tst_formslots.moc"

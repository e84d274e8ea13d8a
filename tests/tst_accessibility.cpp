// The window as a user without a mouse, with a screen reader or at 2x on a
// 1366 x 768 screen meets it (the whole run is at that scale), and the bytes
// on the wire that --verbose shows.
#include "app/mainwindow.h"
#include "app/provisionwindow.h"

#include "support/fakehid.h"
#include "support/readertestcase.h"
#include "support/windowdriver.h"

#include "ptyreader.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QComboBox>
#include <QGroupBox>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLoggingCategory>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

namespace {

QStringList seen; // wire trace lines

QString nameOf(const MainWindow &w, const char *name, QAccessible::Text text = QAccessible::Name)
{
    return QAccessible::queryAccessibleInterface(widget(w, name))->text(text);
}

QStringList accessibleChildren(const MainWindow &w, const char *name)
{
    QStringList names;
    QAccessibleInterface *parent = QAccessible::queryAccessibleInterface(widget(w, name));
    for (int i = 0; i < parent->childCount(); ++i)
        names << parent->child(i)->object()->objectName();
    return names;
}

// Presses Tab from the focused widget until the focus comes back round.
QStringList tabCycle()
{
    QStringList order;
    while (QWidget *focus = QApplication::focusWidget()) {
        if (!order.isEmpty() && focus->objectName() == order.first())
            break;
        order << focus->objectName();
        QTest::keyClick(focus, Qt::Key_Tab);
        if (order.size() > 60)
            break;
    }
    return order;
}

// The window's Alt+letter keys that more than one control answers.
QStringList clashingMnemonics(const QWidget *window)
{
    QStringList texts;
    for (const QWidget *c : window->findChildren<QWidget *>()) {
        if (c->window() != window || c->property("tavrinAccessibleHidden").toBool())
            continue;
        if (const auto *b = qobject_cast<const QAbstractButton *>(c))
            texts << b->text();
        else if (const auto *l = qobject_cast<const QLabel *>(c); l && l->buddy())
            texts << l->text();
        else if (const auto *g = qobject_cast<const QGroupBox *>(c))
            texts << g->title();
        else if (const auto *m = qobject_cast<const QMenuBar *>(c))
            for (const QAction *a : m->actions())
                texts << a->text();
    }
    QStringList keys;
    QStringList clashes;
    for (const QString &text : texts) {
        const QString key = QKeySequence::mnemonic(text).toString();
        if (!key.isEmpty() && keys.contains(key))
            clashes << key;
        keys << key;
    }
    return clashes;
}

// Shown, connected and active, so that keys reach it.
bool connectAndActivate(MainWindow &w, PtyReader *pty)
{
    w.show();
    if (!QTest::qWaitForWindowExposed(&w) || !(pty ? connectOverSerial(w, *pty) : connectOverUsb(w)))
        return false;
    w.activateWindow();
    return QTest::qWaitForWindowActive(&w);
}

} // namespace

class AccessibilityTest : public ReaderTestCase
{
    Q_OBJECT

private slots:
    void init() { startCase(); }
    void cleanup() { endCase(); }

    void focusFollowsTheForm();
    void inputsAreNamedByTheirLabels();
    void statusLineIsAnnounced();
    void formScrollsOnASmallScreen();
    void unwrittenEditsAreAskedAbout_data();
    void unwrittenEditsAreAskedAbout();
    void wireTraceShowsBothDirections();
    void pickersTellTheirValue();
    void everyWindowByKeyboardAndOnTheScreen();
    void longStatusMessageIsReadWhole();
    void focusGoesBackToTheOpener();
};

void AccessibilityTest::focusFollowsTheForm()
{
    openPty();
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(QApplication::focusWidget(), widget(w, "ConnectBut"));
    QVERIFY(connectAndActivate(w, pty.get()));

    widget(w, "ConnectBut")->setFocus();
    const QStringList setting = tabCycle();
    // Over serial there is no keyboard country to choose.
    QCOMPARE(setting, (QStringList{"ConnectBut", "qt_tabwidget_tabbar", "PreAmbleChk", "PreAmbleEdit", "Pre_cmb",
                                   "PostAmbleChk", "PostAmbleEdit", "Post_cmb", "RemoveDataChk", "RemoveDataEdit",
                                   "Remove_cmb", "AutoReportChk", "BuzzerEnableChk", "IBTOutStartEdit",
                                   "IBTOutLengthEdit", "GetIBTStatusBut", "SetIBTStatusBut", "ChangeModeBut",
                                   "FWUpdateBut", "USBKB_radcmd", "SerialNameEdit"}));
    widget<QTabWidget>(w, "tabWidget")->setCurrentIndex(0);
    widget(w, "ScannerEdit")->setFocus();
    const QStringList output = tabCycle();
    QCOMPARE(output.mid(0, 2), (QStringList{"ScannerEdit", "ClearBut"}));
    QVERIFY(!output.contains("TrigBut") && !setting.contains("TestBut"));
}

void AccessibilityTest::inputsAreNamedByTheirLabels()
{
    MainWindow w;
    const char *const named[][2] = {
        {"SerialNameEdit", "Serial port"},   {"PreAmbleEdit", "Preamble"},
        {"PostAmbleEdit", "Postamble"},      {"RemoveDataEdit", "Remove data"},
        {"Pre_cmb", "Preamble control code"}, {"Post_cmb", "Postamble control code"},
        {"Remove_cmb", "Remove data control code"}, {"IBTOutStartEdit", "Output start"},
        {"IBTOutLengthEdit", "Output length"}, {"KB_cmb", "KB Country"},
        {"ScannerEdit", "Reader output"},    {"PreAmbleChk", "PreAmble Enable"},
    };
    for (const auto &row : named)
        QCOMPARE(nameOf(w, row[0]), QString::fromLatin1(row[1]));
    QCOMPARE(nameOf(w, "Pre_cmb", QAccessible::Value), QStringLiteral("NULL"));
    for (const char *edit : {"PreAmbleEdit", "PostAmbleEdit", "RemoveDataEdit"})
        QVERIFY(nameOf(w, edit, QAccessible::Description).contains(QLatin1String("[CR]")));

    // The widgets nobody can see are not offered; their objects stay.
    const QStringList top = accessibleChildren(w, "centralWidget");
    QVERIFY(top.contains("groupBox_3") && !top.contains("TestBut") && !top.contains("Debuglabel"));
    QCOMPARE(accessibleChildren(w, "groupBox_4"), (QStringList{"ScannerEdit", "ClearBut"}));
    QCOMPARE(nameOf(w, "groupBox_4"), QStringLiteral("Output"));
    QCOMPARE(widget(w, "TestBut")->geometry(), QRect(140, 50, 41, 31));
}

void AccessibilityTest::statusLineIsAnnounced()
{
    MainWindow w;
    QCOMPARE(QAccessible::queryAccessibleInterface(widget(w, "statusLabel"))->role(), QAccessible::StatusBar);
    selectSerialPort(w, QStringLiteral("/dev/tavrin-no-such-port"));
    click(w, "ConnectBut");
    QCOMPARE(nameOf(w, "statusLabel"), w.statusText());

    // A message about a file shows beside the connection's state, which stays.
    w.statusBar()->showMessage(QStringLiteral("Saved the form to reader.json."), 6000);
    QVERIFY(w.statusText().startsWith(QLatin1String("Saved ")));
    QVERIFY(widget<QLabel>(w, "statusLabel")->text().startsWith(QLatin1String("No serial port")));
}

void AccessibilityTest::formScrollsOnASmallScreen()
{
    FakeHid::attach(model.get());
    MainWindow w;
    QVERIFY(connectAndActivate(w, nullptr));
    QCOMPARE(qApp->devicePixelRatio(), 2.0);
    QVERIFY(w.screen()->availableGeometry().contains(w.frameGeometry()));
    // The form keeps its size; Tab brings a button below the fold into view.
    QCOMPARE(widget(w, "centralWidget")->size(), QSize(591, 451));
    auto *scroll = widget<QScrollArea>(w, "formScroll");
    QWidget *set = widget(w, "SetIBTStatusBut");
    widget(w, "GetIBTStatusBut")->setFocus();
    QTest::keyClick(widget(w, "GetIBTStatusBut"), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), set);
    QVERIFY(scroll->viewport()->rect().contains(QRect(set->mapTo(scroll->viewport(), QPoint(0, 0)), set->size())));
}

void AccessibilityTest::unwrittenEditsAreAskedAbout_data()
{
    QTest::addColumn<bool>("quitAction");
    QTest::addColumn<bool>("write");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("closed");

    QTest::newRow("edited, stays") << false << false << int(QMessageBox::No) << false;
    QTest::newRow("edited, Ctrl+Q, quits") << true << false << int(QMessageBox::Yes) << true;
    QTest::newRow("edited and written") << true << true << int(QMessageBox::No) << true;
}

void AccessibilityTest::unwrittenEditsAreAskedAbout()
{
    QFETCH(bool, quitAction);
    QFETCH(bool, write);
    QFETCH(int, answer);
    QFETCH(bool, closed);

    FakeHid::attach(model.get());
    MainWindow w;
    QVERIFY(connectAndActivate(w, nullptr));
    QVERIFY(!w.isWindowModified());
    QTest::keyClicks(widget(w, "IBTOutStartEdit"), QStringLiteral("7"));
    QVERIFY(w.isWindowModified() && w.windowTitle().endsWith(QLatin1String("[*]")));
    if (write) {
        click(w, "SetIBTStatusBut");
        QVERIFY(!w.isWindowModified());
    }
    boxes->boxes.clear();
    boxes->answer = QMessageBox::StandardButton(answer);
    if (quitAction)
        w.findChild<QAction *>(QStringLiteral("actionQuit"))->trigger();
    else
        w.close();

    QCOMPARE(!w.isVisible(), closed);
    const QStringList asked{QStringLiteral("The settings in the form were not written to the reader. Quit anyway?")};
    QCOMPARE(boxes->texts(), write ? QStringList() : asked);
}

void AccessibilityTest::wireTraceShowsBothDirections()
{
    openPty();
    // What both programs' --verbose asks for.
    QLoggingCategory::setFilterRules(QStringLiteral("tavrin.*.debug=true"));
    seen.clear();
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &c, const QString &m) {
        if (qstrcmp(c.category, "tavrin.wire") == 0)
            seen << m;
    });
    MainWindow w;
    const bool connected = connectOverSerial(w, *pty);
    qInstallMessageHandler(previous);
    QVERIFY(connected);
    QCOMPARE(seen.first(), QStringLiteral("serial sent 8: 1b 42 00 00 00 00 00 0d"));
    QVERIFY(!seen.filter(QLatin1String("serial received")).filter(QLatin1String(": 31 42 54 ")).isEmpty());
}

void AccessibilityTest::pickersTellTheirValue()
{
    MainWindow w;
    for (const char *name : {"Pre_cmb", "Post_cmb", "Remove_cmb", "KB_cmb"}) {
        auto *combo = widget<QComboBox>(w, name);
        combo->setCurrentIndex(2);
        QAccessibleInterface *box = QAccessible::queryAccessibleInterface(combo);
        QCOMPARE(box->text(QAccessible::Value), combo->itemText(2));
        // A screen reader finds the item as the selected child of the list.
        QCOMPARE(box->childCount(), 1);
        QAccessibleInterface *list = box->child(0);
        QCOMPARE(list->role(), QAccessible::List);
        QCOMPARE(list->childCount(), combo->count());
        QStringList selected;
        for (int i = 0; i < list->childCount(); ++i)
            if (list->child(i)->state().selected)
                selected << list->child(i)->text(QAccessible::Name);
        QCOMPARE(selected, QStringList{combo->itemText(2)});
        QCOMPARE(list->indexOfChild(list->child(2)), 2);
        // Asking does not build the popup the start-up leaves unmade.
        QVERIFY(!combo->findChild<QAbstractItemView *>());
    }
}

void AccessibilityTest::everyWindowByKeyboardAndOnTheScreen()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(clashingMnemonics(&w), QStringList());
    // Named as a frame or dialog, on the screen whole, and Tab leaves the
    // table for the control after it.
    const auto check = [](QWidget *window, const char *table, QAccessible::Role role) {
        QCOMPARE(clashingMnemonics(window), QStringList());
        QAccessibleInterface *frame = QAccessible::queryAccessibleInterface(window);
        QCOMPARE(frame->role(), role);
        QVERIFY(!frame->text(QAccessible::Name).isEmpty());
        QVERIFY(window->screen()->availableGeometry().contains(window->frameGeometry()));
        // Even under a desktop's title bar of 40 pixels.
        QVERIFY(window->minimumSizeHint().height() <= window->screen()->availableGeometry().height() - 40);
        for (const QPushButton *b : window->findChildren<QPushButton *>())
            QVERIFY(window->rect().contains(QRect(b->mapTo(window, QPoint()), b->size())));
        auto *cells = window->findChild<QWidget *>(QString::fromLatin1(table));
        cells->setFocus();
        QTest::keyClick(cells, Qt::Key_Tab);
        QVERIFY(window->focusWidget() && window->focusWidget() != cells);
    };

    ProvisionWindow *bench = w.openProvisionWindow();
    QVERIFY(QTest::qWaitForWindowActive(bench));
    // An empty bench says what to do, to the eye and to a screen reader.
    const auto *hint = bench->findChild<QLabel *>(QStringLiteral("emptyHint"));
    QVERIFY(!hint->isHidden() && hint->text().contains(QLatin1String("plug in a reader")));
    QCOMPARE(QAccessible::queryAccessibleInterface(bench->findChild<QWidget *>(QStringLiteral("readersTable")))
                 ->text(QAccessible::Description),
             hint->text());
    check(bench, "readersTable", QAccessible::Window);
    bench->close();

    bool checked = false;
    QTimer::singleShot(100, [&] {
        QWidget *history = QApplication::activeModalWidget();
        check(history, "historyTable", QAccessible::Dialog);
        checked = true;
        history->close();
    });
    // A failed check above leaves the dialog open.
    QTimer::singleShot(1000, [] {
        if (QWidget *left = QApplication::activeModalWidget())
            left->close();
    });
    w.findChild<QAction *>(QStringLiteral("actionHistory"))->trigger();
    QVERIFY(checked);
}

void AccessibilityTest::longStatusMessageIsReadWhole()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QAccessibleInterface *bar = QAccessible::queryAccessibleInterface(w.statusBar());
    const QString whole = QStringLiteral("Loaded the settings from before the write of 2026-12-09 23:00:00: press "
                                         "Set Status to write them to the reader.");
    w.statusBar()->showMessage(whole);
    QCOMPARE(bar->text(QAccessible::Name), whole);
    QCOMPARE(bar->text(QAccessible::Description), whole);
    QCOMPARE(w.statusBar()->toolTip(), whole);
    w.statusBar()->showMessage(QStringLiteral("Saved."));
    QCOMPARE(bar->text(QAccessible::Description), QString());
    QCOMPARE(w.statusBar()->toolTip(), QString());
}

void AccessibilityTest::focusGoesBackToTheOpener()
{
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QWidget *opener = widget(w, "ConnectBut");
    opener->setFocus();
    ProvisionWindow *bench = w.openProvisionWindow();
    QVERIFY(QTest::qWaitForWindowActive(bench));
    bench->close();
    QTRY_COMPARE(QApplication::focusWidget(), opener);

    opener = widget(w, "Searal_radcmd");
    opener->setFocus();
    QTimer::singleShot(100, [] { QApplication::activeModalWidget()->close(); });
    w.findChild<QAction *>(QStringLiteral("actionHistory"))->trigger();
    QTRY_COMPARE(QApplication::focusWidget(), opener);
}

int main(int argc, char *argv[])
{
    // A 1366 x 768 screen at twice the scale: 683 x 384 to lay the window out in.
    QTemporaryDir dir;
    QFile screens(dir.filePath(QStringLiteral("screens.json")));
    if (!screens.open(QIODevice::WriteOnly)
        || screens.write(R"({"screens": [{"name": "small", "width": 1366, "height": 768}]})") < 0)
        return 1;
    screens.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(screens.fileName()));
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    AccessibilityTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_accessibility.moc"

// The window as a user without a mouse, with a screen reader or at 2x on a
// small screen meets it; and the bytes on the wire that --verbose shows.
// Runs at a scale factor of 2 on a 1366 x 768 screen.
#include "app/mainwindow.h"

#include "support/fakehid.h"
#include "support/readertestcase.h"
#include "support/windowdriver.h"

#include "ptyreader.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QScreen>
#include <QScrollArea>
#include <QTabWidget>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

namespace {

QStringList accessibleEvents;

void recordEvent(QAccessibleEvent *event)
{
    if (event->type() == QAccessible::NameChanged && event->object())
        accessibleEvents << event->object()->objectName();
}

QAccessibleInterface *accessible(const MainWindow &w, const char *name)
{
    return QAccessible::queryAccessibleInterface(widget(w, name));
}

QStringList accessibleChildren(const MainWindow &w, const char *name)
{
    QStringList names;
    QAccessibleInterface *parent = accessible(w, name);
    for (int i = 0; i < parent->childCount(); ++i)
        names << parent->child(i)->object()->objectName();
    return names;
}

// Presses Tab from the focused widget until the focus comes back round.
QStringList tabCycle()
{
    QStringList seen;
    for (int i = 0; i < 60; ++i) {
        QWidget *focus = QApplication::focusWidget();
        if (!focus)
            break;
        seen << focus->objectName();
        QTest::keyClick(focus, Qt::Key_Tab);
        if (QApplication::focusWidget() && QApplication::focusWidget()->objectName() == seen.first())
            break;
    }
    return seen;
}

} // namespace

class AccessibilityTest : public ReaderTestCase
{
    Q_OBJECT

private slots:
    void init() { startCase(); }
    void cleanup() { endCase(); }

    void focusFollowsTheForm();
    void inputsAreNamedByTheirLabels_data();
    void inputsAreNamedByTheirLabels();
    void hiddenWidgetsAreNotOffered();
    void statusLineIsAnnounced();
    void formScrollsOnASmallScreen();
    void unwrittenEditsAreAskedAbout_data();
    void unwrittenEditsAreAskedAbout();
    void wireTraceShowsBothDirections();
};

void AccessibilityTest::focusFollowsTheForm()
{
    openPty();
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(QApplication::focusWidget(), widget(w, "ConnectBut"));
    QVERIFY(connectOverSerial(w, *pty));
    boxes->boxes.clear();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));

    widget(w, "ConnectBut")->setFocus();
    const QStringList setting = tabCycle();
    // Over serial there is no keyboard country to choose.
    QCOMPARE(setting, (QStringList{"ConnectBut", "qt_tabwidget_tabbar", "PreAmbleChk", "PreAmbleEdit", "Pre_cmb",
                                   "PostAmbleChk", "PostAmbleEdit", "Post_cmb", "RemoveDataChk", "RemoveDataEdit",
                                   "Remove_cmb", "AutoReportChk", "BuzzerEnableChk", "IBTOutStartEdit",
                                   "IBTOutLengthEdit", "GetIBTStatusBut", "SetIBTStatusBut",
                                   "ChangeModeBut", "FWUpdateBut", "USBKB_radcmd", "SerialNameEdit"}));

    widget<QTabWidget>(w, "tabWidget")->setCurrentIndex(0);
    widget(w, "ScannerEdit")->setFocus();
    const QStringList output = tabCycle();
    QCOMPARE(output.mid(0, 2), (QStringList{"ScannerEdit", "ClearBut"}));
    for (const char *hidden : {"TestBut", "TrigBut", "Debuglabel"})
        QVERIFY2(!setting.contains(hidden) && !output.contains(hidden), hidden);
}

void AccessibilityTest::inputsAreNamedByTheirLabels_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("spoken");

    const char *const rows[][2] = {
        {"SerialNameEdit", "Serial port"},
        {"PreAmbleEdit", "Preamble"},
        {"PostAmbleEdit", "Postamble"},
        {"RemoveDataEdit", "Remove data"},
        {"Pre_cmb", "Preamble control code"},
        {"Post_cmb", "Postamble control code"},
        {"Remove_cmb", "Remove data control code"},
        {"IBTOutStartEdit", "Output start"},
        {"IBTOutLengthEdit", "Output length"},
        {"KB_cmb", "KB Country"},
        {"ScannerEdit", "Reader output"},
        {"PreAmbleChk", "PreAmble Enable"},
        {"ConnectBut", "Connect Device"},
    };
    for (const auto &row : rows)
        QTest::newRow(row[0]) << row[0] << row[1];
}

void AccessibilityTest::inputsAreNamedByTheirLabels()
{
    QFETCH(QString, name);
    QFETCH(QString, spoken);
    MainWindow w;
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget(w, name));
    QVERIFY(iface);
    QCOMPARE(iface->text(QAccessible::Name), spoken);
    if (name.endsWith(QLatin1String("_cmb")))
        QCOMPARE(iface->text(QAccessible::Value), name == QLatin1String("KB_cmb") ? "USA" : "NULL");
    if (name.endsWith(QLatin1String("AmbleEdit")) || name == QLatin1String("RemoveDataEdit"))
        QVERIFY(iface->text(QAccessible::Description).contains(QLatin1String("[CR]")));
}

void AccessibilityTest::hiddenWidgetsAreNotOffered()
{
    MainWindow w;
    const QStringList top = accessibleChildren(w, "centralWidget");
    QVERIFY(top.contains(QLatin1String("groupBox_3")));
    QVERIFY(!top.contains(QLatin1String("TestBut")) && !top.contains(QLatin1String("Debuglabel")));
    QCOMPARE(accessibleChildren(w, "groupBox_4"), (QStringList{"ScannerEdit", "ClearBut"}));
    QCOMPARE(accessible(w, "groupBox_4")->text(QAccessible::Name), QStringLiteral("Output"));
    // Still there for the slots they serve.
    QCOMPARE(widget(w, "TestBut")->geometry(), QRect(140, 50, 41, 31));
    QCOMPARE(widget(w, "TrigBut")->focusPolicy(), Qt::NoFocus);
}

void AccessibilityTest::statusLineIsAnnounced()
{
    MainWindow w;
    QCOMPARE(accessible(w, "statusLabel")->role(), QAccessible::StatusBar);
    accessibleEvents.clear();
    QAccessible::installUpdateHandler(recordEvent);
    selectSerialPort(w, QStringLiteral("/dev/tavrin-no-such-port"));
    click(w, "ConnectBut");
    QAccessible::installUpdateHandler(nullptr);
    // Events flow only where a platform bridge listens (not offscreen).
    if (QAccessible::isActive())
        QVERIFY(accessibleEvents.contains(QLatin1String("statusLabel")));
    QCOMPARE(accessible(w, "statusLabel")->text(QAccessible::Name), w.statusText());

    // A message about a file shows beside the connection's state, which stays.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("reader.json"));
    QVERIFY(w.saveSettingsTo(file) && w.loadSettingsFrom(file));
    QVERIFY(w.statusText().startsWith(QLatin1String("Loaded ")));
    QVERIFY(widget<QLabel>(w, "statusLabel")->text().startsWith(QLatin1String("No serial port")));
}

void AccessibilityTest::formScrollsOnASmallScreen()
{
    FakeHid::attach(model.get());
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(connectOverUsb(w));
    boxes->boxes.clear();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(qApp->devicePixelRatio(), 2.0);
    const QRect room = w.screen()->availableGeometry();
    QVERIFY2(room.contains(w.frameGeometry()), qPrintable(QStringLiteral("%1x%2 in %3x%4")
                                                             .arg(w.frameGeometry().width())
                                                             .arg(w.frameGeometry().height())
                                                             .arg(room.width())
                                                             .arg(room.height())));
    // The form keeps its size; Tab brings a button below the fold into view.
    QCOMPARE(widget(w, "centralWidget")->size(), QSize(591, 451));
    auto *scroll = widget<QScrollArea>(w, "formScroll");
    QWidget *set = widget(w, "SetIBTStatusBut");
    widget(w, "KB_cmb")->setFocus();
    QTest::keyClick(widget(w, "KB_cmb"), Qt::Key_Tab);
    QTest::keyClick(widget(w, "GetIBTStatusBut"), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), set);
    const QRect shown(set->mapTo(scroll->viewport(), QPoint(0, 0)), set->size());
    QVERIFY(scroll->viewport()->rect().contains(shown));
}

void AccessibilityTest::unwrittenEditsAreAskedAbout_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("edit");
    QTest::addColumn<bool>("write");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("closed");

    QTest::newRow("nothing edited") << "close" << false << false << int(QMessageBox::Yes) << true;
    QTest::newRow("edited, stays") << "close" << true << false << int(QMessageBox::No) << false;
    QTest::newRow("edited, Escape") << "close" << true << false << int(QMessageBox::NoButton) << false;
    QTest::newRow("edited, quits") << "Ctrl+Q" << true << false << int(QMessageBox::Yes) << true;
    QTest::newRow("edited and written") << "Ctrl+Q" << true << true << int(QMessageBox::No) << true;
}

void AccessibilityTest::unwrittenEditsAreAskedAbout()
{
    QFETCH(QString, how);
    QFETCH(bool, edit);
    QFETCH(bool, write);
    QFETCH(int, answer);
    QFETCH(bool, closed);

    FakeHid::attach(model.get());
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(connectOverUsb(w));
    QVERIFY(!w.isWindowModified());
    if (edit) {
        QTest::keyClicks(widget(w, "IBTOutStartEdit"), QStringLiteral("7"));
        QVERIFY(w.isWindowModified());
        QVERIFY(w.windowTitle().contains(QLatin1String("[*]")));
    }
    if (write) {
        click(w, "SetIBTStatusBut");
        QVERIFY(!w.isWindowModified());
    }
    boxes->boxes.clear();
    boxes->answer = QMessageBox::StandardButton(answer);

    if (how == QLatin1String("close"))
        w.close();
    else
        w.findChild<QAction *>(QStringLiteral("actionQuit"))->trigger();

    QCOMPARE(!w.isVisible(), closed);
    if (edit && !write) {
        QCOMPARE(boxes->texts(), QStringList{QStringLiteral(
                                     "The settings in the form were not written to the reader. Quit anyway?")});
        QCOMPARE(boxes->boxes.first().buttons, QMessageBox::Yes | QMessageBox::No);
    } else {
        QVERIFY(boxes->boxes.isEmpty());
    }
}

namespace {
QStringList wireLines;
void collectWire(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    if (qstrcmp(context.category, "tavrin.wire") == 0)
        wireLines << message;
}
} // namespace

void AccessibilityTest::wireTraceShowsBothDirections()
{
    openPty();
    // What both programs' --verbose asks for.
    QLoggingCategory::setFilterRules(QStringLiteral("tavrin.*.debug=true"));
    wireLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectWire);
    MainWindow w;
    const bool connected = connectOverSerial(w, *pty);
    qInstallMessageHandler(previous);
    QVERIFY(connected);
    QCOMPARE(wireLines.first(), QStringLiteral("serial sent 8: 1b 42 00 00 00 00 00 0d"));
    QVERIFY(!wireLines.filter(QRegularExpression(QStringLiteral("^serial received \\d+: 31 42 54 "))).isEmpty());
}

int main(int argc, char *argv[])
{
    // A 1366 x 768 screen at twice the scale: 683 x 384 to lay the window out in.
    QTemporaryFile screens;
    if (!screens.open())
        return 1;
    screens.write(R"({"screens": [{"name": "small", "width": 1366, "height": 768,
                                   "logicalDpi": 96, "logicalBaseDpi": 96}]})");
    screens.flush();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(screens.fileName()));
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    AccessibilityTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_accessibility.moc"

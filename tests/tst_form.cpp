// The form on its own: built on a stand-in window that records which of the
// window's slots the form's wiring reaches, so no reader, link or window
// logic is involved.

#include <QtTest>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolBar>

#include "ui_mainwindow.h"

// Same slot names as the real window; each call is logged as "name" or
// "name(arg)".
class SlotRecorder : public QMainWindow
{
    Q_OBJECT

public:
    QStringList calls;

public slots:
    void GetIBTValueClick() { calls << QStringLiteral("GetIBTValueClick"); }
    void SetIBTValueClick() { calls << QStringLiteral("SetIBTValueClick"); }
    void threadStart() { calls << QStringLiteral("threadStart"); }
    void threadPause() { calls << QStringLiteral("threadPause"); }
    void threadStop() { calls << QStringLiteral("threadStop"); }
    void ReadStatus() { calls << QStringLiteral("ReadStatus"); }
    void ConnectClick() { calls << QStringLiteral("ConnectClick"); }
    void PowerPassClick() { calls << QStringLiteral("PowerPassClick"); }
    void PreAmbleEnableClick() { calls << QStringLiteral("PreAmbleEnableClick"); }
    void PostAmbleEnableClick() { calls << QStringLiteral("PostAmbleEnableClick"); }
    void RemoveDataEnableClick() { calls << QStringLiteral("RemoveDataEnableClick"); }
    void TestButClick() { calls << QStringLiteral("TestButClick"); }
    void tabChange(int index) { calls << QStringLiteral("tabChange(%1)").arg(index); }
    void TriggerClick() { calls << QStringLiteral("TriggerClick"); }
    void ChangeModeClick() { calls << QStringLiteral("ChangeModeClick"); }
    void FWUpdateClick() { calls << QStringLiteral("FWUpdateClick"); }

private slots:
    void on_Searal_radcmd_clicked() { calls << QStringLiteral("on_Searal_radcmd_clicked"); }
    void on_USBKB_radcmd_clicked() { calls << QStringLiteral("on_USBKB_radcmd_clicked"); }
    void onReadyRead() { calls << QStringLiteral("onReadyRead"); }
    void Pre_selectChanged(int index) { calls << QStringLiteral("Pre_selectChanged(%1)").arg(index); }
    void Post_selectChanged(int index) { calls << QStringLiteral("Post_selectChanged(%1)").arg(index); }
    void Remove_selectChanged(int index)
    {
        calls << QStringLiteral("Remove_selectChanged(%1)").arg(index);
    }
};

class TestForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void widgets_data();
    void widgets();
    void childOrder_data();
    void childOrder();
    void coveredWidgets_data();
    void coveredWidgets();
    void window();
    void tabs();
    void fontsAndIcons();
    void setupReportsSettingTab();
    void connections_data();
    void connections();
    void mnemonics_data();
    void mnemonics();
    void altSPressesSetStatus();
    void programIcon();

private:
    QWidget *widget(const QString &name) const;

    SlotRecorder *win = nullptr;
    Ui_MainWindow *ui = nullptr;
};

void TestForm::init()
{
    // A connection to a slot that does not exist only warns at run time.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("QObject::connect|connectSlotsByName")));
    win = new SlotRecorder;
    ui = new Ui_MainWindow;
    ui->setupUi(win);
}

void TestForm::cleanup()
{
    delete ui;
    ui = nullptr;
    delete win;
    win = nullptr;
}

QWidget *TestForm::widget(const QString &name) const
{
    const auto found = win->findChildren<QWidget *>(name);
    return found.size() == 1 ? found.first() : nullptr;
}

// Tab pages carry their tab index in "page"; every other widget -1.
void TestForm::widgets_data()
{
    QTest::addColumn<QByteArray>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("checked");

    auto row = [](const char *name, const char *cls, const char *parent, const char *text,
                  QRect geometry, bool enabled = true, bool checked = false, int page = -1) {
        QTest::newRow(name) << QByteArray(cls) << QString::fromLatin1(parent) << page
                            << QString::fromLatin1(text) << geometry << enabled << checked;
    };
    const bool off = false;

    row("centralWidget", "QWidget", "MainWindow", "", QRect());
    row("tabWidget", "QTabWidget", "centralWidget", "", {10, 120, 571, 321}, off);
    row("Membrane_tab", "QWidget", "tabWidget", "iButton Output", QRect(), true, false, 0);
    row("groupBox_4", "QGroupBox", "Membrane_tab", "Output", {10, 10, 541, 271});
    row("TrigBut", "QPushButton", "groupBox_4", "&Scan", {450, 50, 75, 71});
    row("ScannerEdit", "QTextEdit", "groupBox_4", "", {10, 20, 521, 211});
    row("ClearBut", "QPushButton", "groupBox_4", "Clear", {440, 240, 75, 23});
    row("iButton_tab", "QWidget", "tabWidget", "Setting", QRect(), true, false, 1);
    row("SetIBTStatusBut", "QPushButton", "iButton_tab", "&Set Status", {110, 230, 81, 51}, off);
    row("GetIBTStatusBut", "QPushButton", "iButton_tab", "&Get Status", {10, 230, 81, 51}, off);
    row("groupBox_2", "QGroupBox", "iButton_tab", "iButton", {10, 0, 551, 221});
    row("IBTOutLengthEdit", "QLineEdit", "groupBox_2", "", {250, 190, 61, 20}, off);
    row("PreAmbleChk", "QCheckBox", "groupBox_2", "PreAmble Enable", {9, 19, 131, 16}, off);
    row("Label1", "QLabel", "groupBox_2", "Output length", {250, 170, 81, 16});
    row("IBTOutStartEdit", "QLineEdit", "groupBox_2", "", {171, 190, 61, 20}, off);
    row("RemoveDataChk", "QCheckBox", "groupBox_2", "Remove Data Enable", {9, 115, 161, 16}, off);
    row("PostAmbleEdit", "QLineEdit", "groupBox_2", "", {9, 89, 481, 20}, off);
    row("RemoveDataEdit", "QLineEdit", "groupBox_2", "", {9, 137, 481, 20}, off);
    row("label", "QLabel", "groupBox_2", "Output start", {170, 170, 71, 16});
    row("BuzzerEnableChk", "QCheckBox", "groupBox_2", "Buzzer Enable", {9, 195, 91, 16}, off);
    row("PreAmbleEdit", "QLineEdit", "groupBox_2", "", {9, 41, 481, 20}, off);
    row("AutoReportChk", "QCheckBox", "groupBox_2", "ID Code Auto Report", {9, 173, 124, 16}, off);
    row("PostAmbleChk", "QCheckBox", "groupBox_2", "PostAmble Enable", {9, 67, 141, 16}, off);
    row("CodeType_lbl", "QLabel", "groupBox_2", "ASCII Code", {426, 20, 91, 20});
    row("Pre_cmb", "QComboBox", "groupBox_2", "", {490, 40, 51, 22});
    row("Post_cmb", "QComboBox", "groupBox_2", "", {490, 90, 51, 22});
    row("Remove_cmb", "QComboBox", "groupBox_2", "", {490, 140, 51, 22});
    row("Label1_2", "QLabel", "groupBox_2", "KB Country", {370, 170, 81, 16});
    row("KB_cmb", "QComboBox", "groupBox_2", "", {370, 190, 91, 22});
    row("ChangeModeBut", "QPushButton", "iButton_tab", "Change Mode", {350, 250, 81, 41});
    row("label_3", "QLabel", "iButton_tab", "Change Interface", {350, 230, 101, 16});
    row("FWUpdateBut", "QPushButton", "iButton_tab", "FW &Update", {460, 250, 81, 41});
    row("label_4", "QLabel", "iButton_tab", "Update Firmware", {460, 230, 101, 16});
    row("Debuglabel", "QLabel", "centralWidget", "TextLabel", {140, 50, 47, 16});
    row("TestBut", "QPushButton", "centralWidget", "PushButton", {140, 50, 41, 31});
    row("groupBox_3", "QGroupBox", "centralWidget", "Connection Device", {10, 10, 261, 101});
    row("USBKB_radcmd", "QRadioButton", "groupBox_3", "USB KB", {10, 20, 83, 16}, true, true);
    row("Searal_radcmd", "QRadioButton", "groupBox_3", "Serial Port", {10, 50, 83, 16});
    row("SerialNameEdit", "QLineEdit", "groupBox_3", "", {10, 70, 91, 20}, off);
    row("ConnectBut", "QPushButton", "groupBox_3", "Connect Device", {110, 20, 141, 71});
    row("groupBox", "QGroupBox", "centralWidget", "", {280, 20, 301, 80});
    row("FWLbl", "QLabel", "groupBox", "F/W Ver: N/A", {10, 30, 281, 21});
}

void TestForm::widgets()
{
    QFETCH(QByteArray, className);
    QFETCH(QString, parentName);
    QFETCH(int, page);
    QFETCH(QString, text);
    QFETCH(QRect, geometry);
    QFETCH(bool, enabled);
    QFETCH(bool, checked);

    const QString name = QString::fromLatin1(QTest::currentDataTag());
    QWidget *w = widget(name);
    QVERIFY2(w, "missing or not unique");
    QCOMPARE(QByteArray(w->metaObject()->className()), className);

    QString shown;
    if (page >= 0) {
        // The tab widget reparents its pages into its internal stack.
        QCOMPARE(ui->tabWidget->indexOf(w), page);
        shown = ui->tabWidget->tabText(page);
    } else {
        QVERIFY(w->parent());
        QCOMPARE(w->parent()->objectName(), parentName);
        if (geometry.isValid())
            QCOMPARE(w->geometry(), geometry);
        if (auto b = qobject_cast<QAbstractButton *>(w))
            shown = b->text();
        else if (auto l = qobject_cast<QLabel *>(w))
            shown = l->text();
        else if (auto g = qobject_cast<QGroupBox *>(w))
            shown = g->title();
        else if (auto e = qobject_cast<QLineEdit *>(w))
            shown = e->text();
        else if (auto t = qobject_cast<QTextEdit *>(w))
            shown = t->toPlainText();
        else if (auto c = qobject_cast<QComboBox *>(w))
            QCOMPARE(c->count(), 0); // filled by the window, not the form
    }
    QCOMPARE(shown, text);

    // The widget's own state, not the one inherited from a disabled tab widget.
    QCOMPARE(!w->testAttribute(Qt::WA_ForceDisabled), enabled);
    auto b = qobject_cast<QAbstractButton *>(w);
    QCOMPARE(b && b->isChecked(), checked);
    QVERIFY(w->toolTip().isEmpty());
    if (auto e = qobject_cast<QLineEdit *>(w)) {
        QVERIFY(!e->isReadOnly());
        QVERIFY(e->inputMask().isEmpty());
        QVERIFY(!e->validator());
        QCOMPARE(e->maxLength(), QLineEdit().maxLength());
    }
    if (auto t = qobject_cast<QTextEdit *>(w))
        QVERIFY(!t->isReadOnly());
}

// Creation order among siblings; among centralWidget's children it is the
// order the form raises them in, bottom to top.
void TestForm::childOrder_data()
{
    QTest::addColumn<QStringList>("children");

    QTest::newRow("centralWidget")
        << QStringList{"Debuglabel", "TestBut", "groupBox_3", "tabWidget", "groupBox"};
    QTest::newRow("groupBox_4") << QStringList{"TrigBut", "ScannerEdit", "ClearBut"};
    QTest::newRow("iButton_tab") << QStringList{"SetIBTStatusBut", "GetIBTStatusBut", "groupBox_2",
                                                "ChangeModeBut", "label_3", "FWUpdateBut",
                                                "label_4"};
    QTest::newRow("groupBox_2") << QStringList{
        "IBTOutLengthEdit", "PreAmbleChk",   "Label1",          "IBTOutStartEdit",
        "RemoveDataChk",    "PostAmbleEdit", "RemoveDataEdit",  "label",
        "BuzzerEnableChk",  "PreAmbleEdit",  "AutoReportChk",   "PostAmbleChk",
        "CodeType_lbl",     "Pre_cmb",       "Post_cmb",        "Remove_cmb",
        "Label1_2",         "KB_cmb"};
    QTest::newRow("groupBox_3")
        << QStringList{"USBKB_radcmd", "Searal_radcmd", "SerialNameEdit", "ConnectBut"};
    QTest::newRow("groupBox") << QStringList{"FWLbl"};
}

void TestForm::childOrder()
{
    QFETCH(QStringList, children);

    QWidget *parent = widget(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(parent);
    QStringList actual;
    for (QObject *child : parent->children()) {
        if (child->isWidgetType())
            actual << child->objectName();
    }
    QCOMPARE(actual, children);
}

// Widgets that lie beneath others: the mouse reaches the cover, not them.
void TestForm::coveredWidgets_data()
{
    QTest::addColumn<QString>("hidden");
    QTest::addColumn<QString>("cover");

    QTest::newRow("TestBut under ConnectBut") << "TestBut" << "ConnectBut";
    QTest::newRow("Debuglabel under ConnectBut") << "Debuglabel" << "ConnectBut";
    QTest::newRow("TrigBut under ScannerEdit") << "TrigBut" << "ScannerEdit";
}

void TestForm::coveredWidgets()
{
    QFETCH(QString, hidden);
    QFETCH(QString, cover);

    QWidget *under = widget(hidden);
    QWidget *over = widget(cover);
    QVERIFY(under && over);
    QWidget *parent = under->parentWidget();
    win->show(); // lays out the central widget
    QVERIFY(QTest::qWaitForWindowExposed(win));

    const QRect overArea(over->mapTo(parent, QPoint(0, 0)), over->size());
    QVERIFY(overArea.contains(under->geometry()));

    for (const QPoint &p : {under->geometry().topLeft(), under->geometry().center(),
                            under->geometry().bottomRight()}) {
        QWidget *hit = parent->childAt(p);
        QVERIFY(hit);
        QVERIFY2(hit == over || over->isAncestorOf(hit), qPrintable(hit->objectName()));
    }
    QVERIFY(!under->isHidden()); // still in the focus chain
}

void TestForm::window()
{
    const QSize fixed(591, 451);
    QCOMPARE(win->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(win->size(), fixed);
    QCOMPARE(win->minimumSize(), fixed);
    QCOMPARE(win->maximumSize(), fixed);
    QCOMPARE(win->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(win->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(win->contextMenuPolicy(), Qt::DefaultContextMenu);
    QCOMPARE(win->windowTitle(), QStringLiteral("Tavrin V1.0.0"));
    QCOMPARE(win->centralWidget(), ui->centralWidget);

    QVERIFY(!win->findChild<QMenuBar *>());
    QVERIFY(!win->findChild<QToolBar *>());
    QVERIFY(!win->findChild<QStatusBar *>());

    win->resize(800, 600);
    QCOMPARE(win->size(), fixed);
    win->resize(300, 200);
    QCOMPARE(win->size(), fixed);

    // A window that already has a name keeps it.
    SlotRecorder named;
    named.setObjectName(QStringLiteral("kept"));
    Ui_MainWindow other;
    other.setupUi(&named);
    QCOMPARE(named.objectName(), QStringLiteral("kept"));
}

void TestForm::tabs()
{
    QCOMPARE(ui->tabWidget->count(), 2);
    QCOMPARE(ui->tabWidget->widget(0), ui->Membrane_tab);
    QCOMPARE(ui->tabWidget->widget(1), ui->iButton_tab);
    QCOMPARE(ui->tabWidget->currentIndex(), 1);
    QCOMPARE(ui->tabWidget->currentWidget(), ui->iButton_tab);
    // Disabled, so the user cannot leave the "Setting" page yet.
    QVERIFY(!ui->tabWidget->isEnabled());
    QVERIFY(!ui->ChangeModeBut->isEnabled());
    QVERIFY(!ui->ChangeModeBut->testAttribute(Qt::WA_ForceDisabled));
}

void TestForm::fontsAndIcons()
{
    const QFont font = ui->FWLbl->font();
    QCOMPARE(font.pointSize(), 14);
    QCOMPARE(font.family(), QApplication::font(ui->FWLbl).family());
    QCOMPARE(font.bold(), QApplication::font(ui->FWLbl).bold());

    // Everything else keeps the default font and no widget carries an icon.
    for (QWidget *w : win->findChildren<QWidget *>()) {
        const QString name = w->objectName();
        if (w == ui->FWLbl || name.isEmpty() || name.startsWith(QLatin1String("qt_")))
            continue;
        QCOMPARE(w->font().pointSize(), QApplication::font(w).pointSize());
        if (auto b = qobject_cast<QAbstractButton *>(w))
            QVERIFY2(b->icon().isNull(), qPrintable(name));
    }

    QCOMPARE(ui->ConnectBut->iconSize(), QSize(64, 64));
}

void TestForm::setupReportsSettingTab()
{
    // The switch to "Setting" comes after the wiring, so the window hears it.
    QCOMPARE(win->calls, QStringList{QStringLiteral("tabChange(1)")});
}

enum class Signal { Clicked, CurrentChanged, CurrentIndexChanged };
Q_DECLARE_METATYPE(Signal)

// What each signal reaches, once; senders the form leaves unwired reach nothing.
void TestForm::connections_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<Signal>("signal");
    QTest::addColumn<QStringList>("expected");

    auto clicked = [](const char *tag, const char *sender, QStringList expected) {
        QTest::newRow(tag) << QString::fromLatin1(sender) << Signal::Clicked << expected;
    };
    clicked("1 ConnectBut", "ConnectBut", {"ConnectClick"});
    clicked("2 PreAmbleChk", "PreAmbleChk", {"PreAmbleEnableClick"});
    clicked("3 PostAmbleChk", "PostAmbleChk", {"PostAmbleEnableClick"});
    clicked("4 RemoveDataChk", "RemoveDataChk", {"RemoveDataEnableClick"});
    clicked("5 GetIBTStatusBut", "GetIBTStatusBut", {"GetIBTValueClick"});
    clicked("6 SetIBTStatusBut", "SetIBTStatusBut", {"SetIBTValueClick"});
    clicked("7 TestBut", "TestBut", {"TestButClick"});
    QTest::newRow("8 tabWidget") << QStringLiteral("tabWidget") << Signal::CurrentChanged
                                 << QStringList{"tabChange(0)"};
    clicked("9 TrigBut", "TrigBut", {"TriggerClick"});
    clicked("10 ChangeModeBut", "ChangeModeBut", {"ChangeModeClick"});
    clicked("11 ClearBut", "ClearBut", {}); // clears ScannerEdit, see below
    clicked("12 FWUpdateBut", "FWUpdateBut", {"FWUpdateClick"});
    clicked("13 Searal_radcmd", "Searal_radcmd", {"on_Searal_radcmd_clicked"});
    clicked("14 USBKB_radcmd", "USBKB_radcmd", {"on_USBKB_radcmd_clicked"});

    clicked("BuzzerEnableChk", "BuzzerEnableChk", {});
    clicked("AutoReportChk", "AutoReportChk", {});
    // The window wires the combo boxes itself, after filling them.
    for (const char *combo : {"Pre_cmb", "Post_cmb", "Remove_cmb", "KB_cmb"})
        QTest::newRow(combo) << QString::fromLatin1(combo) << Signal::CurrentIndexChanged
                             << QStringList{};
}

void TestForm::connections()
{
    QFETCH(QString, sender);
    QFETCH(Signal, signal);
    QFETCH(QStringList, expected);

    QWidget *w = widget(sender);
    QVERIFY(w);
    ui->ScannerEdit->setPlainText(QStringLiteral("1BT"));
    win->calls.clear();

    switch (signal) {
    case Signal::Clicked: {
        auto b = qobject_cast<QAbstractButton *>(w);
        QVERIFY(b);
        emit b->clicked(b->isChecked());
        break;
    }
    case Signal::CurrentChanged: {
        auto t = qobject_cast<QTabWidget *>(w);
        QVERIFY(t);
        emit t->currentChanged(0);
        break;
    }
    case Signal::CurrentIndexChanged: {
        auto c = qobject_cast<QComboBox *>(w);
        QVERIFY(c);
        emit c->currentIndexChanged(0);
        break;
    }
    }

    QCOMPARE(win->calls, expected);
    QCOMPARE(ui->ScannerEdit->toPlainText().isEmpty(), sender == QLatin1String("ClearBut"));
}

void TestForm::mnemonics_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QKeySequence>("shortcut");

    const QKeySequence altS(Qt::ALT | Qt::Key_S);
    QTest::newRow("&Scan") << "TrigBut" << altS;
    QTest::newRow("&Set Status") << "SetIBTStatusBut" << altS;
    QTest::newRow("&Get Status") << "GetIBTStatusBut" << QKeySequence(Qt::ALT | Qt::Key_G);
    QTest::newRow("FW &Update") << "FWUpdateBut" << QKeySequence(Qt::ALT | Qt::Key_U);
    QTest::newRow("Connect Device") << "ConnectBut" << QKeySequence();
    QTest::newRow("Change Mode") << "ChangeModeBut" << QKeySequence();
}

void TestForm::mnemonics()
{
    QFETCH(QString, button);
    QFETCH(QKeySequence, shortcut);

    auto b = qobject_cast<QAbstractButton *>(widget(button));
    QVERIFY(b);
    QCOMPARE(b->shortcut(), shortcut);
}

// "&Scan" and "&Set Status" share Alt+S; only the button on the visible page
// takes it.
void TestForm::altSPressesSetStatus()
{
    ui->tabWidget->setEnabled(true);
    ui->SetIBTStatusBut->setEnabled(true);
    win->show();
    QVERIFY(QTest::qWaitForWindowActive(win));
    win->calls.clear();

    QTest::keyClick(win, Qt::Key_S, Qt::AltModifier);
    QTRY_COMPARE(win->calls, QStringList{QStringLiteral("SetIBTValueClick")});
}

void TestForm::programIcon()
{
    Q_INIT_RESOURCE(tavrin);
    const QImage icon(QStringLiteral(":/icons/tavrin.png"));
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.size(), QSize(128, 128));
    QVERIFY(icon.hasAlphaChannel());
}

QTEST_MAIN(TestForm)
#include "tst_form.moc"

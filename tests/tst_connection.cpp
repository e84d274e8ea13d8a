// Start-up, connecting and disconnecting over both transports, against the
// simulated reader.
#include "app/mainwindow.h"
#include "link/readerlink.h"

#include "support/fakehid.h"
#include "support/readertestcase.h"
#include "support/tracecapture.h"
#include "support/windowdriver.h"

#include "ptyreader.h"
#include "readermodel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPort>
#include <QTabWidget>
#include <QTest>

namespace {

const char *const connectionWidgets[] = {
    "PreAmbleChk",     "PreAmbleEdit",     "PostAmbleChk",    "PostAmbleEdit",
    "RemoveDataChk",   "RemoveDataEdit",   "AutoReportChk",   "BuzzerEnableChk",
    "IBTOutStartEdit", "IBTOutLengthEdit", "GetIBTStatusBut", "SetIBTStatusBut",
    "tabWidget",       "ScannerEdit",      "TrigBut",         "ChangeModeBut",
};

QString connectText(const MainWindow &w)
{
    return widget<QPushButton>(w, "ConnectBut")->text();
}

} // namespace

class ConnectionTest : public ReaderTestCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startsWithSerialWhenNoReaderIsPresent();
    void startsWithUsbAndReleasesTheProbedReader();
    void startsWithEmptyFormAndFilledPickers();
    void radioButtonsSwitchThePortNameEdit();
    void controlsFollowTheConnectionState_data();
    void controlsFollowTheConnectionState();
    void failedOpenReadsReconnectAndRetriesWithCheckedInterface();
    void serialThenUsbBehavesLikeAFirstConnection();
    void farEndClosingDisconnectsAndStopsPolling();
    void closingTheWindowReleasesAnOpenReader();
    void keyPressOnTheWindowDoesNothing();
};

void ConnectionTest::init()
{
    startCase();
}

void ConnectionTest::cleanup()
{
    endCase();
}

void ConnectionTest::startsWithSerialWhenNoReaderIsPresent()
{
    MainWindow w;
    QVERIFY(widget<QRadioButton>(w, "Searal_radcmd")->isChecked());
    QVERIFY(!widget<QRadioButton>(w, "USBKB_radcmd")->isChecked());
    QVERIFY(widget(w, "SerialNameEdit")->isEnabled());
    QCOMPARE(widget<QLineEdit>(w, "SerialNameEdit")->text(), QStringLiteral("COM6"));
    QCOMPARE(FakeHid::openHandleCount(), 0);
}

void ConnectionTest::startsWithUsbAndReleasesTheProbedReader()
{
    FakeHid::attach(model.get());
    MainWindow w;
    QVERIFY(widget<QRadioButton>(w, "USBKB_radcmd")->isChecked());
    QVERIFY(!widget(w, "SerialNameEdit")->isEnabled());
    QCOMPARE(widget<QLineEdit>(w, "SerialNameEdit")->text(), QStringLiteral("COM6"));
    QCOMPARE(FakeHid::openHandleCount(), 0);
    QCOMPARE(FakeHid::closeCount(), 1);
    QCOMPARE(FakeHid::exitCount(), 1);
    QVERIFY(FakeHid::writtenReports().isEmpty());
}

void ConnectionTest::startsWithEmptyFormAndFilledPickers()
{
    MainWindow w;
    for (const char *name : {"Pre_cmb", "Post_cmb", "Remove_cmb"}) {
        auto *combo = widget<QComboBox>(w, name);
        QCOMPARE(combo->count(), 32);
        QCOMPARE(combo->currentText(), QStringLiteral("NULL"));
        QCOMPARE(combo->itemText(31), QStringLiteral("US"));
    }
    auto *kb = widget<QComboBox>(w, "KB_cmb");
    QCOMPARE(kb->count(), 5);
    QCOMPARE(kb->currentText(), QStringLiteral("USA"));
    for (const char *name : {"PreAmbleEdit", "PostAmbleEdit", "RemoveDataEdit"})
        QVERIFY(widget<QLineEdit>(w, name)->text().isEmpty());
    // The form's switch to the "Setting" page reported 1 before the
    // constructor set the tab state to 0; it follows the user from then on.
    QCOMPARE(widget<QTabWidget>(w, "tabWidget")->currentIndex(), 1);
    QCOMPARE(int(w.currentTabIndex()), 0);
    QCOMPARE(int(w.link().seqNo()), 1);
    QCOMPARE(connectText(w), QStringLiteral("Connect Device"));
    for (const char *name : connectionWidgets)
        QVERIFY2(!widget(w, name)->isEnabled() || !widget(w, "tabWidget")->isEnabled(), name);
}

void ConnectionTest::radioButtonsSwitchThePortNameEdit()
{
    FakeHid::attach(model.get());
    MainWindow w;
    auto *edit = widget(w, "SerialNameEdit");
    widget<QRadioButton>(w, "Searal_radcmd")->click();
    QVERIFY(edit->isEnabled());
    widget<QRadioButton>(w, "USBKB_radcmd")->click();
    QVERIFY(!edit->isEnabled());
    QCOMPARE(FakeHid::openCount(), 1); // the probe only
}

void ConnectionTest::controlsFollowTheConnectionState_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QString>("changeModeText");
    QTest::addColumn<QString>("disconnectTrace");
    QTest::newRow("usb") << false << "to Serial" << "Orvo_Device disconnect";
    QTest::newRow("serial") << true << "to USB KB" << "Pasq_Device disconnect";
}

void ConnectionTest::controlsFollowTheConnectionState()
{
    QFETCH(bool, serial);
    QFETCH(QString, changeModeText);
    QFETCH(QString, disconnectTrace);

    openPty();
    if (!serial)
        FakeHid::attach(model.get());
    MainWindow w;
    if (serial)
        selectSerialPort(w, pty->portName());

    TraceCapture traces;
    click(w, "ConnectBut");
    QVERIFY(w.link().isOpen());
    QCOMPARE(connectedOverSerial(w), serial);
    QCOMPARE(connectedOverUsb(w), !serial);
    QCOMPARE(connectText(w), QStringLiteral("Disconnect"));
    QCOMPARE(widget<QPushButton>(w, "ChangeModeBut")->text(), changeModeText);
    for (const char *name : connectionWidgets)
        QVERIFY2(widget(w, name)->isEnabled(), name);
    QCOMPARE(activeTimers(w).size(), serial ? 1 : 0);

    click(w, "ConnectBut");
    QVERIFY(!w.link().isOpen());
    QCOMPARE(connectText(w), QStringLiteral("Connect Device"));
    QCOMPARE(widget<QPushButton>(w, "ChangeModeBut")->text(), changeModeText);
    for (const char *name : connectionWidgets)
        QVERIFY2(!widget(w, name)->isEnabled(), name);
    QCOMPARE(traces.count(disconnectTrace), 1);
    QVERIFY(activeTimers(w).isEmpty());
    QCOMPARE(FakeHid::openHandleCount(), 0);
}

void ConnectionTest::failedOpenReadsReconnectAndRetriesWithCheckedInterface()
{
    MainWindow w; // no reader: serial preselected
    widget<QLineEdit>(w, "SerialNameEdit")->setText(QStringLiteral("/dev/tavrin-no-such-port"));
    TraceCapture traces;
    click(w, "ConnectBut");
    QCOMPARE(connectText(w), QStringLiteral("Reconnect"));
    QCOMPARE(traces.lines(), QStringList{QStringLiteral("unable to open com device\n")});
    QVERIFY(!w.link().isOpen() && !connectedOverSerial(w));
    QVERIFY(activeTimers(w).isEmpty());
    QVERIFY(!widget(w, "tabWidget")->isEnabled());

    // Still no reader on USB.
    widget<QRadioButton>(w, "USBKB_radcmd")->click();
    traces.clear();
    click(w, "ConnectBut");
    QCOMPARE(connectText(w), QStringLiteral("Reconnect"));
    QCOMPARE(traces.lines(), QStringList{QStringLiteral("unable to open USB HID device\n")});

    // The reader is plugged in: the next click tries USB again and succeeds.
    FakeHid::attach(model.get());
    click(w, "ConnectBut");
    QCOMPARE(connectText(w), QStringLiteral("Disconnect"));
    QVERIFY(connectedOverUsb(w));
    QCOMPARE(FakeHid::opens().last().productId, FakeHid::ReaderProductId);
}

void ConnectionTest::serialThenUsbBehavesLikeAFirstConnection()
{
    openPty();
    FakeHid::attach(model.get());
    MainWindow w;
    QVERIFY(connectOverSerial(w, *pty));
    click(w, "ConnectBut");
    QVERIFY(!connectedOverSerial(w));

    QTest::qWait(50);
    pty->clearRecords();
    connectOverUsb(w);
    QVERIFY(connectedOverUsb(w) && w.link().isOpen() && !connectedOverSerial(w));
    QCOMPARE(widget<QPushButton>(w, "ChangeModeBut")->text(), QStringLiteral("to Serial"));
    QVERIFY(activeTimers(w).isEmpty());
    QTest::qWait(250); // a surviving poll or port would show by now
    QVERIFY(pty->received().isEmpty());
}

void ConnectionTest::farEndClosingDisconnectsAndStopsPolling()
{
    openPty();
    MainWindow w;
    QVERIFY(connectOverSerial(w, *pty));

    TraceCapture traces;
    pty->closeMaster();
    QTRY_VERIFY_WITH_TIMEOUT(shownDisconnected(w), 2000);
    QCOMPARE(connectText(w), QStringLiteral("Connect Device"));
    QVERIFY(!w.link().isOpen());
    QCOMPARE(traces.count(QStringLiteral("Pasq_Device disconnect")), 1);
    QVERIFY(activeTimers(w).isEmpty());

    // A port left open would keep reporting errors; a closed one is quiet.
    traces.clear();
    QTest::qWait(200);
    QVERIFY2(traces.lines().isEmpty(), qPrintable(traces.lines().join(',')));
}

void ConnectionTest::closingTheWindowReleasesAnOpenReader()
{
    FakeHid::attach(model.get());
    {
        MainWindow w;
        QVERIFY(connectOverUsb(w));
        QCOMPARE(FakeHid::openHandleCount(), 1);
        QCOMPARE(FakeHid::exitCount(), 2); // the probe's, and Connect's look for other readers
    }
    QCOMPARE(FakeHid::openHandleCount(), 0);
    QCOMPARE(FakeHid::exitCount(), 3);
}

void ConnectionTest::keyPressOnTheWindowDoesNothing()
{
    FakeHid::attach(model.get());
    MainWindow w;
    QTest::keyClick(&w, Qt::Key_Space);
    QTest::keyClick(&w, Qt::Key_Return);
    QCOMPARE(connectText(w), QStringLiteral("Connect Device"));
    QCOMPARE(FakeHid::openCount(), 1);
}

QTEST_MAIN(ConnectionTest)
#include "tst_connection.moc"

// Switching the reader to its other interface: the question, the frame on
// each transport, and the window closing behind it.
#include "app/mainwindow.h"
#include "link/readerlink.h"

#include "support/fakehid.h"
#include "support/readertestcase.h"
#include "support/tracecapture.h"
#include "support/windowdriver.h"

#include "ptyreader.h"
#include "readermodel.h"

#include <QPushButton>
#include <QSerialPort>
#include <QTest>
#include <QTextDocument>

namespace {

const QString serialQuestion = QStringLiteral(
    "Do you want to change iButton interface to <b>USB Keyboard</b> and utility will close?");
const QString usbQuestion = QStringLiteral(
    "Do you want to change iButton interface to <b>serial</b> and utility will close?");

const QByteArray changeModeFrame = QByteArray::fromHex("1B42FD55AA55AA0D");

QString text(const MainWindow &w, const char *button)
{
    return widget<QPushButton>(w, button)->text();
}

} // namespace

class ChangeModeTest : public ReaderTestCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void declinedQuestionChangesNothing_data();
    void declinedQuestionChangesNothing();
    void confirmedSwitchSendsFrameAndCloses_data();
    void confirmedSwitchSendsFrameAndCloses();
    void refusedUsbWriteKeepsWindowOpenAndConnected();
    void serialPortLostWhileAskingKeepsWindowOpen();
    void disconnectedWindowAsksNothing();
};

void ChangeModeTest::init()
{
    startCase();
    openPty();
}

void ChangeModeTest::cleanup()
{
    endCase();
}

void ChangeModeTest::declinedQuestionChangesNothing_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QString>("changeModeText");
    QTest::newRow("usb, No") << false << int(QMessageBox::No) << usbQuestion << "to Serial";
    QTest::newRow("usb, box closed") << false << int(QMessageBox::NoButton) << usbQuestion << "to Serial";
    QTest::newRow("serial, No") << true << int(QMessageBox::No) << serialQuestion << "to USB KB";
    QTest::newRow("serial, box closed") << true << int(QMessageBox::NoButton) << serialQuestion << "to USB KB";
}

void ChangeModeTest::declinedQuestionChangesNothing()
{
    QFETCH(bool, serial);
    QFETCH(int, answer);
    QFETCH(QString, question);
    QFETCH(QString, changeModeText);

    FakeHid::attach(model.get());
    MainWindow w;
    connectAndShow(w, serial);
    const int writesBefore = int(FakeHid::attemptedWrites().size());
    const int opensBefore = FakeHid::openCount();

    boxes->answer = QMessageBox::StandardButton(answer);
    TraceCapture traces;
    click(w, "ChangeModeBut");

    QCOMPARE(boxes->boxes.size(), 1);
    const SeenBox box = boxes->boxes.first();
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.title, QStringLiteral("Change Mode"));
    QCOMPARE(box.text, question);
    QVERIFY(Qt::mightBeRichText(box.text));
    QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
    QVERIFY(!box.hasParent);

    QTest::qWait(100);
    QCOMPARE(int(FakeHid::attemptedWrites().size()), writesBefore);
    QVERIFY(pty->received().isEmpty());
    QCOMPARE(model->changeModeCount(), 0);
    QVERIFY(traces.lines().isEmpty());
    QVERIFY(w.isVisible());
    QVERIFY(w.link().isOpen());
    QCOMPARE(connectedOverSerial(w), serial);
    QCOMPARE(connectedOverUsb(w), !serial);
    QCOMPARE(FakeHid::openCount(), opensBefore);
    QCOMPARE(FakeHid::openHandleCount(), serial ? 0 : 1);
    QCOMPARE(text(w, "ConnectBut"), QStringLiteral("Disconnect"));
    QCOMPARE(text(w, "ChangeModeBut"), changeModeText);
    QVERIFY(widget(w, "ChangeModeBut")->isEnabled());
    QCOMPARE(activeTimers(w).size(), serial ? 1 : 0);
}

void ChangeModeTest::confirmedSwitchSendsFrameAndCloses_data()
{
    addTransportRows();
}

void ChangeModeTest::confirmedSwitchSendsFrameAndCloses()
{
    QFETCH(bool, serial);

    FakeHid::attach(model.get());
    MainWindow w;
    connectAndShow(w, serial);
    const int writesBefore = int(FakeHid::writtenReports().size());

    TraceCapture traces;
    click(w, "ChangeModeBut");
    QCOMPARE(boxes->texts(), QStringList{serial ? serialQuestion : usbQuestion});

    if (serial) {
        QTRY_COMPARE(pty->received(), changeModeFrame);
        QCOMPARE(int(FakeHid::writtenReports().size()), writesBefore);
        QVERIFY(activeTimers(w).isEmpty());
    } else {
        const QList<QByteArray> written = FakeHid::writtenReports().mid(writesBefore);
        QCOMPARE(written.size(), 1);
        QCOMPARE(written.first(), QByteArray(1, '\0') + changeModeFrame + QByteArray(56, '\0'));
        QCOMPARE(FakeHid::openHandleCount(), 0);
        QCOMPARE(FakeHid::calls().mid(FakeHid::calls().size() - 2),
                 (QStringList{QStringLiteral("hid_close"), QStringLiteral("hid_exit")}));
    }
    QCOMPARE(model->changeModeCount(), 1);

    QVERIFY(!w.isVisible());
    QVERIFY(!w.link().isOpen() && !connectedOverSerial(w) && !connectedOverUsb(w));
    QCOMPARE(text(w, "ConnectBut"), QStringLiteral("Connect Device"));
    QVERIFY(!widget(w, "ChangeModeBut")->isEnabled());
    QVERIFY(!widget(w, "tabWidget")->isEnabled());
    // This teardown is not a disconnect and does not say it is one.
    QVERIFY2(traces.lines().isEmpty(), qPrintable(traces.lines().join(',')));
}

void ChangeModeTest::refusedUsbWriteKeepsWindowOpenAndConnected()
{
    FakeHid::attach(model.get());
    MainWindow w;
    connectAndShow(w, false);
    const int opensBefore = FakeHid::openCount();

    FakeHid::refuseWrites(1);
    TraceCapture traces;
    click(w, "ChangeModeBut");
    QCOMPARE(boxes->boxes.size(), 1);
    QCOMPARE(traces.lines(), (QStringList{QStringLiteral("Unable to write()\n"),
                                          QStringLiteral("Error: Connection timed out\n")}));
    QCOMPARE(model->changeModeCount(), 0);
    QVERIFY(w.isVisible());
    QVERIFY(w.link().isOpen() && connectedOverUsb(w));
    QCOMPARE(FakeHid::openCount(), opensBefore);
    QCOMPARE(FakeHid::openHandleCount(), 1);
    QCOMPARE(text(w, "ConnectBut"), QStringLiteral("Disconnect"));
    QVERIFY(widget(w, "ChangeModeBut")->isEnabled());

    // The user may try again.
    click(w, "ChangeModeBut");
    QCOMPARE(boxes->boxes.size(), 2);
    QCOMPARE(model->changeModeCount(), 1);
    QVERIFY(!w.isVisible());
    QCOMPARE(FakeHid::openHandleCount(), 0);
}

void ChangeModeTest::serialPortLostWhileAskingKeepsWindowOpen()
{
    MainWindow w;
    connectAndShow(w, true);

    boxes->onBox = [this](const SeenBox &) {
        pty->closeMaster();
        QTest::qWait(200);
    };
    click(w, "ChangeModeBut");
    QCOMPARE(boxes->boxes.size(), 1);
    QTRY_VERIFY(shownDisconnected(w));
    QCOMPARE(model->changeModeCount(), 0);
    QVERIFY(w.isVisible());
    QVERIFY(!w.link().isOpen());
    QCOMPARE(text(w, "ConnectBut"), QStringLiteral("Connect Device"));
}

void ChangeModeTest::disconnectedWindowAsksNothing()
{
    FakeHid::attach(model.get());
    MainWindow w;
    w.show();
    TraceCapture traces;
    // The button is disabled without a connection; the slot is not.
    QMetaObject::invokeMethod(&w, "ChangeModeClick");
    QTest::qWait(50);
    QVERIFY(boxes->boxes.isEmpty());
    QVERIFY(FakeHid::attemptedWrites().isEmpty());
    QVERIFY(traces.lines().isEmpty());
    QVERIFY(w.isVisible());
}

QTEST_MAIN(ChangeModeTest)
#include "tst_changemode.moc"

// The serial side: bare frames out, the 100 ms poll in, what the output tab
// shows, and a port whose far end goes away.
#include "app/mainwindow.h"
#include "settings/textcodec.h"
#include "link/readerlink.h"

#include "support/faultcheck.h"
#include "support/readertestcase.h"
#include "support/tracecapture.h"
#include "support/windowdriver.h"

#include "ptyreader.h"
#include "readermodel.h"
#include "readerreplies.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>

namespace {

QTextEdit *scanner(const MainWindow &w)
{
    return widget<QTextEdit>(w, "ScannerEdit");
}

// Connected over a pseudo-terminal whose far end only listens, with the
// timer stopped so that each poll happens when the test says.
bool connectQuiet(MainWindow &w, PtyReader &pty)
{
    if (!connectOverSerial(w, pty))
        return false;
    pollTimer(w)->stop();
    QTest::qWait(20);
    pollPort(w);
    scanner(w)->clear();
    return true;
}

} // namespace

class SerialPollTest : public ReaderTestCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void serialSendWritesBareFrames_data();
    void serialSendWritesBareFrames();
    void serialSendWithoutPortFails();
    void failedPortClosesAndReportsOnce();

    void emptyPollChangesNothing();
    void chunksShowAsARebuildWouldShowThem_data();
    void chunksShowAsARebuildWouldShowThem();
    void zeroByteCutsTheDisplayOnly();
    void markupArrivesAsText();
    void parserGetsTheWholeChunk();
    void receptionResumesAfterReconnect();
    void farEndGoneLeavesTheWindowDisconnectedAndIdle();
};

void SerialPollTest::init()
{
    startCase(); // no USB reader: the window starts on the serial side
}

void SerialPollTest::cleanup()
{
    endCase();
}

void SerialPollTest::serialSendWritesBareFrames_data()
{
    QTest::addColumn<QByteArrayList>("frames");
    QTest::newRow("settings read") << QByteArrayList{commandFrame(CmdGetStatus),    commandFrame(CmdFlags),
                                                     commandFrame(CmdOutput),       commandFrame(CmdGetPreAmble),
                                                     commandFrame(CmdGetPostAmble), commandFrame(CmdGetRemoveData)};
    QTest::newRow("change mode") << QByteArrayList{guardedFrame(CmdChangeMode)};
    QTest::newRow("data block, no CR") << QByteArrayList{QByteArray::fromHex("1b4221020d0a")};
}

void SerialPollTest::serialSendWritesBareFrames()
{
    QFETCH(QByteArrayList, frames);

    openPty(Answers::Never);
    ReaderLink link;
    QVERIFY(link.open(ReaderLink::Transport::Serial, pty->portName()));
    for (const QByteArray &frame : frames)
        QVERIFY(link.send(frame));
    const QByteArray all = frames.join();
    QTRY_COMPARE(pty->received().toHex(' '), all.toHex(' '));
}

void SerialPollTest::serialSendWithoutPortFails()
{
    ReaderLink link;
    QVERIFY(!link.send(commandFrame(CmdGetStatus)));
    QVERIFY(!link.open(ReaderLink::Transport::Serial, QStringLiteral("/dev/tavrin-no-such-port")));
    QVERIFY2(link.errorString().startsWith(QStringLiteral("/dev/tavrin-no-such-port: ")),
             qPrintable(link.errorString()));
    QVERIFY(!link.send(commandFrame(CmdGetStatus)));
}

void SerialPollTest::failedPortClosesAndReportsOnce()
{
    openPty(Answers::Never);
    ReaderLink link;
    QVERIFY(link.open(ReaderLink::Transport::Serial, pty->portName()));
    QSignalSpy failed(&link, &ReaderLink::lost);
    TraceCapture traces;
    pty->closeMaster();
    // Whether the poll notices first or the write does, the port ends closed.
    QVERIFY(!link.send(commandFrame(CmdGetStatus)) || QTest::qWaitFor([&] { return failed.size() > 0; }));
    QTRY_COMPARE(failed.size(), 1);
    QVERIFY(!link.isOpen());
    QVERIFY(!link.send(commandFrame(CmdGetStatus)));
    QCOMPARE(traces.startingWith(QStringLiteral("Serial port error ")).size(), 1);
    QTest::qWait(100);
    QCOMPARE(failed.size(), 1);
}

void SerialPollTest::emptyPollChangesNothing()
{
    openPty(Answers::Never);
    MainWindow w;
    QVERIFY(connectQuiet(w, *pty));
    scanner(w)->setPlainText(QStringLiteral("kept"));
    const int revision = scanner(w)->document()->revision();
    QSignalSpy changes(scanner(w)->document(), &QTextDocument::contentsChange);
    TraceCapture traces;
    pollPort(w);
    pollPort(w);
    QCOMPARE(scanner(w)->toPlainText(), QStringLiteral("kept"));
    QCOMPARE(scanner(w)->document()->revision(), revision);
    QCOMPARE(changes.size(), 0);
    QVERIFY(traces.lines().isEmpty());
}

void SerialPollTest::chunksShowAsARebuildWouldShowThem_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QString>("shown");

    const QString none;
    QTest::newRow("token line") << none << QByteArrayList{"01000017A5C3E2B9\r\n"} << "01000017A5C3E2B9\n";
    QTest::newRow("CR alone ends a line") << none << QByteArrayList{"A\rB"} << "A\nB";
    QTest::newRow("LF") << none << QByteArrayList{"A\nB\n"} << "A\nB\n";
    QTest::newRow("CR LF in one poll") << none << QByteArrayList{"A\r\nB"} << "A\nB";
    QTest::newRow("CR LF split over two polls") << none << QByteArrayList{"A\r", "\nB"} << "A\n\nB";
    QTest::newRow("CRs and LF in three polls") << none << QByteArrayList{"\r", "\r", "\n"} << "\n\n\n";
    QTest::newRow("cut at each chunk's first zero")
        << none << QByteArrayList{QByteArray("AB\0C", 4), QByteArray("D\0E\0F", 5)} << "ABD";
    QTest::newRow("chunk that starts with zero") << none << QByteArrayList{QByteArray("\0XY", 3), "Z"} << "Z";
    QTest::newRow("tabs and form feeds stay") << none << QByteArrayList{"x\t\v\f", "y"} << "x\t\v\fy";
    QTest::newRow("no-break space (A0)") << none << QByteArrayList{"A\xA0", "B"} << "A B";
    QTest::newRow("code page bytes") << none << QByteArrayList{"\x80\xE9\xFF"}
                                     << TextCodec::bytesToText("\x80\xE9\xFF");
    QTest::newRow("after typed separators")
        << QStringLiteral("P\u2029Q\u2028R") << QByteArrayList{"S\r\n"} << "P\nQ\nRS\n";
    QTest::newRow("after typed text") << QStringLiteral("typed ") << QByteArrayList{"1", "2"} << "typed 12";
}

void SerialPollTest::chunksShowAsARebuildWouldShowThem()
{
    QFETCH(QString, before);
    QFETCH(QByteArrayList, chunks);
    QFETCH(QString, shown);

    openPty(Answers::Never);
    MainWindow w;
    QVERIFY(connectQuiet(w, *pty));
    scanner(w)->setPlainText(before);
    // What rebuilding the whole text at each poll would show.
    QTextEdit rebuilt;
    rebuilt.setPlainText(before);

    for (const QByteArray &chunk : chunks) {
        QVERIFY(arriveAtPort(w, *pty, chunk));
        pollPort(w);
        QCOMPARE(w.link().bytesWaiting(), qint64(0));
        rebuilt.setText(rebuilt.document()->toPlainText() + TextCodec::cStringToText(chunk));
    }
    QCOMPARE(scanner(w)->toPlainText(), shown);
    QCOMPARE(scanner(w)->toPlainText(), rebuilt.toPlainText());
    // Reader output is no edit of the user's to take back.
    QVERIFY(!scanner(w)->document()->isUndoAvailable());
}

void SerialPollTest::zeroByteCutsTheDisplayOnly()
{
    openPty(Answers::Never);
    MainWindow w;
    QVERIFY(connectOverSerial(w, *pty));
    QTest::qWait(150);
    scanner(w)->clear();
    // Through the running timer, as the program receives.
    pty->inject(QByteArray::fromHex("41420043"));
    QTRY_COMPARE(scanner(w)->toPlainText(), QStringLiteral("AB"));
    QCOMPARE(w.link().bytesWaiting(), qint64(0));
    QTest::qWait(250);
    QCOMPARE(scanner(w)->toPlainText(), QStringLiteral("AB"));
}

void SerialPollTest::markupArrivesAsText()
{
    openPty(Answers::Never);
    MainWindow w;
    QVERIFY(connectQuiet(w, *pty));
    // Bold text pasted by the user must not rub off on what arrives.
    scanner(w)->setHtml(QStringLiteral("<b>pasted</b>"));
    for (const QByteArray &chunk : {QByteArray("<b>x</b>"), QByteArray("y&lt;"), QByteArray("<i>\r\n")}) {
        QVERIFY(arriveAtPort(w, *pty, chunk));
        pollPort(w);
    }
    QCOMPARE(scanner(w)->toPlainText(), QStringLiteral("pasted<b>x</b>y&lt;<i>\n"));
    const QTextDocument *doc = scanner(w)->document();
    const int received = int(QStringLiteral("pasted").size());
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.position() + fragment.length() > received) {
                QCOMPARE(fragment.charFormat().fontWeight(), int(QFont::Normal));
                QVERIFY(!fragment.charFormat().fontItalic());
            }
        }
    }
}

void SerialPollTest::parserGetsTheWholeChunk()
{
    model->state().outputStart = 7;
    model->state().outputLength = 9;
    model->state().preAmble = "[";
    openPty();
    MainWindow w;
    QVERIFY(connectOverSerial(w, *pty));
    // The display stops at the flags reply's first zero byte ...
    QVERIFY2(scanner(w)->toPlainText().startsWith(QStringLiteral("1BT V2.0\x1b" "B\x02")),
             qPrintable(scanner(w)->toPlainText()));
    // ... the read saw all of it, the last block included.
    QCOMPARE(widget<QLabel>(w, "FWLbl")->text(), QStringLiteral("F/W Version: 1BT V2.0"));
    QCOMPARE(widget<QLineEdit>(w, "IBTOutStartEdit")->text(), QStringLiteral("7"));
    QCOMPARE(widget<QLineEdit>(w, "IBTOutLengthEdit")->text(), QStringLiteral("9"));
    QCOMPARE(widget<QLineEdit>(w, "PreAmbleEdit")->text(), QStringLiteral("["));
    QCOMPARE(boxes->texts(), QStringList{ReadOk});
}

void SerialPollTest::receptionResumesAfterReconnect()
{
    openPty(Answers::Never);
    MainWindow w;
    QVERIFY(connectOverSerial(w, *pty));
    QTest::qWait(150);
    scanner(w)->clear();
    pty->inject("first ");
    QTRY_COMPARE(scanner(w)->toPlainText(), QStringLiteral("first "));

    click(w, "ConnectBut");
    QVERIFY(!connectedOverSerial(w));
    QCOMPARE(scanner(w)->toPlainText(), QStringLiteral("first "));

    click(w, "ConnectBut");
    QVERIFY(connectedOverSerial(w) && activeTimers(w).size() == 1);
    QTest::qWait(150);
    pty->inject("second");
    QTRY_COMPARE(scanner(w)->toPlainText(), QStringLiteral("first second"));
}

void SerialPollTest::farEndGoneLeavesTheWindowDisconnectedAndIdle()
{
    openPty(Answers::Never);
    MainWindow w;
    QVERIFY(connectOverSerial(w, *pty));
    pty->inject("shown");
    QTRY_COMPARE(scanner(w)->toPlainText().right(5), QStringLiteral("shown"));
    const QString shown = scanner(w)->toPlainText();

    TraceCapture traces;
    pty->closeMaster();
    QTRY_VERIFY_WITH_TIMEOUT(shownDisconnected(w), 2000);
    QCOMPARE(widget<QPushButton>(w, "ConnectBut")->text(), QStringLiteral("Connect Device"));
    QVERIFY(!w.link().isOpen());
    QVERIFY(activeTimers(w).isEmpty());
    QCOMPARE(scanner(w)->toPlainText(), shown);

    const QStringList lines = traces.lines();
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines[0].startsWith(QStringLiteral("Serial port error ")), qPrintable(lines[0]));
    QCOMPARE(lines[1], QStringLiteral("Serial port lost, disconnecting\n"));
    QCOMPARE(lines[2], QStringLiteral("Pasq_Device disconnect"));

    // A port left open reports its error again and again and eats a core.
    traces.clear();
    const qint64 cpu = FaultCheck::idleCpuMicroseconds(300);
    QVERIFY2(cpu < FaultCheck::IdleCpuLimitUs, qPrintable(QStringLiteral("%1 us of CPU in 300 ms").arg(cpu)));
    QVERIFY2(traces.lines().isEmpty(), qPrintable(traces.lines().join(',')));
}

QTEST_MAIN(SerialPollTest)
#include "tst_serialpoll.moc"

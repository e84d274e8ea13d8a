// The diagnostic dump and the hidden test command, against the simulated
// reader.
#include "app/mainwindow.h"
#include "link/readerlink.h"

#include "support/fakehid.h"
#include "support/readertestcase.h"
#include "support/tracecapture.h"
#include "support/windowdriver.h"

#include "readermodel.h"
#include "readerreplies.h"

#include <QRadioButton>
#include <QTest>

namespace {

const QString noDevice = QStringLiteral("unable to open device\n");
const QString dataRead = QStringLiteral("Data read:\n   ");
const QString waiting = QStringLiteral("waiting...\n");

QByteArray reportOf(const char *frameHex, quint8 seq = 0)
{
    QByteArray report(65, '\0');
    report.replace(1, 8, QByteArray::fromHex(frameHex));
    report[49] = char(seq);
    return report;
}

// The dump's lines from "Data read" on: one "%02hx " line per byte.
QStringList dumpOf(const QByteArray &bytes)
{
    QStringList lines{dataRead};
    for (char byte : bytes)
        lines << QStringLiteral("%1 ").arg(quint8(byte), 2, 16, QLatin1Char('0'));
    return lines;
}

QStringList after(const QStringList &lines, const QString &first)
{
    const qsizetype at = lines.indexOf(first);
    return at < 0 ? QStringList() : lines.mid(at);
}

} // namespace

class DiagnosticsTest : public ReaderTestCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void dumpReadsDescriptorsAndOneReport();
    void unreadableDescriptorStillHasItsLine_data();
    void unreadableDescriptorStillHasItsLine();
    void dumpWaitsForALateReport();
    void dumpGoesOnAfterRefusedWriteAndGivesUp();
    void dumpReportsAFailedRead();
    void dumpWithoutReaderOnlySaysSo();
    void dumpThatCannotOpenKeepsTheConnectionsHandle();
    void testCommandOpensTheReaderAndSendsAPreambleRead();
    void testCommandUsesAnOpenConnection();
    void testCommandWithoutReaderKeepsSequenceNumber();
    void testCommandsReaderGoesWithTheNextConnection();
    void pauseAndStopWithoutWorkerDoNothing();
};

void DiagnosticsTest::init()
{
    startCase();
    model->state().outputStart = 0x0A; // a byte that needs its leading zero
    // The dump's first read comes right after its write.
    model->setReplyLatencyMs(0);
}

void DiagnosticsTest::cleanup()
{
    // Neither slot tells the user anything.
    QVERIFY(boxes->boxes.isEmpty());
    endCase();
}

void DiagnosticsTest::dumpReadsDescriptorsAndOneReport()
{
    FakeHid::setProducts({FakeHid::DiagnosticProductId});
    FakeHid::attach(model.get());
    FakeHid::setString(FakeHid::Descriptor::Manufacturer, QStringLiteral("Ünïcode Works"));
    {
        MainWindow w;
        const quint8 seq = w.link().seqNo();
        const int initsBefore = FakeHid::initCount();
        TraceCapture traces;
        w.threadStart();

        const QByteArray reply = ReaderReplies::usbStatus(model->state(), 0xFF);
        QCOMPARE(reply.size(), 64);
        QCOMPARE(traces.lines(),
                 QStringList({QStringLiteral("Manufacturer String: Ünïcode Works\n"),
                              QStringLiteral("Product String: iButton Reader\n"),
                              QStringLiteral("Serial Number String: (83) SIM0001"),
                              QStringLiteral("Indexed String 1: Simulated Reader Works\n")})
                     + dumpOf(reply));
        QVERIFY(traces.lines().contains(QStringLiteral("0a ")));

        QCOMPARE(FakeHid::initCount(), initsBefore + 1);
        const FakeHid::OpenCall open = FakeHid::opens().last();
        QCOMPARE(open.productId, FakeHid::DiagnosticProductId);
        QVERIFY(!open.withSerialNumber && open.opened);
        QVERIFY(FakeHid::calls().contains(QStringLiteral("hid_set_nonblocking 1 -> 0")));
        QCOMPARE(FakeHid::writtenReports(), QList<QByteArray>{reportOf("1B4200000000000D")});

        // The device stays open, outside the connection.
        QCOMPARE(FakeHid::openHandleCount(), 1);
        QVERIFY(!w.link().isOpen() && !connectedOverUsb(w));
        QCOMPARE(w.link().seqNo(), seq);
    }
    QCOMPARE(FakeHid::openHandleCount(), 0);
}

void DiagnosticsTest::unreadableDescriptorStillHasItsLine_data()
{
    QTest::addColumn<int>("descriptor");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("resultLine");
    QTest::newRow("manufacturer") << int(FakeHid::Descriptor::Manufacturer)
                                  << "Unable to read manufacturer string\n" << "Manufacturer String: \n";
    QTest::newRow("product") << int(FakeHid::Descriptor::Product) << "Unable to read product string\n"
                             << "Product String: \n";
    QTest::newRow("serial number") << int(FakeHid::Descriptor::SerialNumber)
                                   << "Unable to read serial number string\n" << "Serial Number String: (0) ";
    QTest::newRow("indexed") << int(FakeHid::Descriptor::Indexed) << "Unable to read indexed string 1\n"
                             << "Indexed String 1: \n";
}

void DiagnosticsTest::unreadableDescriptorStillHasItsLine()
{
    QFETCH(int, descriptor);
    QFETCH(QString, failure);
    QFETCH(QString, resultLine);

    FakeHid::setProducts({FakeHid::DiagnosticProductId});
    FakeHid::attach(model.get());
    FakeHid::setStringFails(FakeHid::Descriptor(descriptor), true);
    MainWindow w;
    TraceCapture traces;
    w.threadStart();

    const QStringList lines = traces.lines();
    const qsizetype at = lines.indexOf(failure);
    QVERIFY2(at >= 0, qPrintable(lines.join('|')));
    QCOMPARE(lines.value(at + 1), resultLine);
    QCOMPARE(traces.count(failure), 1);
    // The dump goes on to the report.
    QCOMPARE(after(lines, dataRead).size(), 1 + 64);
}

void DiagnosticsTest::dumpWaitsForALateReport()
{
    FakeHid::setProducts({FakeHid::DiagnosticProductId});
    FakeHid::attach(model.get());
    model->faults().lateReads = 2;
    MainWindow w;
    TraceCapture traces;
    w.threadStart();

    const QStringList lines = traces.lines();
    QCOMPARE(traces.count(waiting), 2);
    QCOMPARE(lines.indexOf(waiting), lines.indexOf(dataRead) - 2);
    QCOMPARE(after(lines, dataRead), dumpOf(ReaderReplies::usbStatus(model->state(), 0xFF)));
}

void DiagnosticsTest::dumpGoesOnAfterRefusedWriteAndGivesUp()
{
    FakeHid::setProducts({FakeHid::DiagnosticProductId});
    FakeHid::attach(model.get());
    FakeHid::refuseWrites(1);
    MainWindow w;
    TraceCapture traces;
    w.threadStart();

    QStringList expected{QStringLiteral("Unable to write()\n"), QStringLiteral("Error: Connection timed out\n")};
    for (int i = 0; i < 10; ++i)
        expected << waiting;
    expected << QStringLiteral("No report within 5000 ms\n") << dataRead;
    QCOMPARE(after(traces.lines(), QStringLiteral("Unable to write()\n")), expected);
    QCOMPARE(FakeHid::readCount(), 11);
}

void DiagnosticsTest::dumpReportsAFailedRead()
{
    FakeHid::setProducts({FakeHid::DiagnosticProductId});
    FakeHid::attach(model.get());
    FakeHid::unplugAfterWrites(1);
    MainWindow w;
    TraceCapture traces;
    w.threadStart();
    QCOMPARE(after(traces.lines(), QStringLiteral("Indexed String 1: Simulated Reader Works\n")),
             (QStringList{QStringLiteral("Indexed String 1: Simulated Reader Works\n"),
                          QStringLiteral("Unable to read()\n"), dataRead}));
}

void DiagnosticsTest::dumpWithoutReaderOnlySaysSo()
{
    MainWindow w;
    TraceCapture traces;
    w.threadStart();
    QCOMPARE(traces.lines(), QStringList{noDevice});
    QCOMPARE(FakeHid::openHandleCount(), 0);
    QVERIFY(FakeHid::attemptedWrites().isEmpty());
}

void DiagnosticsTest::dumpThatCannotOpenKeepsTheConnectionsHandle()
{
    // Only the ordinary reader product is present.
    FakeHid::attach(model.get());
    MainWindow w;
    QVERIFY(connectOverUsb(w));
    boxes->boxes.clear(); // the connect's own read

    TraceCapture traces;
    w.threadStart();
    QCOMPARE(traces.lines(), QStringList{noDevice});
    QVERIFY(connectedOverUsb(w));
    QCOMPARE(FakeHid::openHandleCount(), 1);
}

void DiagnosticsTest::testCommandOpensTheReaderAndSendsAPreambleRead()
{
    FakeHid::attach(model.get());
    MainWindow w;
    const int opensBefore = FakeHid::openCount();
    TraceCapture traces;
    click(w, "TestBut");

    QCOMPARE(FakeHid::openCount(), opensBefore + 1);
    QCOMPARE(FakeHid::opens().last().productId, FakeHid::ReaderProductId);
    QCOMPARE(FakeHid::writtenReports(), QList<QByteArray>{reportOf("1B4220000000000D", 2)});
    QCOMPARE(int(w.link().seqNo()), 2);
    QCOMPARE(FakeHid::openHandleCount(), 1);
    QVERIFY(!w.link().isOpen());
    // The reader's answer was awaited, and not shown anywhere.
    QCOMPARE(model->usbPending(), 0);
    QVERIFY(!traces.lines().contains(noDevice));
}

void DiagnosticsTest::testCommandUsesAnOpenConnection()
{
    FakeHid::attach(model.get());
    MainWindow w;
    QVERIFY(connectOverUsb(w));
    boxes->boxes.clear(); // the connect's own read
    const int opensBefore = FakeHid::openCount();
    const quint8 seq = w.link().seqNo();
    const int writesBefore = int(FakeHid::writtenReports().size());

    w.TestButClick();
    QCOMPARE(FakeHid::openCount(), opensBefore);
    QCOMPARE(FakeHid::openHandleCount(), 1);
    const quint8 sent = NextSeqNo(seq);
    QCOMPARE(w.link().seqNo(), sent);
    QCOMPARE(FakeHid::writtenReports().mid(writesBefore),
             QList<QByteArray>{reportOf("1B4220000000000D", sent)});
}

void DiagnosticsTest::testCommandWithoutReaderKeepsSequenceNumber()
{
    MainWindow w;
    TraceCapture traces;
    w.TestButClick();
    QCOMPARE(traces.lines(), QStringList{noDevice});
    QCOMPARE(int(w.link().seqNo()), 1);
    QCOMPARE(FakeHid::openHandleCount(), 0);
    QVERIFY(FakeHid::attemptedWrites().isEmpty());
}

void DiagnosticsTest::testCommandsReaderGoesWithTheNextConnection()
{
    FakeHid::attach(model.get());
    MainWindow w;
    click(w, "TestBut");
    QCOMPARE(FakeHid::openHandleCount(), 1);
    const int exitsBefore = FakeHid::exitCount();

    QVERIFY(connectOverUsb(w));
    boxes->boxes.clear(); // the connect's own read
    QCOMPARE(FakeHid::openHandleCount(), 1);
    click(w, "ConnectBut");
    QCOMPARE(FakeHid::openHandleCount(), 0);
    // hidapi went down once, after the last handle (the fake hidapi records
    // a shut-down under an open handle as a violation).
    QCOMPARE(FakeHid::exitCount(), exitsBefore + 1);
    QCOMPARE(FakeHid::calls().last(), QStringLiteral("hid_exit"));
}

void DiagnosticsTest::pauseAndStopWithoutWorkerDoNothing()
{
    FakeHid::attach(model.get());
    MainWindow w;
    TraceCapture traces;
    w.threadPause();
    w.threadPause();
    w.threadStop();
    QVERIFY(traces.lines().isEmpty());
    QCOMPARE(FakeHid::openCount(), 1); // the start-up probe
}

QTEST_MAIN(DiagnosticsTest)
#include "tst_diagnostics.moc"

// The HID request/reply exchange and the one-way send, against the simulated
// reader behind the fake hidapi; the link alone, no window.
#include "link/readerlink.h"

#include "support/fakehid.h"
#include "support/readertestcase.h"
#include "support/tracecapture.h"

#include "readermodel.h"

#include <QElapsedTimer>
#include <QTest>

#include <memory>

namespace {

const QString WriteFailed = QStringLiteral("Unable to write Get Attach PreAmble Data command\n");
const QString Refused = QStringLiteral("Error: Connection timed out\n");
const QString ReadFailed = QStringLiteral("Unable to read PreAmble Data \n");
const QString GaveUp = QStringLiteral("No matching reply within 3000 ms\n");

QString readLine(quint8 b48, quint8 b49 = 0, quint8 b50 = 0)
{
    return QString::asprintf("Read = %x %x %x", b48, b49, b50);
}

QByteArray reportOf(const QByteArray &frame, quint8 seq)
{
    return HidReport::fromFrame(frame, seq).toByteArray();
}

} // namespace

class HidExchangeTest : public ReaderTestCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void exchangeCarriesTheNextSeqNo_data();
    void exchangeCarriesTheNextSeqNo();
    void replyIsTakenAsSoonAsItComes_data();
    void replyIsTakenAsSoonAsItComes();
    void olderEchoIsDiscarded_data();
    void olderEchoIsDiscarded();
    void refusedWrites_data();
    void refusedWrites();
    void unpluggedReaderEndsWithinTheBound();
    void silentReaderEndsWithinTheBound();
    void oneWaySend_data();
    void oneWaySend();
    void closedLinkSendsNothing();

private:
    std::unique_ptr<ReaderLink> link;
};

void HidExchangeTest::init()
{
    startCase(Boxes::NotCaught);
    FakeHid::attach(model.get());
    link = std::make_unique<ReaderLink>();
    QVERIFY(link->open(ReaderLink::Transport::Hid));
}

void HidExchangeTest::cleanup()
{
    link.reset();
    endCase();
}

void HidExchangeTest::exchangeCarriesTheNextSeqNo_data()
{
    QTest::addColumn<quint8>("before");
    QTest::addColumn<quint8>("seq");
    QTest::addColumn<quint8>("echo");
    QTest::newRow("first after start") << quint8(1) << quint8(2) << quint8(0xFD);
    QTest::newRow("to 255") << quint8(254) << quint8(255) << quint8(0x00);
    QTest::newRow("wraps to 1") << quint8(255) << quint8(1) << quint8(0xFE);
}

void HidExchangeTest::exchangeCarriesTheNextSeqNo()
{
    QFETCH(quint8, before);
    QFETCH(quint8, seq);
    QFETCH(quint8, echo);

    while (link->seqNo() != before)
        link->NextSeqNo();
    TraceCapture traces;
    const std::optional<QByteArray> reply = link->exchange(commandFrame(CmdGetStatus));
    QVERIFY(reply);
    QCOMPARE(link->seqNo(), seq);

    QCOMPARE(FakeHid::writtenReports(), QList<QByteArray>{reportOf(commandFrame(CmdGetStatus), seq)});
    QCOMPARE(traces.lines(), QStringList{readLine(echo)});
    QCOMPARE(quint8(reply->at(48)), echo);
    QCOMPARE(reply->mid(56, 8), QByteArray("1BT V2.0"));
    QCOMPARE(FakeHid::readCount(), 1);
}

void HidExchangeTest::replyIsTakenAsSoonAsItComes_data()
{
    QTest::addColumn<int>("latencyMs");
    QTest::addColumn<bool>("staleFirst");
    QTest::addColumn<int>("reads");
    QTest::newRow("answer after 5 ms") << 5 << false << 1;
    QTest::newRow("answer after 250 ms") << 250 << false << 1;
    QTest::newRow("stale echo, then the answer") << 5 << true << 2;
}

void HidExchangeTest::replyIsTakenAsSoonAsItComes()
{
    QFETCH(int, latencyMs);
    QFETCH(bool, staleFirst);
    QFETCH(int, reads);

    model->setReplyLatencyMs(latencyMs);
    model->faults().staleEchoFirst = staleFirst;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(link->exchange(commandFrame(CmdGetPreAmble)));
    const qint64 took = clock.elapsed();
    QCOMPARE(FakeHid::readCount(), reads);
    // Neither the reply nor the report before it waits for a read to run out.
    QVERIFY2(took >= latencyMs && took < latencyMs + ReaderLink::ReadWaitMs / 2,
             qPrintable(QString::number(took)));
}

void HidExchangeTest::olderEchoIsDiscarded_data()
{
    QTest::addColumn<bool>("afterOneWay");
    QTest::addColumn<quint8>("staleEcho");
    // The reader's answer to the request before this one comes first.
    QTest::newRow("older sequence number") << false << quint8(0xFE);
    // A one-way command that was answered anyway left its report behind.
    QTest::newRow("answer to a one-way send") << true << quint8(0xFF);
}

void HidExchangeTest::olderEchoIsDiscarded()
{
    QFETCH(bool, afterOneWay);
    QFETCH(quint8, staleEcho);

    if (afterOneWay) {
        model->faults().answerOneWay = true;
        QVERIFY(link->send(commandFrame(CmdFlags, 0x01, 0x10)));
    } else {
        model->faults().staleEchoFirst = true;
    }
    TraceCapture traces;
    const std::optional<QByteArray> reply = link->exchange(commandFrame(CmdGetPreAmble));
    QVERIFY(reply);
    QCOMPARE(traces.lines(), (QStringList{readLine(staleEcho), readLine(0xFD)}));
    QCOMPARE(FakeHid::readCount(), 2);
    QCOMPARE(quint8(reply->at(48)), quint8(0xFD));
}

void HidExchangeTest::refusedWrites_data()
{
    QTest::addColumn<int>("refused");
    QTest::addColumn<bool>("result");
    QTest::newRow("first write goes") << 0 << true;
    QTest::newRow("second write goes") << 1 << true;
    QTest::newRow("third write goes") << 2 << true;
    QTest::newRow("all three refused") << 3 << false;
}

void HidExchangeTest::refusedWrites()
{
    QFETCH(int, refused);
    QFETCH(bool, result);

    FakeHid::refuseWrites(refused);
    TraceCapture traces;
    QCOMPARE(link->exchange(commandFrame(CmdGetStatus)).has_value(), result);

    QStringList expected;
    for (int i = 0; i < refused; ++i)
        expected << WriteFailed << Refused;
    if (result)
        expected << readLine(0xFD);
    QCOMPARE(traces.lines(), expected);
    QCOMPARE(FakeHid::attemptedWrites().size(), std::min(refused + 1, 3));
    QCOMPARE(FakeHid::readCount(), result ? 1 : 0);
    if (!result)
        QCOMPARE(link->errorString(), QStringLiteral("/dev/hidraw-sim0: Connection timed out"));
}

void HidExchangeTest::unpluggedReaderEndsWithinTheBound()
{
    // The request reaches the reader, then it is pulled out: every read
    // fails at once.
    FakeHid::unplugAfterWrites(1);
    TraceCapture traces;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!link->exchange(commandFrame(CmdGetStatus)));
    const qint64 took = clock.elapsed();

    QVERIFY2(took < ReaderLink::ExchangeBoundMs + 200, qPrintable(QString::number(took)));
    // Failed reads wait out their read each time: about ten, not thousands.
    const int reads = FakeHid::readCount();
    QVERIFY2(reads >= 1 && reads <= ReaderLink::ExchangeBoundMs / ReaderLink::ReadWaitMs,
             qPrintable(QString::number(reads)));
    QStringList expected;
    for (int i = 0; i < reads; ++i)
        expected << ReadFailed << readLine(0);
    expected << GaveUp;
    QCOMPARE(traces.lines(), expected);
    QCOMPARE(link->errorString(), QStringLiteral("No matching reply within 3000 ms"));
}

void HidExchangeTest::silentReaderEndsWithinTheBound()
{
    model->faults().silent = true;
    TraceCapture traces;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!link->exchange(commandFrame(CmdGetStatus)));
    const qint64 took = clock.elapsed();

    QVERIFY2(took >= ReaderLink::ExchangeBoundMs - 50 && took < ReaderLink::ExchangeBoundMs + 200,
             qPrintable(QString::number(took)));
    const int reads = FakeHid::readCount();
    QVERIFY(reads >= 1);
    QCOMPARE(traces.count(readLine(0)), reads);
    QCOMPARE(traces.lines().last(), GaveUp);
    QCOMPARE(traces.lines().size(), reads + 1);
    for (const QString &call : FakeHid::calls().filter(QStringLiteral("hid_read")))
        QVERIFY2(call.startsWith(QStringLiteral("hid_read_timeout ")) && !call.contains(QStringLiteral(" -1 ")),
                 qPrintable(call));
    QCOMPARE(link->errorString(), QStringLiteral("No matching reply within 3000 ms"));
}

void HidExchangeTest::oneWaySend_data()
{
    QTest::addColumn<bool>("refuse");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("taken") << false << QStringList();
    QTest::newRow("refused") << true << QStringList{QStringLiteral("Unable to write()\n"), Refused};
}

void HidExchangeTest::oneWaySend()
{
    QFETCH(bool, refuse);
    QFETCH(QStringList, expected);

    FakeHid::refuseWrites(refuse ? 1 : 0);
    TraceCapture traces;
    QCOMPARE(link->send(guardedFrame(CmdSettingsDone)), !refuse);
    QCOMPARE(traces.lines(), expected);
    QCOMPARE(FakeHid::attemptedWrites(), QList<QByteArray>{reportOf(guardedFrame(CmdSettingsDone), 0)});
    QCOMPARE(FakeHid::readCount(), 0);
    QCOMPARE(model->settingsDoneCount(), refuse ? 0 : 1);
}

void HidExchangeTest::closedLinkSendsNothing()
{
    link->close();
    const int calls = int(FakeHid::calls().size());
    QVERIFY(!link->exchange(commandFrame(CmdGetStatus)));
    QVERIFY(!link->send(commandFrame(CmdGetStatus)));
    QCOMPARE(FakeHid::calls().size(), calls);
    QCOMPARE(link->seqNo(), quint8(1));
}

QTEST_GUILESS_MAIN(HidExchangeTest)
#include "tst_hidexchange.moc"

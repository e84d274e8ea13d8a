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

// Every byte different and none zero, so that a byte the exchange touched
// shows.
HidReplyBuffer patterned()
{
    HidReplyBuffer reply;
    for (size_t i = 0; i < reply.size(); ++i)
        reply[i] = quint8(0x80 + i % 0x7F);
    return reply;
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
    void olderEchoIsDiscarded_data();
    void olderEchoIsDiscarded();
    void refusedWrites_data();
    void refusedWrites();
    void unpluggedReaderEndsWithinTheBound();
    void silentReaderEndsWithinTheBound();
    void hidSend_data();
    void hidSend();
    void closedLinkSendsNothing();

private:
    std::unique_ptr<ReaderLink> link;
};

void HidExchangeTest::init()
{
    startCase(Boxes::NotCaught);
    FakeHid::attach(model.get());
    link = std::make_unique<ReaderLink>();
    QVERIFY(link->openHid());
}

void HidExchangeTest::cleanup()
{
    if (link && link->hidHandle)
        link->closeHid();
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

    link->seqNo = before;
    QCOMPARE(link->NextSeqNo(), seq);
    QCOMPARE(link->seqNo, seq);

    const HidReport request = HidReport::fromFrame(commandFrame(CmdGetStatus), seq);
    HidReplyBuffer reply = patterned();
    TraceCapture traces;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(link->HidExchange(request, reply.data(), seq));
    QVERIFY2(clock.elapsed() >= ReaderLink::ReadPauseMs, "read before the reader's pause");

    QCOMPARE(FakeHid::writtenReports(), QList<QByteArray>{request.toByteArray()});
    QCOMPARE(traces.lines(), QStringList{readLine(echo)});
    QCOMPARE(reply[48], echo);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(reply.data()) + 56, 8), QByteArray("1BT V2.0"));
    QCOMPARE(FakeHid::readCount(), 1);
}

void HidExchangeTest::olderEchoIsDiscarded_data()
{
    QTest::addColumn<bool>("afterOneWay");
    QTest::addColumn<quint8>("staleEcho");
    // The reader's answer to the request before this one comes first.
    QTest::newRow("older sequence number") << false << quint8(0xFB);
    // A one-way command that was answered anyway left its report behind.
    QTest::newRow("answer to a one-way send") << true << quint8(0xFF);
}

void HidExchangeTest::olderEchoIsDiscarded()
{
    QFETCH(bool, afterOneWay);
    QFETCH(quint8, staleEcho);

    if (afterOneWay) {
        model->faults().answerOneWay = true;
        QVERIFY(link->HidSend(HidReport::fromFrame(commandFrame(CmdFlags, 0x01, 0x10))));
    } else {
        model->faults().staleEchoFirst = true;
    }
    const quint8 seq = 5;
    HidReplyBuffer reply{};
    TraceCapture traces;
    QVERIFY(link->HidExchange(HidReport::fromFrame(commandFrame(CmdGetPreAmble), seq), reply.data(), seq));
    QCOMPARE(traces.lines(), (QStringList{readLine(staleEcho), readLine(0xFA)}));
    QCOMPARE(FakeHid::readCount(), 2);
    QCOMPARE(reply[48], quint8(0xFA));
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
    const quint8 seq = link->NextSeqNo();
    HidReplyBuffer reply{};
    TraceCapture traces;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(link->HidExchange(HidReport::fromFrame(commandFrame(CmdGetStatus), seq), reply.data(), seq),
             result);

    QStringList expected;
    for (int i = 0; i < refused; ++i)
        expected << WriteFailed << Refused;
    if (result)
        expected << readLine(0xFD);
    QCOMPARE(traces.lines(), expected);
    QCOMPARE(FakeHid::attemptedWrites().size(), std::min(refused + 1, 3));
    QCOMPARE(FakeHid::readCount(), result ? 1 : 0);
    if (!result)
        QVERIFY2(clock.elapsed() < ReaderLink::ReadPauseMs, "paused although nothing was written");
}

void HidExchangeTest::unpluggedReaderEndsWithinTheBound()
{
    // The request reaches the reader, then it is pulled out: every read
    // fails at once.
    FakeHid::unplugAfterWrites(1);
    HidReplyBuffer reply = patterned();
    const HidReplyBuffer before = reply;
    TraceCapture traces;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!link->HidExchange(HidReport::fromFrame(commandFrame(CmdGetStatus), 2), reply.data(), 2));
    const qint64 took = clock.elapsed();

    QVERIFY2(took < 3200, qPrintable(QString::number(took)));
    // Failed reads wait out the pause each time: about nine, not thousands.
    const int reads = FakeHid::readCount();
    QVERIFY2(reads >= 1 && reads <= ReaderLink::ExchangeBoundMs / ReaderLink::ReadPauseMs,
             qPrintable(QString::number(reads)));
    QStringList expected;
    for (int i = 0; i < reads; ++i)
        expected << ReadFailed << readLine(before[48], before[49], before[50]);
    expected << GaveUp;
    QCOMPARE(traces.lines(), expected);

    for (int i = 0; i < 4; ++i)
        QCOMPARE(reply[size_t(i)], quint8(0));
    for (size_t i = 4; i < reply.size(); ++i)
        QCOMPARE(reply[i], before[i]);
}

void HidExchangeTest::silentReaderEndsWithinTheBound()
{
    model->faults().silent = true;
    HidReplyBuffer reply{};
    TraceCapture traces;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!link->HidExchange(HidReport::fromFrame(commandFrame(CmdGetStatus), 2), reply.data(), 2));
    const qint64 took = clock.elapsed();

    QVERIFY2(took > ReaderLink::ReadPauseMs && took < 3200, qPrintable(QString::number(took)));
    const int reads = FakeHid::readCount();
    QVERIFY(reads >= 1);
    QCOMPARE(traces.count(readLine(0)), reads);
    QCOMPARE(traces.lines().last(), GaveUp);
    QCOMPARE(traces.lines().size(), reads + 1);
    for (const QString &call : FakeHid::calls().filter(QStringLiteral("hid_read")))
        QVERIFY2(call.startsWith(QStringLiteral("hid_read_timeout ")) && !call.contains(QStringLiteral(" -1 ")),
                 qPrintable(call));
}

void HidExchangeTest::hidSend_data()
{
    QTest::addColumn<bool>("refuse");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("taken") << false << QStringList();
    QTest::newRow("refused") << true << QStringList{QStringLiteral("Unable to write()\n"), Refused};
}

void HidExchangeTest::hidSend()
{
    QFETCH(bool, refuse);
    QFETCH(QStringList, expected);

    FakeHid::refuseWrites(refuse ? 1 : 0);
    const HidReport request = HidReport::fromFrame(guardedFrame(CmdSettingsDone));
    TraceCapture traces;
    QCOMPARE(link->HidSend(request), !refuse);
    QCOMPARE(traces.lines(), expected);
    QCOMPARE(FakeHid::attemptedWrites(), QList<QByteArray>{request.toByteArray()});
    QCOMPARE(FakeHid::readCount(), 0);
    QCOMPARE(model->settingsDoneCount(), refuse ? 0 : 1);
}

void HidExchangeTest::closedLinkSendsNothing()
{
    link->closeHid();
    const int calls = int(FakeHid::calls().size());
    HidReplyBuffer reply{};
    const HidReport request = HidReport::fromFrame(commandFrame(CmdGetStatus), 2);
    QVERIFY(!link->HidExchange(request, reply.data(), 2));
    QVERIFY(!link->HidSend(request));
    QCOMPARE(FakeHid::calls().size(), calls);
}

QTEST_GUILESS_MAIN(HidExchangeTest)
#include "tst_hidexchange.moc"

// Faults on the USB side, through the window: the reader pulled out before
// or during a read or a write, and replies that are noise, late, repeated or
// answer an older request. Whatever happens, the window must be back within
// the exchange's bound, stay idle afterwards, show the connection as it is,
// and send the reader nothing it was not asked to.
#include "app/mainwindow.h"
#include "settings/textcodec.h"
#include "link/commandframe.h"
#include "link/readerlink.h"

#include "support/fakehid.h"
#include "support/faultcheck.h"
#include "support/readertestcase.h"
#include "support/windowdriver.h"

#include "readermodel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>

#include <functional>
#include <optional>

namespace {

// How the form shows loadTypicalSettings after a USB read.
const QStringList Read{"F/W Version: 1BT V2.5", "-56", "16", "3", "[CR][LF]", "AB", "\u20AC"};

// Label, output start and length, keyboard index, the three edits.
QStringList shown(const MainWindow &w)
{
    return {widget<QLabel>(w, "FWLbl")->text(),
            widget<QLineEdit>(w, "IBTOutStartEdit")->text(),
            widget<QLineEdit>(w, "IBTOutLengthEdit")->text(),
            QString::number(widget<QComboBox>(w, "KB_cmb")->currentIndex()),
            widget<QLineEdit>(w, "PreAmbleEdit")->text(),
            widget<QLineEdit>(w, "PostAmbleEdit")->text(),
            widget<QLineEdit>(w, "RemoveDataEdit")->text()};
}

// Values no read produces, so that what a read replaced shows.
void fillSentinels(const MainWindow &w)
{
    for (const char *edit : {"IBTOutStartEdit", "IBTOutLengthEdit"})
        widget<QLineEdit>(w, edit)->setText(QStringLiteral("77"));
    for (const char *edit : {"PreAmbleEdit", "PostAmbleEdit", "RemoveDataEdit"})
        widget<QLineEdit>(w, edit)->setText(QStringLiteral("old"));
    widget<QComboBox>(w, "KB_cmb")->setCurrentIndex(1);
}

// The model logs "rx 1B 42 20 00 00 00 00 0D seq 05" for each request.
struct Request
{
    quint8 code = 0;
    quint8 seq = 0;
};

std::optional<Request> requestOf(const QString &logLine)
{
    if (!logLine.startsWith(QLatin1String("rx ")))
        return std::nullopt;
    const QStringList words = logLine.split(QLatin1Char(' '));
    const int seqAt = int(words.indexOf(QStringLiteral("seq")));
    if (words.size() < 4 || seqAt < 0 || seqAt + 1 >= words.size())
        return std::nullopt;
    return Request{quint8(words[3].toUInt(nullptr, 16)), quint8(words[seqAt + 1].toUInt(nullptr, 16))};
}

// 64 bytes of noise from a fixed seed.
QByteArray noise(quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(64, '\0');
    for (char &b : bytes)
        b = char(random.bounded(256));
    return bytes;
}

QString problems(const MainWindow &w)
{
    return FaultCheck::stateProblems(w).join(QStringLiteral("; "));
}

} // namespace

class HidFaultsTest : public ReaderTestCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void unpluggedReader_data();
    void unpluggedReader();
    void unpluggedBetweenTheReadsOfARead_data();
    void unpluggedBetweenTheReadsOfARead();
    void readerPluggedBackInReadsAgain();
    void badReplies_data();
    void badReplies();

private:
    // A real connect whose own read fails at its first write, so that it
    // costs no read pauses; the records start empty after it.
    void connectQuickly(MainWindow &w);
};

void HidFaultsTest::init()
{
    startCase();
    loadTypicalSettings(model->state());
    FakeHid::attach(model.get());
}

void HidFaultsTest::cleanup()
{
    endCase();
}

void HidFaultsTest::connectQuickly(MainWindow &w)
{
    FakeHid::refuseAllWrites(true);
    click(w, "ConnectBut");
    FakeHid::refuseAllWrites(false);
    QVERIFY(w.link().isOpen() && connectedOverUsb(w));
    QCOMPARE(boxes->texts(), QStringList{StatusFail});
    boxes->boxes.clear();
}

void HidFaultsTest::unpluggedReader_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("unplugAfter"); // writes of the action that still arrive; -1: gone before it
    QTest::addColumn<QStringList>("boxTexts");
    QTest::addColumn<QString>("arrived");  // command codes that reached the reader
    QTest::addColumn<int>("attempts");     // hid_write calls of the action
    QTest::addColumn<bool>("connected");

    QTest::newRow("before connecting") << "connect" << -1 << QStringList{} << "" << 0 << false;
    QTest::newRow("before a settings read") << "read" << -1 << QStringList{StatusFail} << "" << 3 << true;
    // The connect's read failed: the write asks first (and is told Yes),
    // then reads what the reader holds, kept before any frame goes out: a
    // reader gone is found by its first request.
    QTest::newRow("before a settings write") << "write" << -1 << QStringList{NotThisReader} << "" << 3 << true;
    QTest::newRow("during a settings write, after 3 of 7 reports")
        << "write" << 3 << QStringList{NotThisReader} << "00 20 24 28 02 10 03" << 8 << true;
}

void HidFaultsTest::unpluggedReader()
{
    QFETCH(QString, action);
    QFETCH(int, unplugAfter);
    QFETCH(QStringList, boxTexts);
    QFETCH(QString, arrived);
    QFETCH(int, attempts);
    QFETCH(bool, connected);

    MainWindow w;
    if (action != QLatin1String("connect"))
        connectQuickly(w);
    fillSentinels(w);
    const int framesBefore = int(model->framesReceived().size());
    const int attemptsBefore = int(FakeHid::attemptedWrites().size());

    if (unplugAfter < 0)
        FakeHid::unplugNow();
    else  // a write begins with the four requests of a read
        FakeHid::unplugAfterWrites(unplugAfter + (action == QLatin1String("write") ? 4 : 0));
    QElapsedTimer clock;
    clock.start();
    click(w, action == QLatin1String("connect") ? "ConnectBut"
             : action == QLatin1String("read")  ? "GetIBTStatusBut"
                                                : "SetIBTStatusBut");
    // A failed write needs no read pause: nothing waits.
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));

    // The sentinels are typed edits: a read asks before it replaces them.
    QCOMPARE(boxes->texts(), action == QLatin1String("read") ? QStringList{ReplaceWithRead} + boxTexts : boxTexts);
    QCOMPARE(FaultCheck::codesOf(model->framesReceived().mid(framesBefore)), arrived);
    QCOMPARE(int(FakeHid::attemptedWrites().size()) - attemptsBefore, attempts);
    QCOMPARE(w.link().isOpen(), connected);
    if (!connected)
        QCOMPARE(widget<QPushButton>(w, "ConnectBut")->text(), QStringLiteral("Reconnect"));
    // The reader never answered: the form shows what it showed before.
    QCOMPARE(shown(w), (QStringList{NotRead, "77", "77", "1", "old", "old", "old"}));
    VERIFY_AFTER_FAULT(w);

    // The user tries again and then gives up: nothing reaches the reader, the
    // connection ends cleanly, and a new one finds no reader.
    const int framesAfter = int(model->framesReceived().size());
    boxes->boxes.clear();
    if (connected) {
        click(w, "GetIBTStatusBut");
        click(w, "SetIBTStatusBut");
        QCOMPARE(boxes->texts(), (QStringList{ReplaceWithRead, StatusFail, NotThisReader}));
        click(w, "ConnectBut");
        QVERIFY(!w.link().isOpen());
        QVERIFY2(problems(w).isEmpty(), qPrintable(problems(w)));
    }
    click(w, "ConnectBut");
    QCOMPARE(widget<QPushButton>(w, "ConnectBut")->text(), QStringLiteral("Reconnect"));
    QCOMPARE(int(model->framesReceived().size()), framesAfter);
    QCOMPARE(model->settingsDoneCount(), 0);
    VERIFY_AFTER_FAULT(w);
}

void HidFaultsTest::unpluggedBetweenTheReadsOfARead_data()
{
    QTest::addColumn<int>("answered");        // replies read before the reader goes
    QTest::addColumn<bool>("requestArrived"); // the next request still reached it
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("boundMs");

    // An exchange that was answered takes as long as the reader; the failing
    // one either fails at its write or waits out the bound.
    QTest::newRow("after the status reply") << 1 << false << PreAmbleFail << 400;
    QTest::newRow("after the preamble reply") << 2 << false << PostAmbleFail << 400;
    QTest::newRow("after the postamble reply") << 3 << false << RemoveDataFail << 400;
    QTest::newRow("preamble request arrived, reply never read")
        << 1 << true << PreAmbleFail << ReaderLink::ExchangeBoundMs + 400;
}

void HidFaultsTest::unpluggedBetweenTheReadsOfARead()
{
    QFETCH(int, answered);
    QFETCH(bool, requestArrived);
    QFETCH(QString, box);
    QFETCH(int, boundMs);

    MainWindow w;
    connectQuickly(w);
    fillSentinels(w);
    const int framesBefore = int(model->framesReceived().size());
    const int attemptsBefore = int(FakeHid::attemptedWrites().size());

    int replies = 0;
    model->setLogSink([&](const QString &line) {
        if (!line.startsWith(QLatin1String("tx ")) || ++replies != answered)
            return;
        if (requestArrived)
            FakeHid::unplugAfterWrites(1);
        else
            FakeHid::unplugNow();
    });
    QElapsedTimer clock;
    clock.start();
    click(w, "GetIBTStatusBut");
    const qint64 took = clock.elapsed();
    model->setLogSink({});

    QVERIFY2(took <= boundMs, qPrintable(QStringLiteral("%1 ms, bound %2").arg(took).arg(boundMs)));
    if (requestArrived)
        QVERIFY2(took >= ReaderLink::ExchangeBoundMs - 50, qPrintable(QString::number(took)));
    QCOMPARE(boxes->texts(), (QStringList{ReplaceWithRead, box}));

    // Only read requests went out, each once; the one the reader did not
    // take was tried three times.
    const QByteArrayList frames = model->framesReceived().mid(framesBefore);
    const QString codes[] = {"00", "20", "24", "28"};
    QStringList expected;
    for (int i = 0; i < answered + (requestArrived ? 1 : 0); ++i)
        expected << codes[i];
    QCOMPARE(FaultCheck::codesOf(frames), expected.join(' '));
    QVERIFY(FaultCheck::nonReadFrames(frames).isEmpty());
    QCOMPARE(int(FakeHid::attemptedWrites().size()) - attemptsBefore, answered + (requestArrived ? 1 : 3));

    // What was read before the reader went is shown; the rest stays.
    QStringList form = Read;
    if (answered < 2)
        form[4] = QStringLiteral("old");
    if (answered < 3)
        form[5] = QStringLiteral("old");
    form[6] = QStringLiteral("old");
    QCOMPARE(shown(w), form);
    QVERIFY(w.link().isOpen());
    VERIFY_AFTER_FAULT(w);

    click(w, "ConnectBut");
    QVERIFY(!w.link().isOpen());
    VERIFY_AFTER_FAULT(w);
    QCOMPARE(int(model->framesReceived().size()), framesBefore + int(frames.size()));
}

void HidFaultsTest::readerPluggedBackInReadsAgain()
{
    MainWindow w;
    connectQuickly(w);
    FakeHid::unplugNow();
    click(w, "GetIBTStatusBut");
    click(w, "ConnectBut");
    QVERIFY(!w.link().isOpen());
    boxes->boxes.clear();

    FakeHid::plugIn();
    fillSentinels(w);
    click(w, "ConnectBut");
    QCOMPARE(boxes->texts(), (QStringList{ReplaceWithRead, ReadOk}));
    QCOMPARE(shown(w), Read);
    QVERIFY(FaultCheck::nonReadFrames(model->framesReceived()).isEmpty());
    VERIFY_AFTER_FAULT(w);
}

void HidFaultsTest::badReplies_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("requests"); // command codes that reached the reader
    QTest::addColumn<int>("reads");        // hid_read calls, -1: not counted
    QTest::addColumn<int>("boundMs");
    QTest::addColumn<QStringList>("form");

    const QString all = QStringLiteral("00 20 24 28");
    QStringList preKept = Read;
    preKept[4] = QStringLiteral("old");
    QStringList statusNoise = Read;
    statusNoise[0] = QStringLiteral("eight FF"); // as the code page shows them; known once a window is up
    statusNoise[1] = statusNoise[2] = statusNoise[3] = QStringLiteral("-1");

    // Noise with another echo is passed over like any stale report.
    QTest::newRow("noise before the status reply") << "noise" << ReadOk << all << 5 << 400 << Read;
    // A report that echoes the request is taken, whatever it holds; the real
    // reply behind it is stale by the next exchange and passed over.
    QTest::newRow("status reply of all FF") << "status FF" << ReadOk << all << 5 << 400 << statusNoise;
    // A block the form cannot show is that step's failure; the read goes on.
    QTest::newRow("preamble reply counting 255 codes") << "count 255" << PreAmbleFail << all << 5 << 400 << preKept;
    QTest::newRow("preamble reply of 31 codes, sum off") << "sum off" << PreAmbleFail << all << 5 << 400 << preKept;
    // Each late reply costs a second read of each exchange, and that read
    // waits out its time.
    QTest::newRow("every reply one read late") << "late 1" << ReadOk << all << 8 << 4 * 300 + 400 << Read;
    QTest::newRow("status reply later than the bound")
        << "late 11" << StatusFail << "00" << -1 << ReaderLink::ExchangeBoundMs + 400
        << QStringList{NotRead, "77", "77", "1", "old", "old", "old"};
    QTest::newRow("every reply twice") << "twice" << ReadOk << all << 7 << 400 << Read;
    QTest::newRow("an older echo before every reply") << "stale echo" << ReadOk << all << 8 << 400 << Read;
}

void HidFaultsTest::badReplies()
{
    QFETCH(QString, fault);
    QFETCH(QString, box);
    QFETCH(QString, requests);
    QFETCH(int, reads);
    QFETCH(int, boundMs);
    QFETCH(QStringList, form);

    MainWindow w;
    if (form[0] == QLatin1String("eight FF"))
        form[0] = QStringLiteral("F/W Version: ") + TextCodec::bytesToText(QByteArray(8, '\xFF'));
    connectQuickly(w);
    fillSentinels(w);
    const int framesBefore = int(model->framesReceived().size());
    const int readsBefore = FakeHid::readCount();

    // Injected at the request, a report comes before the reader's own reply.
    const auto injectAt = [this](quint8 code, std::function<QByteArray(quint8 echo)> make) {
        model->setLogSink([this, code, make](const QString &line) {
            const std::optional<Request> request = requestOf(line);
            if (request && request->code == code)
                model->injectUsb(make(expectedEcho(request->seq)));
        });
    };
    QString lastRepeated;
    if (fault == QLatin1String("noise")) {
        injectAt(CmdGetStatus, [](quint8 echo) {
            QByteArray r = noise(7);
            r[HidReply::EchoOffset] = char(echo ^ 0x5A);
            return r;
        });
    } else if (fault == QLatin1String("status FF")) {
        injectAt(CmdGetStatus, [](quint8 echo) {
            QByteArray r(64, '\xFF');
            r[HidReply::EchoOffset] = char(echo);
            return r;
        });
    } else if (fault == QLatin1String("count 255")) {
        injectAt(CmdGetPreAmble, [](quint8 echo) {
            QByteArray r = noise(11);
            r[0] = char(0xFF);
            r[HidReply::EchoOffset] = char(echo);
            return r;
        });
    } else if (fault == QLatin1String("sum off")) {
        injectAt(CmdGetPreAmble, [](quint8 echo) {
            QByteArray r(64, '\0');
            r[0] = 31;
            r.replace(1, 31, QByteArray(31, 'x'));
            r[32] = char(31 + 31 * 'x' + 1);
            r[HidReply::EchoOffset] = char(echo);
            return r;
        });
    } else if (fault.startsWith(QLatin1String("late "))) {
        model->faults().lateReads = fault.mid(5).toInt();
    } else if (fault == QLatin1String("twice")) {
        model->setLogSink([this, &lastRepeated](const QString &line) {
            if (!line.startsWith(QLatin1String("tx ")) || line == lastRepeated)
                return;
            lastRepeated = line;
            model->injectUsb(QByteArray::fromHex(line.mid(3).toLatin1()));
        });
    } else if (fault == QLatin1String("stale echo")) {
        model->faults().staleEchoFirst = true;
    }

    QElapsedTimer clock;
    clock.start();
    click(w, "GetIBTStatusBut");
    const qint64 took = clock.elapsed();
    model->setLogSink({});
    model->faults() = ReaderFaults();

    QVERIFY2(took <= boundMs, qPrintable(QStringLiteral("%1 ms, bound %2").arg(took).arg(boundMs)));
    QCOMPARE(boxes->texts(), (QStringList{ReplaceWithRead, box}));
    const QByteArrayList frames = model->framesReceived().mid(framesBefore);
    QCOMPARE(FaultCheck::codesOf(frames), requests);
    QVERIFY(FaultCheck::nonReadFrames(frames).isEmpty());
    if (reads >= 0)
        QCOMPARE(FakeHid::readCount() - readsBefore, reads);
    QCOMPARE(shown(w), form);
    VERIFY_AFTER_FAULT(w);
    QCOMPARE(int(model->framesReceived().size()), framesBefore + int(frames.size()));
}

QTEST_MAIN(HidFaultsTest)
#include "tst_hidfaults.moc"

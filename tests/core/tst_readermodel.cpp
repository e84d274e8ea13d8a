#include "readermodel.h"
#include "readerreplies.h"
#include "support/hex.h"

#include "link/commandframe.h"

#include <QtTest>

namespace {

QByteArray usbRequest(const QByteArray &frame, quint8 seq = 0)
{
    return HidReport::fromFrame(frame, seq).toByteArray();
}

// Everything a write can change, in one line.
QString summary(const ReaderModel &model)
{
    const ReaderState &s = model.state();
    auto h = [](quint8 b) { return QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper(); };
    return QStringLiteral("flags=%1 start=%2 length=%3 kb=%4 pre=%5 post=%6 remove=%7 done=%8 mode=%9 isp=%10")
        .arg(h(s.flags), h(s.outputStart), h(s.outputLength), h(s.kbCountry),
             QString::fromLatin1(s.preAmble.toHex().toUpper()),
             QString::fromLatin1(s.postAmble.toHex().toUpper()),
             QString::fromLatin1(s.removeData.toHex().toUpper()))
        .arg(model.settingsDoneCount())
        .arg(model.changeModeCount())
        .arg(model.ispModeCount());
}

// The state the read tests answer from.
void loadReadState(ReaderModel &model)
{
    ReaderState &s = model.state();
    s.firmware = "1BT V2.0";
    s.flags = 0x05;
    s.outputStart = 0xC8;
    s.outputLength = 0x0A;
    s.kbCountry = 0x03;
    s.preAmble = "ABC";
    s.postAmble.clear();
    s.removeData = hex("FF02");
}

QByteArray joined(const QByteArrayList &parts)
{
    return parts.join();
}

} // namespace

class TestReaderModel : public QObject
{
    Q_OBJECT

private slots:
    void usbReadReplies_data();
    void usbReadReplies();
    void serialReadReplies_data();
    void serialReadReplies();
    void serialSettingsRun();
    void writes_data();
    void writes();
    void serialPieces_data();
    void serialPieces();
    void usbLateReads();
    void usbStaleEchoFirst_data();
    void usbStaleEchoFirst();
    void usbBadChecksumAndAnswerOneWay();
    void silentReader();
    void serialSplitReply_data();
    void serialSplitReply();
    void logAndToken();
};

void TestReaderModel::usbReadReplies_data()
{
    QTest::addColumn<quint8>("code");
    QTest::addColumn<quint8>("seq");
    QTest::addColumn<QByteArray>("expected");

    auto report = [](const QByteArray &payload, quint8 echo, const QByteArray &version = {}) {
        QByteArray r(64, '\0');
        r.replace(0, payload.size(), payload);
        r[48] = char(echo);
        if (!version.isEmpty())
            r.replace(56, 8, version);
        return r;
    };
    const QByteArray status = hex("0000000000000000" "05C80A0000030000");
    QTest::newRow("status, seq 2") << quint8(0x00) << quint8(2) << report(status, 0xFD, "1BT V2.0");
    QTest::newRow("status without seq (diagnostic dump)")
        << quint8(0x00) << quint8(0) << report(status, 0xFF, "1BT V2.0");
    QTest::newRow("preamble 03 41 42 43, checksum C9") << quint8(0x20) << quint8(3) << report(hex("03414243C9"), 0xFC);
    QTest::newRow("empty postamble, checksum 00") << quint8(0x24) << quint8(4) << report(hex("0000"), 0xFB);
    QTest::newRow("remove data 02 FF 02 wraps to 03, seq 255")
        << quint8(0x28) << quint8(255) << report(hex("02FF0203"), 0x00);
}

void TestReaderModel::usbReadReplies()
{
    QFETCH(quint8, code);
    QFETCH(quint8, seq);
    QFETCH(QByteArray, expected);

    ReaderModel model;
    model.setReplyLatencyMs(0);
    loadReadState(model);
    model.usbWrite(usbRequest(commandFrame(code), seq));
    QCOMPARE(model.usbRead().toHex(' '), expected.toHex(' '));
    QCOMPARE(model.usbRead(), QByteArray());
}

void TestReaderModel::serialReadReplies_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("version") << hex("1B4200000000000D") << QByteArray("1BT V2.0");
    QTest::newRow("flags") << hex("1B4202000000000D") << hex("1B4202000500000D");
    QTest::newRow("output") << hex("1B4210000000000D") << hex("1B421000C80A000D");
    QTest::newRow("preamble") << hex("1B4220000000000D") << hex("1B422003414243" "0D");
    QTest::newRow("empty postamble") << hex("1B4224000000000D") << hex("1B4224000D");
    QTest::newRow("remove data") << hex("1B4228000000000D") << hex("1B422802FF020D");
}

void TestReaderModel::serialReadReplies()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, expected);

    ReaderModel model;
    model.setReplyLatencyMs(0);
    loadReadState(model);
    QCOMPARE(joined(model.serialReceive(request)).toHex(' '), expected.toHex(' '));
    // The read answers over USB only where the protocol has a USB reply.
    model.usbWrite(usbRequest(request, 7));
    const quint8 code = quint8(request[2]);
    QCOMPARE(model.usbPending(), (code == CmdFlags || code == CmdOutput) ? 0 : 1);
}

void TestReaderModel::serialSettingsRun()
{
    ReaderModel model;
    model.setReplyLatencyMs(0);
    loadReadState(model);
    const QByteArray requests = commandFrame(CmdGetStatus) + commandFrame(CmdFlags) + commandFrame(CmdOutput)
        + commandFrame(CmdGetPreAmble) + commandFrame(CmdGetPostAmble) + commandFrame(CmdGetRemoveData);
    const QByteArrayList parts = model.serialReceive(requests);
    QCOMPARE(parts.size(), 1);
    const QByteArray run = parts.first();
    QVERIFY(run.startsWith("1BT"));
    QVERIFY(run.endsWith('\r'));
    QCOMPARE(run.size(), 39 + 3 + 0 + 2);
    QCOMPARE(run.toHex(' '), ReaderReplies::serialSettingsRun(model.state()).toHex(' '));
    QCOMPARE(model.framesReceived().size(), 6);
}

void TestReaderModel::writes_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("overUsb");
    QTest::addColumn<QString>("overSerial");

    const QString before = QStringLiteral(
        "flags=10 start=00 length=10 kb=00 pre=5A post=5A remove=5A done=0 mode=0 isp=0");
    auto with = [&](const char *from, const char *to) {
        return QString(before).replace(QLatin1String(from), QLatin1String(to));
    };
    QTest::newRow("flags") << hex("1B4202011F00000D") << with("flags=10", "flags=1F") << with("flags=10", "flags=1F");
    QTest::newRow("output 3, 10") << hex("1B421001030A000D") << with("start=00 length=10", "start=03 length=0A")
                                  << with("start=00 length=10", "start=03 length=0A");
    QTest::newRow("kb country is USB only") << hex("1B420301020000" "0D") << with("kb=00", "kb=02") << before;
    QTest::newRow("preamble [CR] with serial padding")
        << hex("1B4221010D000000") << with("pre=5A", "pre=0D") << with("pre=5A", "pre=0D");
    QTest::newRow("postamble AB, no padding")
        << hex("1B4225024142") << with("post=5A", "post=4142") << with("post=5A", "post=4142");
    QTest::newRow("empty remove data") << hex("1B422900") << with("remove=5A", "remove=") << with("remove=5A", "remove=");
    QTest::newRow("settings done") << hex("1B428055AA55AA0D") << with("done=0", "done=1") << with("done=0", "done=1");
    QTest::newRow("settings done without guard") << hex("1B4280000000000D") << before << before;
    QTest::newRow("change mode") << hex("1B42FD55AA55AA0D") << with("mode=0", "mode=1") << with("mode=0", "mode=1");
    QTest::newRow("ISP mode") << hex("1B42FF55AA55AA0D") << with("isp=0", "isp=1") << with("isp=0", "isp=1");
    QTest::newRow("unknown code") << hex("1B4277010203040D") << before << before;
}

void TestReaderModel::writes()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, overUsb);
    QFETCH(QString, overSerial);

    auto fresh = [](ReaderModel &model) {
        model.state().preAmble = model.state().postAmble = model.state().removeData = "Z";
    };
    ReaderModel usb;
    fresh(usb);
    usb.usbWrite(usbRequest(frame));
    QCOMPARE(summary(usb), overUsb);
    QCOMPARE(usb.usbPending(), 0);

    ReaderModel serial;
    fresh(serial);
    QCOMPARE(serial.serialReceive(frame), QByteArrayList());
    QCOMPARE(summary(serial), overSerial);
    QCOMPARE(serial.framesReceived().size(), 1);
}

void TestReaderModel::serialPieces_data()
{
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("skipped");

    const QByteArray status = hex("1B4200000000000D");
    QTest::newRow("one piece") << QByteArrayList{status} << QByteArray("1BT V2.0") << QByteArray();
    QTest::newRow("split 3 + 5") << QByteArrayList{status.left(3), status.mid(3)} << QByteArray("1BT V2.0")
                                 << QByteArray();
    QByteArrayList bytes;
    for (char c : status)
        bytes.append(QByteArray(1, c));
    QTest::newRow("byte by byte") << bytes << QByteArray("1BT V2.0") << QByteArray();
    QTest::newRow("noise in front") << QByteArrayList{hex("00FF0D") + status} << QByteArray("1BT V2.0")
                                    << hex("00FF0D");
    QTest::newRow("ESC not followed by B") << QByteArrayList{hex("1B") + status} << QByteArray("1BT V2.0")
                                           << hex("1B");
    QTest::newRow("frame without CR is dropped")
        << QByteArrayList{hex("1B4200000000000042"), status} << QByteArray("1BT V2.0") << hex("4200000000000042");
    QTest::newRow("padded block across pieces, then read back")
        << QByteArrayList{hex("1B4221010D0000"), hex("00") + hex("1B4220000000000D")} << hex("1B4220010D0D")
        << hex("000000");
}

void TestReaderModel::serialPieces()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, skipped);

    ReaderModel model;
    model.setReplyLatencyMs(0);
    QByteArray got;
    for (const QByteArray &piece : pieces) {
        QVERIFY2(got.isEmpty(), "answered before the frame was complete");
        got += joined(model.serialReceive(piece));
    }
    QCOMPARE(got.toHex(' '), answer.toHex(' '));
    QCOMPARE(model.skippedBytes().toHex(' '), skipped.toHex(' '));
}

void TestReaderModel::usbLateReads()
{
    ReaderModel model;
    model.setReplyLatencyMs(0);
    model.faults().lateReads = 2;
    model.usbWrite(usbRequest(commandFrame(CmdGetStatus), 9));
    QCOMPARE(model.usbRead(), QByteArray());
    QCOMPARE(model.usbRead(), QByteArray());
    QCOMPARE(quint8(model.usbRead().at(48)), quint8(0xF6));

    // A blocking read waits the lateness out.
    model.usbWrite(usbRequest(commandFrame(CmdGetStatus), 10));
    QCOMPARE(quint8(model.usbRead(ReaderModel::UsbRead::Block).at(48)), quint8(0xF5));
}

void TestReaderModel::usbStaleEchoFirst_data()
{
    QTest::addColumn<quint8>("seq");
    QTest::addColumn<quint8>("staleEcho");
    QTest::newRow("seq 5") << quint8(5) << quint8(0xFB);
    QTest::newRow("seq 1 wraps to 255") << quint8(1) << quint8(0x00);
    QTest::newRow("no seq") << quint8(0) << quint8(0x00);
}

void TestReaderModel::usbStaleEchoFirst()
{
    QFETCH(quint8, seq);
    QFETCH(quint8, staleEcho);

    ReaderModel model;
    model.setReplyLatencyMs(0);
    model.faults().staleEchoFirst = true;
    model.faults().lateReads = 1;
    model.usbWrite(usbRequest(commandFrame(CmdGetStatus), seq));
    QCOMPARE(model.usbRead(), QByteArray());
    const QByteArray stale = model.usbRead();
    QCOMPARE(stale.toHex(), ReaderReplies::usbEmpty(staleEcho).toHex());
    const QByteArray real = model.usbRead();
    QCOMPARE(quint8(real.at(48)), quint8(~seq));
    QCOMPARE(real.mid(56, 8), QByteArray("1BT V2.0"));
}

void TestReaderModel::usbBadChecksumAndAnswerOneWay()
{
    ReaderModel model;
    model.setReplyLatencyMs(0);
    model.state().preAmble = "ABC";
    model.faults().badChecksum = true;
    model.usbWrite(usbRequest(commandFrame(CmdGetPreAmble), 2));
    QCOMPARE(model.usbRead().left(5).toHex(), QByteArray("03414243ca"));

    model.faults().answerOneWay = true;
    model.usbWrite(usbRequest(commandFrame(CmdFlags, 0x01, 0x04)));
    QCOMPARE(model.usbRead().toHex(), ReaderReplies::usbEmpty(0xFF).toHex());
    QCOMPARE(model.state().flags, quint8(0x04));
}

void TestReaderModel::silentReader()
{
    ReaderModel model;
    model.setReplyLatencyMs(0);
    model.faults().silent = true;
    model.usbWrite(usbRequest(commandFrame(CmdGetStatus), 2));
    QCOMPARE(model.usbPending(), 0);
    QCOMPARE(model.serialReceive(commandFrame(CmdGetStatus)), QByteArrayList());
    // Writes still take effect.
    model.serialReceive(commandFrame(CmdFlags, 0x01, 0x1F));
    QCOMPARE(model.state().flags, quint8(0x1F));
    QCOMPARE(model.framesReceived().size(), 3);
}

void TestReaderModel::serialSplitReply_data()
{
    QTest::addColumn<int>("splitAt");
    QTest::addColumn<int>("firstPart");
    QTest::newRow("middle") << 0 << 19;
    QTest::newRow("after the version reply") << 8 << 8;
    QTest::newRow("beyond the end falls back to the middle") << 400 << 19;
}

void TestReaderModel::serialSplitReply()
{
    QFETCH(int, splitAt);
    QFETCH(int, firstPart);

    ReaderModel model;
    model.setReplyLatencyMs(0);
    model.faults().splitReply = true;
    model.faults().splitAt = splitAt;
    const QByteArray requests = commandFrame(CmdGetStatus) + commandFrame(CmdFlags) + commandFrame(CmdOutput)
        + commandFrame(CmdGetPreAmble) + commandFrame(CmdGetPostAmble) + commandFrame(CmdGetRemoveData);
    const QByteArrayList parts = model.serialReceive(requests);
    QCOMPARE(parts.size(), 2);
    QCOMPARE(int(parts[0].size()), firstPart);
    QCOMPARE(joined(parts), ReaderReplies::serialSettingsRun(model.state()));
}

void TestReaderModel::logAndToken()
{
    ReaderModel model;
    model.setReplyLatencyMs(0);
    QStringList sunk;
    model.setLogSink([&sunk](const QString &line) { sunk.append(line); });
    model.serialReceive(hex("1B4200000000000D0000"));
    model.usbWrite(usbRequest(commandFrame(CmdGetPostAmble), 0x2A));
    model.usbRead();
    const QByteArray token = model.tokenOutput();
    QCOMPARE(token, model.state().tokenId + "\r\n");

    const QStringList expected{
        QStringLiteral("rx 1B 42 00 00 00 00 00 0D"),
        QStringLiteral("tx 31 42 54 20 56 32 2E 30"),
        QStringLiteral("skip 00 00"),
        QStringLiteral("rx 1B 42 24 00 00 00 00 0D seq 2A"),
        QStringLiteral("tx ") + ReaderModel::hexLine(ReaderReplies::usbBlock({}, 0xD5)),
        QStringLiteral("tx ") + ReaderModel::hexLine(token),
    };
    QCOMPARE(model.log(), expected);
    QCOMPARE(sunk, expected);
}

QTEST_GUILESS_MAIN(TestReaderModel)
#include "tst_readermodel.moc"

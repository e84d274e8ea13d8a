// Command frames, HID output reports, the sequence number and the data-block
// checksum, byte for byte.
#include "link/commandframe.h"
#include "support/hex.h"

#include <QTest>

class CommandFrameTest : public QObject
{
    Q_OBJECT

private slots:
    void framesAndReports_data();
    void framesAndReports();
    void dataBlockFillsTheReport();
    void nextSeqNo_data();
    void nextSeqNo();
    void seqNoCycleNeverTakesZero();
    void expectedEcho_data();
    void expectedEcho();
    void blockChecksum_data();
    void blockChecksum();
};

void CommandFrameTest::framesAndReports_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<quint8>("seq");

    QTest::newRow("get status") << commandFrame(CmdGetStatus) << hex("1b4200000000000d") << quint8(2);
    QTest::newRow("get status, seq 255") << commandFrame(CmdGetStatus) << hex("1b4200000000000d") << quint8(255);
    QTest::newRow("ask flags") << commandFrame(CmdFlags) << hex("1b4202000000000d") << quint8(0);
    QTest::newRow("write flags") << commandFrame(CmdFlags, 0x01, 0x1F) << hex("1b4202011f00000d") << quint8(0);
    QTest::newRow("write kb country") << commandFrame(CmdKbCountry, 0x01, 0x04) << hex("1b4203010400000d")
                                      << quint8(0);
    QTest::newRow("ask output") << commandFrame(CmdOutput) << hex("1b4210000000000d") << quint8(0);
    QTest::newRow("write output") << commandFrame(CmdOutput, 0x01, 0x05, 0x10) << hex("1b4210010510000d")
                                  << quint8(0);
    QTest::newRow("get preamble") << commandFrame(CmdGetPreAmble) << hex("1b4220000000000d") << quint8(3);
    QTest::newRow("get postamble") << commandFrame(CmdGetPostAmble) << hex("1b4224000000000d") << quint8(4);
    QTest::newRow("get remove data") << commandFrame(CmdGetRemoveData) << hex("1b4228000000000d") << quint8(5);
    QTest::newRow("settings done") << guardedFrame(CmdSettingsDone) << hex("1b428055aa55aa0d") << quint8(0);
    QTest::newRow("change mode") << guardedFrame(CmdChangeMode) << hex("1b42fd55aa55aa0d") << quint8(0);
    QTest::newRow("isp mode") << guardedFrame(CmdIspMode) << hex("1b42ff55aa55aa0d") << quint8(0);
    // The block writes are built by their sender; only their codes are here.
    QTest::newRow("set preamble code") << commandFrame(CmdSetPreAmble) << hex("1b4221000000000d") << quint8(0);
    QTest::newRow("set postamble code") << commandFrame(CmdSetPostAmble) << hex("1b4225000000000d") << quint8(0);
    QTest::newRow("set remove data code") << commandFrame(CmdSetRemoveData) << hex("1b4229000000000d")
                                          << quint8(0);
}

void CommandFrameTest::framesAndReports()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, expected);
    QFETCH(quint8, seq);

    QCOMPARE(frame.toHex(' '), expected.toHex(' '));

    QByteArray report(HidReport::Size, '\0');
    report.replace(1, expected.size(), expected);
    report[49] = char(seq);
    QCOMPARE(HidReport::fromFrame(frame, seq).toByteArray().toHex(' '), report.toHex(' '));
}

void CommandFrameTest::dataBlockFillsTheReport()
{
    // ESC 'B' code n and 60 codes: offsets 1..64, count at 4, codes from 5.
    QByteArray block = hex("1b42213c");
    for (int i = 0; i < HidReport::MaxBlockCodes; ++i)
        block.append(char(0x40 + i));
    const HidReport report = HidReport::fromFrame(block + "overflow");
    QCOMPARE(int(report[0]), 0x00);
    QCOMPARE(int(report[4]), 0x3C);
    QCOMPARE(int(report[5]), 0x40);
    QCOMPARE(int(report[49]), 0x40 + 44);
    QCOMPARE(int(report[64]), 0x40 + 59);
    QCOMPARE(report.toByteArray().mid(1), block);
}

void CommandFrameTest::nextSeqNo_data()
{
    QTest::addColumn<quint8>("current");
    QTest::addColumn<quint8>("next");
    QTest::newRow("after start") << quint8(1) << quint8(2);
    QTest::newRow("middle") << quint8(127) << quint8(128);
    QTest::newRow("254") << quint8(254) << quint8(255);
    QTest::newRow("255 wraps past 0") << quint8(255) << quint8(1);
}

void CommandFrameTest::nextSeqNo()
{
    QFETCH(quint8, current);
    QFETCH(quint8, next);
    QCOMPARE(NextSeqNo(current), next);
}

void CommandFrameTest::seqNoCycleNeverTakesZero()
{
    quint8 seq = 1;
    for (int i = 1; i < 255; ++i) {
        seq = NextSeqNo(seq);
        QVERIFY(seq != 1 && seq != 0);
    }
    QCOMPARE(NextSeqNo(seq), quint8(1));
}

void CommandFrameTest::expectedEcho_data()
{
    QTest::addColumn<quint8>("seq");
    QTest::addColumn<quint8>("echo");
    QTest::newRow("first request") << quint8(2) << quint8(0xFD);
    QTest::newRow("after the wrap") << quint8(1) << quint8(0xFE);
    QTest::newRow("255") << quint8(255) << quint8(0x00);
    QTest::newRow("one-way, no number") << quint8(0) << quint8(0xFF);
}

void CommandFrameTest::expectedEcho()
{
    QFETCH(quint8, seq);
    QFETCH(quint8, echo);
    QCOMPARE(::expectedEcho(seq), echo);
}

void CommandFrameTest::blockChecksum_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<quint8>("sum");
    QTest::newRow("count 0") << hex("0055") << quint8(0x00);
    QTest::newRow("03 41 42 43") << hex("03414243") << quint8(0xC9);
    QTest::newRow("wraps") << hex("02ff02") << quint8(0x03);
    QTest::newRow("stops at byte n") << hex("020102aa") << quint8(0x05);
}

void CommandFrameTest::blockChecksum()
{
    QFETCH(QByteArray, block);
    QFETCH(quint8, sum);
    QCOMPARE(BlockChecksum(block, quint8(block[0])), sum);
}

QTEST_APPLESS_MAIN(CommandFrameTest)
#include "tst_commandframe.moc"

#include "settings/textcodec.h"
#include "settings/readersettings.h"
#include "support/hex.h"

#include "readerreplies.h"
#include "readerstate.h"

#include <QtTest>

#include <memory>

// Runs with LC_ALL=C.UTF-8, so ordinary bytes decode as Windows-1252.

Q_DECLARE_METATYPE(ReaderSettings)
Q_DECLARE_METATYPE(SettingsSource)

char *toString(const ReaderSettings &s)
{
    const auto bytes = [](const std::optional<QByteArray> &b) {
        return b ? QString::fromLatin1(b->toHex(' ')) : QStringLiteral("-");
    };
    const auto byte = [](const std::optional<quint8> &b) {
        return b ? QString::number(*b, 16) : QStringLiteral("-");
    };
    const QString text = QStringLiteral("src=%1 ver=[%2] flags=%3 start=%4 len=%5 kb=%6 pre=[%7] post=[%8] rem=[%9]")
                             .arg(int(s.source))
                             .arg(bytes(s.firmwareVersion), byte(s.flags), byte(s.outputStart),
                                  byte(s.outputLength), byte(s.kbCountry), bytes(s.preAmble),
                                  bytes(s.postAmble), bytes(s.removeData));
    return qstrdup(qPrintable(text));
}

namespace {

ReaderState readerState(quint8 flags = 0x1F, const QByteArray &pre = {}, const QByteArray &post = {},
                        const QByteArray &remove = {})
{
    ReaderState s;
    s.firmware = "1BT V2.0";
    s.flags = flags;
    s.outputStart = 0x03;
    s.outputLength = 0x10;
    s.kbCountry = 0x02;
    s.preAmble = pre;
    s.postAmble = post;
    s.removeData = remove;
    return s;
}

// What decodeSerialReply makes of a complete run of the given state.
ReaderSettings serialFields(const ReaderState &s)
{
    ReaderSettings r;
    r.source = SettingsSource::Serial;
    r.firmwareVersion = s.firmware.leftJustified(8, '\0', true);
    r.flags = s.flags;
    r.outputStart = s.outputStart;
    r.outputLength = s.outputLength;
    r.preAmble = s.preAmble;
    r.postAmble = s.postAmble;
    r.removeData = s.removeData;
    return r;
}

// The reply buffer as HidExchange leaves it: 65 bytes.
QByteArray usbReply(const QByteArray &report)
{
    return report.leftJustified(65, '\0');
}

QByteArray legacyBlock(const QByteArray &codes, int checksumOffset = 0)
{
    QByteArray r(65, '\0');
    r[0] = char(0x5A); // byte 0 is not the count here, but it is summed
    r[1] = char(codes.size());
    r.replace(2, codes.size(), codes);
    unsigned sum = 0;
    for (int i = 0; i <= codes.size() + 1; ++i)
        sum += quint8(r[i]);
    r[codes.size() + 2] = char(quint8(sum + checksumOffset));
    return r;
}

} // namespace

class TstReaderSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void serialReply_data();
    void serialReply();
    void serialReplyNeverReadsPastTheChunk();
    void hidStatus_data();
    void hidStatus();
    void hidBlock_data();
    void hidBlock();
    void legacyLayout();
    void versionLabel_data();
    void versionLabel();
    void numbers_data();
    void numbers();
    void keyCodeText_data();
    void keyCodeText();
    void mergeKeepsWhatTheLaterReadLacks();
};

void TstReaderSettings::initTestCase()
{
    QCOMPARE(TextCodec::codePageName(), QStringLiteral("windows-1252"));
}

void TstReaderSettings::serialReply_data()
{
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<bool>("recognised");
    QTest::addColumn<ReaderSettings>("expected");

    const ReaderState empty = readerState();
    const QByteArray emptyRun = ReaderReplies::serialSettingsRun(empty);
    QCOMPARE(emptyRun.size(), 39);
    QTest::newRow("39 bytes, three empty blocks") << emptyRun << true << serialFields(empty);

    ReaderState zero = readerState();
    zero.firmware = QByteArray("1BT V\0" "2.", 8);
    QTest::newRow("zero byte in the version is kept")
        << ReaderReplies::serialSettingsRun(zero) << true << serialFields(zero);

    const ReaderState flags05 = readerState(0x05);
    QTest::newRow("flags 0x05") << ReaderReplies::serialSettingsRun(flags05) << true
                                << serialFields(flags05);

    ReaderState ff = readerState();
    ff.outputStart = 0xFF;
    QTest::newRow("output start 0xFF") << ReaderReplies::serialSettingsRun(ff) << true
                                       << serialFields(ff);

    // The postamble block begins 5 + 2 bytes after the preamble block.
    const ReaderState crlf = readerState(0x1F, hex("0D0A"), "AB", hex("B0"));
    const QByteArray crlfRun = ReaderReplies::serialSettingsRun(crlf);
    QCOMPARE(crlfRun.mid(24 + 7, 4), hex("1B422402"));
    QTest::newRow("[CR][LF] preamble, next blocks behind it") << crlfRun << true << serialFields(crlf);

    const ReaderState full = readerState(0x1F, QByteArray(31, 'p'), QByteArray(31, 'q'), QByteArray(31, 'r'));
    QTest::newRow("three blocks of 31") << ReaderReplies::serialSettingsRun(full) << true
                                        << serialFields(full);

    const ReaderState long32 = readerState(0x1F, QByteArray(32, 'p'), "xy", QByteArray(33, 'r'));
    ReaderSettings long32Fields = serialFields(long32);
    long32Fields.preAmble.reset();
    long32Fields.removeData.reset();
    QTest::newRow("blocks of 32 and more are skipped, not shown")
        << ReaderReplies::serialSettingsRun(long32) << true << long32Fields;

    QTest::newRow("token output after the run") << emptyRun + "01000017A5C3E2B9\r" << true
                                                 << serialFields(empty);

    // Not a settings reply.
    QTest::newRow("ends with another byte") << emptyRun + "X" << false << ReaderSettings();
    QTest::newRow("begins otherwise") << "x" + emptyRun << false << ReaderSettings();
    QTest::newRow("1bt in lower case") << "1bt" + emptyRun.mid(3) << false << ReaderSettings();
    QTest::newRow("empty") << QByteArray() << false << ReaderSettings();
    QTest::newRow("only CR") << QByteArray("\r") << false << ReaderSettings();
    QTest::newRow("1BT without CR") << QByteArray("1BT") << false << ReaderSettings();
    QTest::newRow("second half of a split reply") << emptyRun.mid(20) << false << ReaderSettings();

    // Cut short: every reply that arrived whole is taken, nothing behind the
    // first one that did not.
    ReaderSettings none;
    none.source = SettingsSource::Serial;
    QTest::newRow("1BT CR") << QByteArray("1BT\r") << true << none;
    QTest::newRow("short version ending with CR") << QByteArray("1BT V2\r") << true << none;

    ReaderSettings versionOnly = none;
    versionOnly.firmwareVersion = "1BT V2\r\r";
    QTest::newRow("version, part of the flags reply")
        << QByteArray("1BT V2\r\r") + hex("1B4202000D") << true << versionOnly;

    ReaderSettings upToFlags = serialFields(empty);
    upToFlags.outputStart.reset();
    upToFlags.outputLength.reset();
    upToFlags.preAmble.reset();
    upToFlags.postAmble.reset();
    upToFlags.removeData.reset();
    QTest::newRow("output reply cut before its values")
        << emptyRun.left(16) + QByteArray("\x1b\x42\x10\r") << true << upToFlags;

    ReaderSettings upToOutputs = upToFlags;
    upToOutputs.outputStart = empty.outputStart;
    upToOutputs.outputLength = empty.outputLength;
    QTest::newRow("three replies, no blocks") << emptyRun.left(24) << true << upToOutputs;
    QTest::newRow("block header without its count") << emptyRun.left(24) + "\x1b\x42\r" << true
                                                    << upToOutputs;

    ReaderState past = readerState(0x1F, "AB", "CD", "E\r");
    ReaderSettings pastFields = serialFields(past);
    pastFields.removeData.reset();
    const QByteArray pastRun = ReaderReplies::serialSettingsRun(past);
    QTest::newRow("last block one byte short") << pastRun.chopped(1) << true << pastFields;

    QByteArray countPastEnd = ReaderReplies::serialSettingsRun(crlf);
    countPastEnd[24 + 3] = char(200);
    QTest::newRow("preamble count past the end") << countPastEnd << true << upToOutputs;

    QByteArray lastCountPastEnd = emptyRun;
    lastCountPastEnd[34 + 3] = char(0xFF);
    ReaderSettings twoBlocks = serialFields(empty);
    twoBlocks.removeData.reset();
    QTest::newRow("remove-data count 255 at the end") << lastCountPastEnd << true << twoBlocks;
}

void TstReaderSettings::serialReply()
{
    QFETCH(QByteArray, chunk);
    QFETCH(bool, recognised);
    QFETCH(ReaderSettings, expected);

    QCOMPARE(isSerialSettingsReply(chunk), recognised);
    const std::optional<ReaderSettings> decoded = decodeSerialReply(chunk);
    QCOMPARE(decoded.has_value(), recognised);
    if (decoded)
        QCOMPARE(*decoded, expected);
}

// Every prefix of a run that ends in CR, and every count byte set to every
// value, decoded from a buffer that holds exactly the chunk (run under a
// sanitizer to see a stray read).
void TstReaderSettings::serialReplyNeverReadsPastTheChunk()
{
    const QByteArray run =
        ReaderReplies::serialSettingsRun(readerState(0x1F, "\r\r", "A\r", QByteArray(3, '\r')));
    QCOMPARE(run.size(), 46);
    // No terminating zero behind the bytes, unlike a QByteArray's own buffer.
    const auto exact = [](const QByteArray &bytes) {
        auto buffer = std::make_unique<char[]>(size_t(bytes.size()));
        std::copy(bytes.cbegin(), bytes.cend(), buffer.get());
        return buffer;
    };
    for (int length = 0; length <= run.size(); ++length) {
        const auto buffer = exact(run.left(length));
        const QByteArray chunk = QByteArray::fromRawData(buffer.get(), length);
        const std::optional<ReaderSettings> decoded = decodeSerialReply(chunk);
        QCOMPARE(decoded.has_value(), length >= 4 && chunk.endsWith('\r'));
    }
    for (const int countAt : {27, 34, 41}) {
        for (int n = 0; n < 256; ++n) {
            QByteArray bytes = run;
            bytes[countAt] = char(n);
            const auto buffer = exact(bytes);
            const std::optional<ReaderSettings> decoded =
                decodeSerialReply(QByteArray::fromRawData(buffer.get(), bytes.size()));
            QVERIFY(decoded.has_value());
            QVERIFY(decoded->outputLength.has_value());
        }
    }
}

void TstReaderSettings::hidStatus_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<ReaderSettings>("expected");

    ReaderState s = readerState(0x1F);
    s.firmware = QByteArray("V1\0\0 3 \0", 8);
    s.outputStart = 0xC8;
    s.kbCountry = 0x03;
    ReaderSettings all;
    all.source = SettingsSource::Hid;
    all.firmwareVersion = s.firmware;
    all.flags = 0x1F;
    all.outputStart = 0xC8;
    all.outputLength = 0x10;
    all.kbCountry = 0x03;
    const QByteArray report = ReaderReplies::usbStatus(s, 0xFD);
    QTest::newRow("whole status") << usbReply(report) << all;
    QTest::newRow("64 data bytes only") << report << all;

    ReaderSettings noVersion = all;
    noVersion.firmwareVersion.reset();
    QTest::newRow("ends inside the version") << report.left(63) << noVersion;

    ReaderSettings flagsOnly;
    flagsOnly.flags = 0x1F;
    QTest::newRow("ends after the flags") << report.left(9) << flagsOnly;
    QTest::newRow("empty") << QByteArray() << ReaderSettings();
}

void TstReaderSettings::hidStatus()
{
    QFETCH(QByteArray, reply);
    QFETCH(ReaderSettings, expected);
    QCOMPARE(decodeHidStatus(reply), expected);
}

void TstReaderSettings::hidBlock_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QByteArray>("codes");

    QTest::newRow("count 0") << usbReply(hex("0000")) << true << QByteArray();
    QTest::newRow("two codes") << usbReply(ReaderReplies::usbBlock(hex("0D0A"), 0xFD)) << true
                               << hex("0D0A");
    QTest::newRow("31 codes") << usbReply(ReaderReplies::usbBlock(QByteArray(31, '\xB0'), 0xFD))
                              << true << QByteArray(31, '\xB0');
    QTest::newRow("32 codes, checksum right")
        << usbReply(ReaderReplies::usbBlock(QByteArray(32, 'a'), 0xFD)) << false << QByteArray();
    QTest::newRow("checksum one off") << usbReply(ReaderReplies::usbBlock("AB", 0xFD, true)) << false
                                      << QByteArray();
    QTest::newRow("checksum 8-bit, count included")
        << usbReply(hex("03FFFF02") + QByteArray(1, char(0x03 + 0xFF + 0xFF + 0x02))) << true
        << hex("FFFF02");
    QTest::newRow("count 255") << usbReply(hex("FF")) << false << QByteArray();
    QTest::newRow("checksum past the reply") << hex("0241") << false << QByteArray();
    QTest::newRow("empty") << QByteArray() << false << QByteArray();
}

void TstReaderSettings::hidBlock()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, accepted);
    QFETCH(QByteArray, codes);
    const std::optional<QByteArray> decoded = decodeHidBlock(reply);
    QCOMPARE(decoded.has_value(), accepted);
    if (decoded)
        QCOMPARE(*decoded, codes);
}

void TstReaderSettings::legacyLayout()
{
    QByteArray status(65, '\0');
    status[8] = char(0x01); // the new layout's flags: not read here
    status[9] = char(0x1C);
    status[10] = char(0xC8);
    status[11] = char(0xFF);
    status[13] = char(0x03);
    status.replace(55, 8, "1BT V2.0");
    ReaderSettings expected;
    expected.source = SettingsSource::LegacyHid;
    expected.firmwareVersion = "1BT V2.0";
    expected.flags = 0x1C;
    expected.outputStart = 0xC8;
    expected.outputLength = 0xFF;
    QCOMPARE(decodeHidStatus(status, SettingsSource::LegacyHid), expected);
    QCOMPARE(outputText(0xC8, SettingsSource::LegacyHid), QStringLiteral("200"));

    QCOMPARE(decodeHidBlock(legacyBlock("AB"), SettingsSource::LegacyHid), std::optional<QByteArray>("AB"));
    QCOMPARE(decodeHidBlock(legacyBlock(QByteArray()), SettingsSource::LegacyHid), std::optional<QByteArray>(""));
    QCOMPARE(decodeHidBlock(legacyBlock(QByteArray(31, 'x')), SettingsSource::LegacyHid).value_or("-").size(), 31);
    QVERIFY(!decodeHidBlock(legacyBlock("AB", 1), SettingsSource::LegacyHid));
    QVERIFY(!decodeHidBlock(legacyBlock(QByteArray(32, 'x')), SettingsSource::LegacyHid));
    QByteArray farCount(65, '\0');
    farCount[1] = char(0xFF);
    QVERIFY(!decodeHidBlock(farCount, SettingsSource::LegacyHid));

    // The traced sum stops one byte short of the compared one.
    const QByteArray block = legacyBlock("AB");
    QCOMPARE(int(legacyTraceChecksum(block)), (0x5A + 2 + 'A') & 0xFF);
    QCOMPARE(int(legacyTraceChecksum(farCount)), 0xFF);
}

void TstReaderSettings::versionLabel_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<SettingsSource>("source");
    QTest::addColumn<QString>("text");

    QTest::newRow("usb") << QByteArray("1BT V2.0") << SettingsSource::Hid
                         << QStringLiteral("F/W Version: 1BT V2.0");
    QTest::newRow("usb keeps zero bytes") << QByteArray("1BT V\0\0\0", 8) << SettingsSource::Hid
                                          << QStringLiteral("F/W Version: 1BT V") + QString(3, QChar(0));
    QTest::newRow("usb keeps blanks") << QByteArray("V1      ") << SettingsSource::Hid
                                      << QStringLiteral("F/W Version: V1      ");
    QTest::newRow("serial cut at the first zero")
        << QByteArray("1BT V\0" "2.", 8) << SettingsSource::Serial << QStringLiteral("F/W Version: 1BT V");
    QTest::newRow("serial without zero") << QByteArray("1BT V2.0") << SettingsSource::Serial
                                         << QStringLiteral("F/W Version: 1BT V2.0");
    QTest::newRow("code page") << QByteArray("1BT \x80\xB0\xE9!") << SettingsSource::Hid
                               << QStringLiteral("F/W Version: 1BT \u20AC\u00B0\u00E9!");
}

void TstReaderSettings::versionLabel()
{
    QFETCH(QByteArray, version);
    QFETCH(SettingsSource, source);
    QFETCH(QString, text);
    QCOMPARE(versionLabelText(version, source), text);
}

void TstReaderSettings::numbers_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("kbIndex");

    QTest::newRow("0") << 0x00 << "0" << 0;
    QTest::newRow("3") << 0x03 << "3" << 3;
    QTest::newRow("outside the five countries") << 0x07 << "7" << 7;
    QTest::newRow("127") << 0x7F << "127" << 127;
    QTest::newRow("0x80") << 0x80 << "-128" << -128;
    QTest::newRow("0xC8") << 0xC8 << "-56" << -56;
    QTest::newRow("0xFF") << 0xFF << "-1" << -1;
}

void TstReaderSettings::numbers()
{
    QFETCH(int, byte);
    QFETCH(QString, output);
    QFETCH(int, kbIndex);
    QCOMPARE(outputText(quint8(byte), SettingsSource::Hid), output);
    QCOMPARE(outputText(quint8(byte), SettingsSource::Serial), output);
    QCOMPARE(kbCountryIndex(quint8(byte)), kbIndex);
}

void TstReaderSettings::keyCodeText_data()
{
    QTest::addColumn<QByteArray>("codes");
    QTest::addColumn<SettingsSource>("source");
    QTest::addColumn<QString>("text");

    QTest::newRow("usb names") << hex("0D0A") << SettingsSource::Hid << "[CR][LF]";
    QTest::newRow("serial names") << hex("0D0A") << SettingsSource::Serial << "[CR][LF]";
    QTest::newRow("usb B0 is the euro sign") << hex("B0") << SettingsSource::Hid << "\u20AC";
    QTest::newRow("serial B0 is the code page's") << hex("B0") << SettingsSource::Serial << "\u00B0";
    QTest::newRow("empty") << QByteArray() << SettingsSource::Serial << "";
    QTest::newRow("read-once: plain, zero adds nothing")
        << hex("41000D42B0") << SettingsSource::LegacyHid << "A\rB\u00B0";
}

void TstReaderSettings::keyCodeText()
{
    QFETCH(QByteArray, codes);
    QFETCH(SettingsSource, source);
    QFETCH(QString, text);
    QCOMPARE(keyCodesText(codes, source), text);
}

void TstReaderSettings::mergeKeepsWhatTheLaterReadLacks()
{
    ReaderSettings status = decodeHidStatus(usbReply(ReaderReplies::usbStatus(readerState(0x03), 0xFD)));
    ReaderSettings pre;
    pre.preAmble = "AB";
    ReaderSettings refused; // a block that failed its checks
    status.merge(pre);
    status.merge(refused);
    QCOMPARE(status.flags, std::optional<quint8>(0x03));
    QCOMPARE(status.kbCountry, std::optional<quint8>(0x02));
    QCOMPARE(status.preAmble, std::optional<QByteArray>("AB"));
    QVERIFY(!status.postAmble);
    QVERIFY(refused.isEmpty() && !status.isEmpty());

    ReaderSettings serial = *decodeSerialReply(ReaderReplies::serialSettingsRun(readerState()));
    status.merge(serial);
    QCOMPARE(status.source, SettingsSource::Serial);
    QCOMPARE(status.kbCountry, std::optional<quint8>(0x02)); // serial has none
}

QTEST_APPLESS_MAIN(TstReaderSettings)
#include "tst_readersettings.moc"

#include <algorithm>
#include "settings/keycodes.h"
#include "settings/textcodec.h"
#include "support/traces.h"

#include <QtTest>

// Runs with LC_ALL=C.UTF-8, so ordinary bytes decode as Windows-1252.

namespace {

QStringList capturedTraces;

void captureDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg)
        capturedTraces << message;
}

QString chars(std::initializer_list<char16_t> units)
{
    QString text;
    for (const char16_t u : units)
        text += QChar(u);
    return text;
}

} // namespace

class TstKeyCodes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void controlCodeFromName_data();
    void controlCodeFromName();
    void encode_data();
    void encode();
    void decodeHid_data();
    void decodeHid();
    void decodeSerial_data();
    void decodeSerial();
    void singleCodeRoundTrip_data();
    void singleCodeRoundTrip();
    void preambleTrace_data();
    void preambleTrace();
    void roundTripTextKeepsEveryCode_data();
    void roundTripTextKeepsEveryCode();
    void roundTripTextReadsLikeTheForm();
};

void TstKeyCodes::initTestCase()
{
    QCOMPARE(TextCodec::codePageName(), QStringLiteral("windows-1252"));
}

void TstKeyCodes::controlCodeFromName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("code");

    QTest::newRow("SOH") << "SOH" << 0x01;
    QTest::newRow("HT") << "HT" << 0x09;
    QTest::newRow("CR") << "CR" << 0x0D;
    QTest::newRow("ESC") << "ESC" << 0x1B;
    QTest::newRow("US") << "US" << 0x1F;
    QTest::newRow("NULL is not looked up") << "NULL" << 0x00;
    QTest::newRow("lower case") << "cr" << 0x00;
    QTest::newRow("mixed case") << "Esc" << 0x00;
    QTest::newRow("trailing space") << "CR " << 0x00;
    QTest::newRow("empty") << "" << 0x00;
    QTest::newRow("DEL is not a name") << "DEL" << 0x00;
    QTest::newRow("country name") << "USA" << 0x00;
}

void TstKeyCodes::controlCodeFromName()
{
    QFETCH(QString, name);
    QFETCH(int, code);
    QCOMPARE(int(::controlCodeFromName(name)), code);
}

void TstKeyCodes::encode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("codes");

    QTest::newRow("empty") << "" << QByteArray();
    QTest::newRow("[CR][LF]") << "[CR][LF]" << QByteArray::fromHex("0d0a");
    QTest::newRow("[ESC]") << "[ESC]" << QByteArray::fromHex("1b");
    QTest::newRow("A[HT]B") << "A[HT]B" << QByteArray::fromHex("410942");
    QTest::newRow("[SOH][US]") << "[SOH][US]" << QByteArray::fromHex("011f");
    QTest::newRow("[cr] unknown name") << "[cr]" << QByteArray::fromHex("00");
    QTest::newRow("[XYZ] unknown name") << "[XYZ]" << QByteArray::fromHex("00");
    QTest::newRow("[NULL] is 0x00") << "[NULL]" << QByteArray::fromHex("00");
    QTest::newRow("[NUL] of older files") << "[NUL]" << QByteArray::fromHex("00");
    QTest::newRow("[NULLX] no name") << "[NULLX]" << QByteArray::fromHex("5b4e554c4c585d");
    QTest::newRow("[null] no name") << "[null]" << QByteArray::fromHex("5b6e756c6c5d");
    QTest::newRow("[A] one letter") << "[A]" << QByteArray::fromHex("5b415d");
    QTest::newRow("[]") << "[]" << QByteArray::fromHex("5b5d");
    QTest::newRow("[ABCD]") << "[ABCD]" << QByteArray::fromHex("5b414243445d");
    QTest::newRow("[[CR]") << "[[CR]" << QByteArray::fromHex("5b0d");
    QTest::newRow("[[[CR]") << "[[[CR]" << QByteArray::fromHex("5b5b0d");
    QTest::newRow("[C[] bracket second") << "[C[]" << QByteArray::fromHex("5b435b5d");
    QTest::newRow("[CR[] bracket third") << "[CR[]" << QByteArray::fromHex("00");
    QTest::newRow("[]CR]") << "[]CR]" << QByteArray::fromHex("5b5d43525d");
    QTest::newRow("[CR]] stray close") << "[CR]]" << QByteArray::fromHex("0d5d");
    QTest::newRow("] alone") << "]" << QByteArray::fromHex("5d");
    QTest::newRow("AB[ at end") << "AB[" << QByteArray::fromHex("41425b");
    QTest::newRow("[CR unclosed") << "[CR" << QByteArray::fromHex("5b4352");
    QTest::newRow("[ESC unclosed") << "[ESC" << QByteArray::fromHex("5b455343");
    QTest::newRow("name of symbols") << chars({ u'[', 0x20AC, u'A', u']' }) << QByteArray::fromHex("00");
    QTest::newRow("euro sign") << chars({ 0x20AC }) << QByteArray::fromHex("b0");
    QTest::newRow("U+0080") << chars({ 0x0080 }) << QByteArray::fromHex("b0");
    QTest::newRow("degree sign") << chars({ 0x00B0 }) << QByteArray::fromHex("b0");
    QTest::newRow("currency sign") << chars({ 0x00A4 }) << QByteArray::fromHex("b1");
    QTest::newRow("broken bar") << chars({ 0x00A6 }) << QByteArray::fromHex("b2");
    QTest::newRow("fullwidth broken bar") << chars({ 0xFFE4 }) << QByteArray::fromHex("b2");
    QTest::newRow("section sign") << chars({ 0x00A7 }) << QByteArray::fromHex("b3");
    QTest::newRow("diaeresis") << chars({ 0x00A8 }) << QByteArray::fromHex("b4");
    QTest::newRow("superscript three") << chars({ 0x00B3 }) << QByteArray::fromHex("b5");
    QTest::newRow("acute accent") << chars({ 0x00B4 }) << QByteArray::fromHex("b6");
    QTest::newRow("micro sign") << chars({ 0x00B5 }) << QByteArray::fromHex("b5");
    QTest::newRow("e acute") << chars({ 0x00E9 }) << QByteArray::fromHex("e9");
    QTest::newRow("U+4E2D low bits") << chars({ 0x4E2D }) << QByteArray::fromHex("2d");
    QTest::newRow("S caron low bits") << chars({ 0x0160 }) << QByteArray::fromHex("60");
    QTest::newRow("outside the BMP") << QString::fromUcs4(U"\U0001F600") << QByteArray::fromHex("3d00");
    QTest::newRow("mixed") << chars({ u'[', u'S', u'T', u'X', u']', u'1', 0x20AC, u'[', u'E', u'T', u'X', u']' })
                           << QByteArray::fromHex("0231b003");
}

void TstKeyCodes::encode()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, codes);
    QCOMPARE(encodeKeyCodes(text).toHex(' '), codes.toHex(' '));
}

void TstKeyCodes::decodeHid_data()
{
    QTest::addColumn<QByteArray>("codes");
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("00") << QByteArray::fromHex("00") << "[NULL]";
    QTest::newRow("0d") << QByteArray::fromHex("0d") << "[CR]";
    QTest::newRow("1b") << QByteArray::fromHex("1b") << "[ESC]";
    QTest::newRow("1f") << QByteArray::fromHex("1f") << "[US]";
    QTest::newRow("20") << QByteArray::fromHex("20") << " ";
    QTest::newRow("41") << QByteArray::fromHex("41") << "A";
    QTest::newRow("7f") << QByteArray::fromHex("7f") << chars({ 0x007F });
    QTest::newRow("0d 0a 41") << QByteArray::fromHex("0d0a41") << "[CR][LF]A";
    QTest::newRow("bracket text") << QByteArray::fromHex("5b43525d") << "[CR]";
    QTest::newRow("80 code page euro") << QByteArray::fromHex("80") << chars({ 0x20AC });
    QTest::newRow("81 undefined in 1252") << QByteArray::fromHex("81") << chars({ 0x0081 });
    QTest::newRow("8a") << QByteArray::fromHex("8a") << chars({ 0x0160 });
    QTest::newRow("9f") << QByteArray::fromHex("9f") << chars({ 0x0178 });
    QTest::newRow("af") << QByteArray::fromHex("af") << chars({ 0x00AF });
    QTest::newRow("b0 euro") << QByteArray::fromHex("b0") << chars({ 0x20AC });
    QTest::newRow("b1") << QByteArray::fromHex("b1") << chars({ 0x00A4 });
    QTest::newRow("b2") << QByteArray::fromHex("b2") << chars({ 0x00A6 });
    QTest::newRow("b3") << QByteArray::fromHex("b3") << chars({ 0x00A7 });
    QTest::newRow("b4") << QByteArray::fromHex("b4") << chars({ 0x00A8 });
    QTest::newRow("b5 superscript three") << QByteArray::fromHex("b5") << chars({ 0x00B3 });
    QTest::newRow("b6") << QByteArray::fromHex("b6") << chars({ 0x00B4 });
    QTest::newRow("b7 code page") << QByteArray::fromHex("b7") << chars({ 0x00B7 });
    QTest::newRow("e9") << QByteArray::fromHex("e9") << chars({ 0x00E9 });
    QTest::newRow("ff") << QByteArray::fromHex("ff") << chars({ 0x00FF });
}

void TstKeyCodes::decodeHid()
{
    QFETCH(QByteArray, codes);
    QFETCH(QString, text);
    QCOMPARE(decodeKeyCodes(codes), text);
}

void TstKeyCodes::decodeSerial_data()
{
    QTest::addColumn<QByteArray>("codes");
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("00") << QByteArray::fromHex("00") << "[NULL]";
    QTest::newRow("0d") << QByteArray::fromHex("0d") << "[CR]";
    QTest::newRow("0d 0a") << QByteArray::fromHex("0d0a") << "[CR][LF]";
    QTest::newRow("41") << QByteArray::fromHex("41") << "A";
    QTest::newRow("7f no name") << QByteArray::fromHex("7f") << chars({ 0x007F });
    QTest::newRow("80 euro, not a name") << QByteArray::fromHex("80") << chars({ 0x20AC });
    QTest::newRow("8d no name") << QByteArray::fromHex("8d") << chars({ 0x008D });
    QTest::newRow("9b no name") << QByteArray::fromHex("9b") << chars({ 0x203A });
    QTest::newRow("b0 degree sign") << QByteArray::fromHex("b0") << chars({ 0x00B0 });
    QTest::newRow("b1") << QByteArray::fromHex("b1") << chars({ 0x00B1 });
    QTest::newRow("b5 micro sign") << QByteArray::fromHex("b5") << chars({ 0x00B5 });
    QTest::newRow("b6 pilcrow") << QByteArray::fromHex("b6") << chars({ 0x00B6 });
    QTest::newRow("ff") << QByteArray::fromHex("ff") << chars({ 0x00FF });
}

void TstKeyCodes::decodeSerial()
{
    QFETCH(QByteArray, codes);
    QFETCH(QString, text);
    QCOMPARE(decodeSerialKeyCodes(codes), text);
}

// Reading a string and writing it back keeps every single code except:
// the code page's
// characters beyond Latin-1 at 0x80..0x9F, which go back as their low 8 bits
// (0x80, the euro sign, as the symbol code 0xB0); and the Latin-1 look-alikes
// of the symbols, which go back as 0xB1..0xB6: 0xA4 0xA6 0xA7 0xA8 in both
// forms, and in the serial form also 0xB3 and 0xB4, which the HID form shows
// as symbols.
void TstKeyCodes::singleCodeRoundTrip_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QByteArray>("changed");

    const QByteArray changed = QByteArray::fromHex(
        "8082838485868788898a8b8c8e" "9192939495969798999a9b9c9e9f" "a4a6a7a8");
    QTest::newRow("HID form") << false << changed;
    QTest::newRow("serial form") << true << changed + QByteArray::fromHex("b3b4");
}

void TstKeyCodes::singleCodeRoundTrip()
{
    QFETCH(bool, serial);
    QFETCH(QByteArray, changed);

    QByteArray actual;
    for (int c = 0; c < 256; ++c) {
        const QByteArray code(1, char(c));
        const QString text = serial ? decodeSerialKeyCodes(code) : decodeKeyCodes(code);
        if (encodeKeyCodes(text) != code)
            actual.append(char(c));
    }
    QCOMPARE(actual.toHex(' '), changed.toHex(' '));
}

void TstKeyCodes::preambleTrace_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("preAmble");
    QTest::addColumn<QStringList>("traces");

    QTest::newRow("ordinary characters")
        << "A1" << true << QStringList{ "PreVal=41", "PreVal=31" };
    QTest::newRow("names are not traced")
        << "[CR]A[LF]" << true << QStringList{ "PreVal=41" };
    QTest::newRow("value before symbol mapping")
        << chars({ 0x20AC, 0x0080, 0xFFE4 }) << true
        << QStringList{ "PreVal=20ac", "PreVal=80", "PreVal=ffe4" };
    QTest::newRow("high code unit")
        << chars({ 0x4E2D }) << true << QStringList{ "PreVal=4e2d" };
    QTest::newRow("surrogate pair")
        << QString::fromUcs4(U"\U0001F600") << true << QStringList{ "PreVal=d83d", "PreVal=de00" };
    QTest::newRow("[NULL] is a name") << "[NULL]" << true << QStringList();
    QTest::newRow("unknown name is not traced") << "[XYZ]" << true << QStringList();
    QTest::newRow("empty") << "" << true << QStringList();
    QTest::newRow("other strings are silent") << "A[CR]" << false << QStringList();
}

void TstKeyCodes::preambleTrace()
{
    QFETCH(QString, text);
    QFETCH(bool, preAmble);
    QFETCH(QStringList, traces);

    capturedTraces.clear();
    enableTraces();
    const QtMessageHandler previous = qInstallMessageHandler(captureDebug);
    encodeKeyCodes(text, preAmble ? KeyCodeTrace::PreAmble : KeyCodeTrace::Off);
    qInstallMessageHandler(previous);
    QCOMPARE(capturedTraces, traces);
}

void TstKeyCodes::roundTripTextKeepsEveryCode_data()
{
    QTest::addColumn<QByteArray>("codes");
    QByteArray all;
    for (int c = 0; c < 256; ++c)
        all.append(char(c));
    QTest::newRow("every code") << all;
    QByteArray backwards(all);
    std::reverse(backwards.begin(), backwards.end());
    QTest::newRow("every code backwards") << backwards;
    QTest::newRow("bracket name spelled out") << QByteArrayLiteral("[CR]");
    QTest::newRow("bracket three-letter name") << QByteArrayLiteral("x[ESC]y");
    QTest::newRow("bracket before a control code") << QByteArray("[\x0D\x0A]", 4);
    QTest::newRow("zero bytes") << QByteArray(3, '\0');
    // A fixed pseudo-random stream covers the pairs and triples the named rows miss.
    QByteArray noise;
    quint32 x = 2463534242u;
    for (int i = 0; i < 4096; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        noise.append(char(x & 0xFF));
    }
    QTest::newRow("noise") << noise;
}

void TstKeyCodes::roundTripTextKeepsEveryCode()
{
    QFETCH(QByteArray, codes);
    QCOMPARE(encodeKeyCodes(roundTripKeyCodesText(codes)).toHex(' '), codes.toHex(' '));
    QCOMPARE(encodeKeyCodes(roundTripKeyCodesText(codes, true)).toHex(' '), codes.toHex(' '));
}

void TstKeyCodes::roundTripTextReadsLikeTheForm()
{
    // Where the form's text already comes back unchanged, the stored text is
    // that same text.
    const QByteArray plain = QByteArrayLiteral("\x02ID:\xB0\r\n");
    QCOMPARE(roundTripKeyCodesText(plain), decodeKeyCodes(plain));
    QCOMPARE(roundTripKeyCodesText(plain, true), decodeSerialKeyCodes(plain));
    QCOMPARE(roundTripKeyCodesText(QByteArray(1, '\0')), QStringLiteral("[NULL]"));
}

QTEST_GUILESS_MAIN(TstKeyCodes)
#include "tst_keycodes.moc"

#include "settings/textcodec.h"

#include <QtTest>

#include <cstdio>
#include <langinfo.h>
#include <locale.h>

// Runs with LC_ALL=C.UTF-8, where the codec falls back to Windows-1252.
// Other locales are checked in a child run of this program, since the byte
// table is built once per process.

namespace {

const char ReportVariable[] = "TST_TEXTCODEC_REPORT";

// Child mode: the code page name, then the 256 characters as hex code units.
int reportCodePage()
{
    std::printf("%s\n", qPrintable(TextCodec::codePageName()));
    for (int b = 0; b < 256; ++b)
        std::printf("%04x ", unsigned(TextCodec::byteToChar(uchar(b)).unicode()));
    std::printf("\n");
    return 0;
}

QString hexUnits(const QString &text)
{
    QStringList units;
    for (const QChar ch : text)
        units << QStringLiteral("%1").arg(ch.unicode(), 4, 16, QLatin1Char('0'));
    return units.join(QLatin1Char(' ')) + QLatin1Char(' ');
}

QByteArray codesetOf(const QByteArray &localeName)
{
    const locale_t loc = newlocale(LC_CTYPE_MASK, localeName.constData(), locale_t(nullptr));
    if (loc == locale_t(nullptr))
        return QByteArray();
    const QByteArray codeset(nl_langinfo_l(CODESET, loc));
    freelocale(loc);
    return codeset;
}

} // namespace

class TstTextCodec : public QObject
{
    Q_OBJECT

private slots:
    void windows1252_data();
    void windows1252();
    void byteStrings();
    void textToBytes();
    void singleByteTable_data();
    void singleByteTable();
    void ownTableMatchesIconv();
    void localeInChild_data();
    void localeInChild();
};

void TstTextCodec::windows1252_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("unicode");

    const QList<QPair<int, int>> rows = {
        { 0x00, 0x0000 }, { 0x0D, 0x000D }, { 0x41, 0x0041 }, { 0x7F, 0x007F },
        { 0x80, 0x20AC }, { 0x81, 0x0081 }, { 0x82, 0x201A }, { 0x83, 0x0192 },
        { 0x8A, 0x0160 }, { 0x8D, 0x008D }, { 0x8F, 0x008F }, { 0x90, 0x0090 },
        { 0x96, 0x2013 }, { 0x99, 0x2122 }, { 0x9D, 0x009D }, { 0x9E, 0x017E },
        { 0x9F, 0x0178 }, { 0xA0, 0x00A0 }, { 0xB0, 0x00B0 }, { 0xE9, 0x00E9 },
        { 0xFF, 0x00FF },
    };
    for (const auto &row : rows)
        QTest::addRow("%02x", row.first) << row.first << row.second;
}

void TstTextCodec::windows1252()
{
    QFETCH(int, byte);
    QFETCH(int, unicode);
    QCOMPARE(TextCodec::codePageName(), QStringLiteral("windows-1252"));
    QCOMPARE(TextCodec::byteToChar(uchar(byte)).unicode(), char16_t(unicode));
}

void TstTextCodec::byteStrings()
{
    const QByteArray bytes("A\0\x80" "B", 4);
    QCOMPARE(TextCodec::bytesToText(bytes), QString(QStringLiteral("A") + QChar(0) + QChar(0x20AC) + QLatin1Char('B')));
    QCOMPARE(TextCodec::cStringToText(bytes), QStringLiteral("A"));
    QCOMPARE(TextCodec::cStringToText(QByteArray("\x80\xE9")), QString(QChar(0x20AC)) + QChar(0xE9));
    QCOMPARE(TextCodec::cStringToText(QByteArray(1, '\0')), QString());
    QCOMPARE(TextCodec::bytesToText(QByteArray()), QString());
}

void TstTextCodec::textToBytes()
{
    const QString text = QStringLiteral("A") + QChar(0x20AC) + QChar(0xE9) + QChar(0x4E2D)
        + QString::fromUcs4(U"\U0001F600");
    QCOMPARE(TextCodec::textToBytes(text).toHex(' '), QByteArray("41 ac e9 2d 3d 00"));
    QCOMPARE(TextCodec::textToBytes(QString()), QByteArray());
}

void TstTextCodec::singleByteTable_data()
{
    QTest::addColumn<QByteArray>("codeset");
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("unicode"); // -1: not a single-byte page

    QTest::newRow("ISO-8859-5 B0") << QByteArray("ISO-8859-5") << 0xB0 << 0x0410;
    QTest::newRow("ISO-8859-15 A4") << QByteArray("ISO-8859-15") << 0xA4 << 0x20AC;
    QTest::newRow("ISO-8859-1 41") << QByteArray("ISO-8859-1") << 0x41 << 0x0041;
    QTest::newRow("ISO-8859-3 A5 undefined") << QByteArray("ISO-8859-3") << 0xA5 << 0x00A5;
    QTest::newRow("KOI8-R C1") << QByteArray("KOI8-R") << 0xC1 << 0x0430;
    QTest::newRow("CP1251 80") << QByteArray("CP1251") << 0x80 << 0x0402;
    QTest::newRow("UTF-8") << QByteArray("UTF-8") << 0x41 << -1;
    QTest::newRow("EUC-JP") << QByteArray("EUC-JP") << 0x41 << -1;
    QTest::newRow("BIG5") << QByteArray("BIG5") << 0x41 << -1;
    QTest::newRow("GB18030") << QByteArray("GB18030") << 0x41 << -1;
    QTest::newRow("ASCII of the C locale") << QByteArray("ANSI_X3.4-1968") << 0x41 << -1;
    QTest::newRow("unknown") << QByteArray("NO-SUCH-CODESET") << 0x41 << -1;
}

void TstTextCodec::singleByteTable()
{
    QFETCH(QByteArray, codeset);
    QFETCH(int, byte);
    QFETCH(int, unicode);

    const QString table = TextCodec::singleByteTable(codeset.constData());
    if (unicode < 0) {
        QVERIFY(table.isEmpty());
        return;
    }
    QCOMPARE(table.size(), 256);
    QCOMPARE(table.at(byte).unicode(), char16_t(unicode));
}

void TstTextCodec::ownTableMatchesIconv()
{
    const QString iconvTable = TextCodec::singleByteTable("CP1252");
    if (iconvTable.isEmpty())
        QSKIP("iconv has no CP1252 here");
    QString ownTable;
    for (int b = 0; b < 256; ++b)
        ownTable += TextCodec::byteToChar(uchar(b));
    QCOMPARE(hexUnits(ownTable), hexUnits(iconvTable));
}

void TstTextCodec::localeInChild_data()
{
    QTest::addColumn<QByteArray>("locale");
    QTest::addColumn<QByteArray>("codeset"); // empty: Windows-1252 expected

    QTest::newRow("C") << QByteArray("C") << QByteArray();
    QTest::newRow("POSIX") << QByteArray("POSIX") << QByteArray();
    QTest::newRow("C.UTF-8") << QByteArray("C.UTF-8") << QByteArray();

    QProcess lister;
    lister.start(QStringLiteral("locale"), { QStringLiteral("-a") });
    bool found = false;
    if (lister.waitForFinished(10000)) {
        const QList<QByteArray> names = lister.readAllStandardOutput().split('\n');
        for (const QByteArray &name : names) {
            const QByteArray codeset = codesetOf(name.trimmed());
            if (codeset.startsWith("ISO-8859-") && !TextCodec::singleByteTable(codeset).isEmpty()) {
                QTest::newRow(name.constData()) << name.trimmed() << codeset;
                found = true;
            }
        }
    }
    if (!found)
        QTest::newRow("no ISO-8859 locale installed") << QByteArray() << QByteArray();
}

void TstTextCodec::localeInChild()
{
    QFETCH(QByteArray, locale);
    QFETCH(QByteArray, codeset);
    if (locale.isEmpty())
        QSKIP("no ISO-8859 locale on this machine");

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QString::fromLatin1(locale));
    env.insert(QString::fromLatin1(ReportVariable), QStringLiteral("1"));
    QProcess child;
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForFinished(10000));
    QCOMPARE(child.exitCode(), 0);
    const QList<QByteArray> lines = child.readAllStandardOutput().split('\n');
    QVERIFY(lines.size() >= 2);

    if (codeset.isEmpty()) {
        QCOMPARE(lines.at(0), QByteArray("windows-1252"));
        QVERIFY(lines.at(1).startsWith("0000 0001"));
        QCOMPARE(lines.at(1).mid(0x80 * 5, 4), QByteArray("20ac"));
    } else {
        QCOMPARE(lines.at(0), codeset);
        QCOMPARE(QString::fromLatin1(lines.at(1)), hexUnits(TextCodec::singleByteTable(codeset)));
    }
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet(ReportVariable))
        return reportCodePage();
    QCoreApplication app(argc, argv);
    TstTextCodec test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_textcodec.moc"

#include "textcodec.h"

#include <QtGlobal>

#include <array>

#ifdef Q_OS_WIN
#  ifndef NOMINMAX
#    define NOMINMAX
#  endif
#  include <windows.h>
#else
#  include <cerrno>
#  include <iconv.h>
#  include <langinfo.h>
#  include <locale.h>
#endif

namespace {

using ByteTable = std::array<QChar, 256>;

// Windows-1252 at 0x80..0x9F; the rest of the page is Latin-1. Its five
// undefined bytes stand for themselves, as Windows maps them.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

ByteTable windows1252Table()
{
    ByteTable table;
    for (int b = 0; b < 256; ++b)
        table[b] = (b >= 0x80 && b < 0xA0) ? QChar(Cp1252High[b - 0x80]) : QChar(b);
    return table;
}

struct CodePage {
    QString name;
    ByteTable table;
};

#ifdef Q_OS_WIN

CodePage systemCodePage()
{
    const UINT acp = GetACP();
    CPINFO info;
    if (!GetCPInfo(acp, &info) || info.MaxCharSize != 1)
        return { QStringLiteral("windows-1252"), windows1252Table() };

    ByteTable table;
    for (int b = 0; b < 256; ++b) {
        const char byte = char(b);
        wchar_t wide = 0;
        const int n = MultiByteToWideChar(acp, 0, &byte, 1, &wide, 1);
        table[b] = n == 1 ? QChar(char16_t(wide)) : QChar(b);
    }
    return { QStringLiteral("windows-%1").arg(acp), table };
}

#else

// The locale's codeset as setlocale(LC_CTYPE, "") would give it, without
// touching the process locale.
QByteArray localeCodeset()
{
    const locale_t loc = newlocale(LC_CTYPE_MASK, "", locale_t(nullptr));
    if (loc == locale_t(nullptr))
        return QByteArray();
    QByteArray codeset(nl_langinfo_l(CODESET, loc));
    freelocale(loc);
    return codeset;
}

CodePage systemCodePage()
{
    const QByteArray codeset = localeCodeset();
    if (!codeset.isEmpty() && codeset != "UTF-8") {
        const QString table = TextCodec::singleByteTable(codeset.constData());
        if (!table.isEmpty()) {
            CodePage page{ QString::fromLatin1(codeset), {} };
            for (int b = 0; b < 256; ++b)
                page.table[b] = table.at(b);
            return page;
        }
    }
    return { QStringLiteral("windows-1252"), windows1252Table() };
}
#endif

const CodePage &codePage()
{
    static const CodePage page = systemCodePage();
    return page;
}

} // namespace

namespace TextCodec {

#ifndef Q_OS_WIN
QString singleByteTable(const char *codeset)
{
    iconv_t cd = iconv_open("UTF-32LE", codeset);
    if (cd == iconv_t(-1)) // NOLINT(performance-no-int-to-ptr): iconv's own failure value
        return QString();

    QString table(256, QChar());
    bool highByteDefined = false;
    bool singleByte = true;
    for (int b = 0; b < 256 && singleByte; ++b) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char in = char(b);
        unsigned char out[8] = {};
        char *inPtr = &in;
        char *outPtr = reinterpret_cast<char *>(out);
        size_t inLeft = 1;
        size_t outLeft = sizeof out;
        const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        const int error = rc == size_t(-1) ? errno : 0;
        const size_t produced = sizeof out - outLeft;
        const char32_t code = out[0] | out[1] << 8 | out[2] << 16 | char32_t(out[3]) << 24;

        if (error == EILSEQ) {
            // Undefined in this page: the byte stands for itself, like 1252's holes.
            table[b] = QChar(b);
        } else if (error == 0 && produced == 4 && code <= 0xFFFF) {
            table[b] = QChar(char16_t(code));
            highByteDefined |= b >= 0x80;
        } else {
            // A lead byte or a byte that expands: not a one-byte page.
            singleByte = false;
        }
    }
    iconv_close(cd);
    // Plain ASCII (the C locale) leaves the upper half empty: no page to speak of.
    return singleByte && highByteDefined ? table : QString();
}
#endif


void initialise()
{
    codePage();
}

QString codePageName()
{
    return codePage().name;
}

QChar byteToChar(unsigned char b)
{
    return codePage().table[b];
}

QString bytesToText(const QByteArray &bytes)
{
    const ByteTable &table = codePage().table;
    QString text;
    text.reserve(bytes.size());
    for (const char byte : bytes)
        text.append(table[static_cast<unsigned char>(byte)]);
    return text;
}

QString cStringToText(const QByteArray &bytes)
{
    const qsizetype end = bytes.indexOf('\0');
    return bytesToText(end < 0 ? bytes : bytes.left(end));
}

QByteArray textToBytes(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar ch : text)
        bytes.append(char(ch.unicode() & 0xFF));
    return bytes;
}

} // namespace TextCodec

#include "keycodes.h"

#include "settings/nametables.h"
#include "settings/textcodec.h"
#include "settings/tracing.h"

#include <QDebug>

namespace {

constexpr quint8 FirstSymbolCode = 0xB0;
constexpr quint8 LastSymbolCode = 0xB6;

// The keyboard symbols the reader keeps at 0xB0..0xB6, as the form shows them.
constexpr char16_t SymbolChars[] = { 0x20AC, 0x00A4, 0x00A6, 0x00A7, 0x00A8, 0x00B3, 0x00B4 };

// The symbol code a typed character stands for, or -1 for an ordinary one.
// U+0080 and U+FFE4 are accepted as look-alikes of the euro sign and broken bar.
int symbolCodeFor(char16_t u)
{
    switch (u) {
    case 0x0080: return 0xB0;
    case 0xFFE4: return 0xB2;
    default: break;
    }
    for (int i = 0; i <= LastSymbolCode - FirstSymbolCode; ++i) {
        if (SymbolChars[i] == u)
            return FirstSymbolCode + i;
    }
    return -1;
}

bool isAt(const QString &text, qsizetype pos, char16_t u)
{
    return pos < text.size() && text.at(pos).unicode() == u;
}

QString decode(const QByteArray &codes, bool withSymbols)
{
    QString text;
    for (const char byte : codes) {
        const quint8 c = quint8(byte);
        if (c < 0x20)
            text += QLatin1Char('[') + ControlCodeNames.at(c) + QLatin1Char(']');
        else if (withSymbols && c >= FirstSymbolCode && c <= LastSymbolCode)
            text += QChar(SymbolChars[c - FirstSymbolCode]);
        else
            text += TextCodec::byteToChar(c);
    }
    return text;
}

} // namespace

quint8 controlCodeFromName(const QString &name)
{
    for (int code = 0x01; code <= 0x1F; ++code) {
        if (ControlCodeNames.at(code) == name)
            return quint8(code);
    }
    return 0x00;
}

bool isControlCodeName(const QString &name)
{
    return ControlCodeNames.contains(name);
}

QList<KeyCodeToken> keyCodeTokens(const QString &text)
{
    const char16_t open = u'[';
    const char16_t close = u']';
    QList<KeyCodeToken> tokens;
    qsizetype i = 0;
    while (i < text.size()) {
        if (isAt(text, i, open)) {
            // Only a bracket closing two or three characters later makes a name,
            // and never one whose first two characters hold a bracket.
            const bool bracketInside = isAt(text, i + 1, open) || isAt(text, i + 2, open)
                || isAt(text, i + 1, close) || isAt(text, i + 2, close);
            // "NULL" is the one name of four: the pickers offer it and a
            // read shows 0x00 as it, so it must mean 0x00 when written.
            const qsizetype nameLength = bracketInside ? 0
                : isAt(text, i + 3, close)             ? 2
                : isAt(text, i + 4, close)             ? 3
                : isAt(text, i + 5, close) && text.mid(i + 1, 4) == ControlCodeNames.at(0) ? 4
                                                       : 0;
            if (nameLength > 0) {
                tokens.append({i, nameLength + 2, controlCodeFromName(text.mid(i + 1, nameLength)), true});
                i += nameLength + 2;
                continue;
            }
        }
        const char16_t u = text.at(i).unicode();
        const int symbol = symbolCodeFor(u);
        tokens.append({i, 1, quint8(symbol >= 0 ? symbol : u & 0xFF), false});
        ++i;
    }
    return tokens;
}

QByteArray encodeKeyCodes(const QString &text, KeyCodeTrace trace)
{
    QByteArray codes;
    for (const KeyCodeToken &token : keyCodeTokens(text)) {
        if (!token.name && trace == KeyCodeTrace::PreAmble)
            qCDebug(lcSettings, "PreVal=%x", unsigned(text.at(token.position).unicode()));
        codes.append(char(token.code));
    }
    return codes;
}

QString decodeKeyCodes(const QByteArray &codes)
{
    return decode(codes, true);
}

QString decodeSerialKeyCodes(const QByteArray &codes)
{
    return decode(codes, false);
}

QString roundTripKeyCodesText(const QByteArray &codes, bool serialForm)
{
    const auto build = [&](bool replaceOpenBrackets) {
        QString text;
        for (const char byte : codes) {
            const QByteArray one(1, byte);
            const quint8 c = quint8(byte);
            const QString shown = decode(one, !serialForm);
            if (!(c == '[' && replaceOpenBrackets) && encodeKeyCodes(shown) == one)
                text += shown;
            else
                text += QChar(char16_t(0x0100 | c));
        }
        return text;
    };
    const QString plain = build(false);
    // Codes that each come back alone may still form a name together, as the
    // four characters "[CR]" do.
    return encodeKeyCodes(plain) == codes ? plain : build(true);
}

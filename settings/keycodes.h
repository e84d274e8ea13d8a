#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A preamble, postamble or remove-data string is a run of one-byte key codes.
// The form shows it as text: control codes as bracketed names ("[CR]"), the
// reader's seven symbol codes 0xB0..0xB6 as keyboard symbols (USB only), every
// other byte as its character in the code page of TextCodec.

// The control code named name (exact, case-sensitive) among 0x01..0x1F;
// 0x00 when none matches. "NULL" is not looked up: it is 0x00 anyway.
quint8 controlCodeFromName(const QString &name);

// Whether name (without its brackets) is one of the 32 control-code names.
bool isControlCodeName(const QString &name);

// Which string is being encoded; only the preamble is traced ("PreVal=%x").
enum class KeyCodeTrace { Off, PreAmble };

// One key code of a text and where it stands: a bracketed name, or one
// character (one UTF-16 code unit).
struct KeyCodeToken
{
    qsizetype position = 0;
    qsizetype length = 1;
    quint8 code = 0;
    bool name = false;
};

// The text cut as encodeKeyCodes cuts it.
QList<KeyCodeToken> keyCodeTokens(const QString &text);

// Text to key codes. Never fails; the count is the size of the result.
QByteArray encodeKeyCodes(const QString &text, KeyCodeTrace trace = KeyCodeTrace::Off);

// Key codes to text as the USB read shows them (with the symbol codes).
QString decodeKeyCodes(const QByteArray &codes);

// Key codes to text as the serial read shows them (no symbol codes).
QString decodeSerialKeyCodes(const QByteArray &codes);

// A text that encodeKeyCodes turns back into exactly these codes, for tools
// that store settings as text and must not change them on the way back. It
// reads like the USB form (or the serial form) wherever that text would come
// back unchanged; codes it would not keep (bytes whose character encodes to
// another code; a "[" that would open a name) get the stand-in U+0100 + code,
// whose low eight bits are the code. Files written before "[NULL]" meant
// 0x00 hold "[NUL]" for it, which still encodes to 0x00 as an unknown name.
QString roundTripKeyCodesText(const QByteArray &codes, bool serialForm = false);

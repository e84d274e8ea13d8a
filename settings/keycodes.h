#pragma once

#include <QByteArray>
#include <QString>

// A preamble, postamble or remove-data string is a run of one-byte key codes.
// The form shows it as text: control codes as bracketed names ("[CR]"), the
// reader's seven symbol codes 0xB0..0xB6 as keyboard symbols (USB only), every
// other byte as its character in the code page of TextCodec.

// The control code named name (exact, case-sensitive) among 0x01..0x1F;
// 0x00 when none matches. "NULL" is not looked up.
quint8 controlCodeFromName(const QString &name);

// Which string is being encoded; only the preamble is traced ("PreVal=%x").
enum class KeyCodeTrace { Off, PreAmble };

// Text to key codes. Never fails; the count is the size of the result.
QByteArray encodeKeyCodes(const QString &text, KeyCodeTrace trace = KeyCodeTrace::Off);

// Key codes to text as the USB read shows them (with the symbol codes).
QString decodeKeyCodes(const QByteArray &codes);

// Key codes to text as the serial read shows them (no symbol codes).
QString decodeSerialKeyCodes(const QByteArray &codes);

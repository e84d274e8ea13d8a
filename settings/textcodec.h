#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>

// The one place where bytes from the reader become text and typed text
// becomes bytes. Bytes decode through the system's single-byte code page;
// where the locale has none (UTF-8, double-byte code pages) Windows-1252
// stands in, the code page the reader's key codes were laid out for.
namespace TextCodec {

// Builds the byte table once; later calls do nothing. Every other function
// here calls it on first use, so calling it is only needed to fix the moment.
void initialise();

// Name of the code page in use, for traces ("windows-1252", "ISO-8859-5", ...).
QString codePageName();

// The character that byte b denotes in the code page.
QChar byteToChar(unsigned char b);

// Every byte, in order, one character each (zero bytes included).
QString bytesToText(const QByteArray &bytes);

// The bytes up to, not including, the first zero byte (C-string reading).
QString cStringToText(const QByteArray &bytes);

// Typed text goes to the reader as the low 8 bits of each UTF-16 code unit.
QByteArray textToBytes(const QString &text);

#ifndef Q_OS_WIN
// The 256 characters of the iconv code set named codeset, bytes it leaves
// undefined standing for themselves; empty when it is not a one-byte code page
// with an upper half (UTF-8, double-byte sets, plain ASCII) or is unknown.
QString singleByteTable(const char *codeset);
#endif

} // namespace TextCodec

#pragma once

#include "readerstate.h"

#include <QByteArray>

// The reader's answers, byte for byte. Pure functions, so that tests of the
// program can build the replies they expect without a model.
namespace ReaderReplies {

// USB input reports: the 64 data bytes, echo at 48.
constexpr int UsbReportSize = 64;

QByteArray usbStatus(const ReaderState &state, quint8 echo);
// Count at 0, codes at 1..n, checksum at n+1. At most 46 codes fit in front
// of the echo; longer strings are cut.
QByteArray usbBlock(const QByteArray &codes, quint8 echo, bool badChecksum = false);
// A report whose payload is all zero: an acknowledgement or a stale echo.
QByteArray usbEmpty(quint8 echo);

// Serial replies.
QByteArray serialVersion(const ReaderState &state);             // 8 bytes
QByteArray serialFlags(const ReaderState &state);               // flags at 4
QByteArray serialOutput(const ReaderState &state);              // start 4, length 5
QByteArray serialBlock(quint8 code, const QByteArray &codes);   // 1B 42 code n codes 0D
// The six replies to one settings read, as one run: "1BT" ... CR.
QByteArray serialSettingsRun(const ReaderState &state);

// The string a block command (read or write) refers to; null for other codes.
QByteArray *blockOf(ReaderState &state, quint8 code);
const QByteArray *blockOf(const ReaderState &state, quint8 code);

} // namespace ReaderReplies

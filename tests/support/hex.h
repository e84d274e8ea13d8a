#pragma once

#include <QByteArray>

// Bytes written as hex digits, spaced as reads best: "1B 42 00".
inline QByteArray hex(const char *digits)
{
    // fromHex skips what is not a digit, the spaces among it.
    return QByteArray::fromHex(digits);
}

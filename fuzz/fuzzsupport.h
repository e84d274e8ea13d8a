#pragma once

// What every fuzz target shares: quiet traces, a fixed code page, results
// the optimiser cannot drop, and checks that count as findings.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace FuzzSupport {

// The code under test traces through qDebug on every call; libFuzzer's own
// output is all we want to see.
inline void quietMessages(QtMsgType, const QMessageLogContext &, const QString &) {}

// Traces off and the code page fixed before the first decode, so that a
// reproducer behaves the same wherever it is run (the caller may still pick
// a locale with LC_ALL).
inline void setUp()
{
    qInstallMessageHandler(quietMessages);
    setenv("LC_ALL", "C.UTF-8", 0);
}

inline volatile std::uint32_t sink = 0;

inline void consume(const QByteArray &bytes)
{
    std::uint32_t h = std::uint32_t(bytes.size());
    for (const char c : bytes)
        h = h * 31 + quint8(c);
    sink = sink + h;
}

inline void consume(const QString &text)
{
    std::uint32_t h = std::uint32_t(text.size());
    for (const QChar c : text)
        h = h * 31 + c.unicode();
    sink = sink + h;
}

inline void consume(std::uint32_t value) { sink = sink + value; }

[[noreturn]] inline void fail(const char *what, const char *file, int line)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}

// The text a user could type, from fuzzer bytes: UTF-16 code units as they
// are (lone surrogates included) or UTF-8, which makes bracketed names and
// plain ASCII easy to reach.
inline QString textFrom(const QByteArray &bytes, bool utf16)
{
    if (!utf16)
        return QString::fromUtf8(bytes);
    QString text;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        text.append(QChar(char16_t(quint8(bytes[i]) | quint8(bytes[i + 1]) << 8)));
    return text;
}

} // namespace FuzzSupport

#define FUZZ_CHECK(condition) \
    ((condition) ? void(0) : FuzzSupport::fail(#condition, __FILE__, __LINE__))

#define FUZZ_SET_UP()                                    \
    extern "C" int LLVMFuzzerInitialize(int *, char ***) \
    {                                                    \
        FuzzSupport::setUp();                            \
        return 0;                                        \
    }

// Key-code text as a user types it into the form or a settings file.
// First byte: bit 0 traces as the preamble, bit 1 reads the rest as UTF-16
// code units instead of UTF-8.

#include "fuzzsupport.h"
#include "settings/keycodes.h"

FUZZ_SET_UP()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const quint8 mode = data[0];
    const QString text = FuzzSupport::textFrom(
        QByteArray(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1)), mode & 0x02);
    const KeyCodeTrace trace = (mode & 0x01) ? KeyCodeTrace::PreAmble : KeyCodeTrace::Off;

    const QByteArray codes = encodeKeyCodes(text, trace);
    // A name takes four, five or ("[NULL]") six characters for one code,
    // anything else one.
    FUZZ_CHECK(codes.size() <= text.size());
    FUZZ_CHECK(codes.size() * 6 >= text.size());
    // Tracing never changes what is sent.
    FUZZ_CHECK(encodeKeyCodes(text, trace == KeyCodeTrace::Off ? KeyCodeTrace::PreAmble
                                                               : KeyCodeTrace::Off)
               == codes);
    for (const bool serialForm : {false, true})
        FUZZ_CHECK(encodeKeyCodes(roundTripKeyCodesText(codes, serialForm)) == codes);
    FuzzSupport::consume(codes);
    return 0;
}

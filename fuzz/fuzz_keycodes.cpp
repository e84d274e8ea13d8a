// Key codes as a read delivers them: both display forms, and the text tools
// store them as, which must encode back to exactly the same codes.

#include "fuzzsupport.h"
#include "settings/keycodes.h"

FUZZ_SET_UP()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray codes(reinterpret_cast<const char *>(data), qsizetype(size));

    // Every code shows as one character or one bracketed name.
    const QString usb = decodeKeyCodes(codes);
    const QString serial = decodeSerialKeyCodes(codes);
    FUZZ_CHECK(usb.size() >= codes.size() && usb.size() <= 6 * codes.size());
    FUZZ_CHECK(serial.size() >= codes.size() && serial.size() <= 6 * codes.size());
    FuzzSupport::consume(usb);
    FuzzSupport::consume(serial);

    for (const bool serialForm : {false, true}) {
        const QString text = roundTripKeyCodesText(codes, serialForm);
        FUZZ_CHECK(encodeKeyCodes(text) == codes);
        FuzzSupport::consume(text);
    }
    return 0;
}

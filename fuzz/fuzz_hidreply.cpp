// USB status and data-block replies, in the current layout and in the
// read-once path's, as hid_read may leave them: any length, any bytes.

#include "fuzzsupport.h"
#include "link/commandframe.h"
#include "settings/readersettings.h"

FUZZ_SET_UP()

namespace {

using namespace ReaderSettingsWire;

quint8 sumOf(const QByteArray &bytes, int from, int last)
{
    unsigned sum = 0;
    for (int i = from; i <= last; ++i)
        sum += quint8(bytes[i]);
    return quint8(sum);
}

void checkStatus(const QByteArray &reply, const ReaderSettings &s, int flagsAt, int versionAt)
{
    const int size = int(reply.size());
    FUZZ_CHECK(s.flags.has_value() == (flagsAt < size));
    FUZZ_CHECK(s.outputStart.has_value() == (flagsAt + 1 < size));
    FUZZ_CHECK(s.outputLength.has_value() == (flagsAt + 2 < size));
    FUZZ_CHECK(s.firmwareVersion.has_value() == (versionAt + VersionLength <= size));
    if (s.flags)
        FUZZ_CHECK(*s.flags == quint8(reply[flagsAt]));
    if (s.firmwareVersion) {
        FUZZ_CHECK(*s.firmwareVersion == reply.mid(versionAt, VersionLength));
        FuzzSupport::consume(versionLabelText(*s.firmwareVersion, s.source));
    }
    if (s.outputStart)
        FuzzSupport::consume(outputText(*s.outputStart, s.source));
    if (s.outputLength)
        FuzzSupport::consume(outputText(*s.outputLength, s.source));
}

// A block is taken only when its count fits a read and the checksum over
// everything up to its last code matches.
void checkBlock(const QByteArray &reply, const std::optional<QByteArray> &block, int countAt,
                SettingsSource source)
{
    const int size = int(reply.size());
    bool valid = countAt < size && quint8(reply[countAt]) <= MaxReadCodes;
    int n = 0;
    if (valid) {
        n = quint8(reply[countAt]);
        const int checksumAt = countAt + 1 + n;
        valid = checksumAt < size && quint8(reply[checksumAt]) == sumOf(reply, 0, checksumAt - 1);
    }
    FUZZ_CHECK(block.has_value() == valid);
    if (!block)
        return;
    FUZZ_CHECK(*block == reply.mid(countAt + 1, n));
    FuzzSupport::consume(keyCodesText(*block, source));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray reply(reinterpret_cast<const char *>(data), qsizetype(size));

    const ReaderSettings status = decodeHidStatus(reply);
    FUZZ_CHECK(status.source == SettingsSource::Hid);
    checkStatus(reply, status, HidFlagsOffset, HidVersionOffset);
    FUZZ_CHECK(status.kbCountry.has_value() == (HidKbCountryOffset < int(reply.size())));
    if (status.kbCountry)
        FuzzSupport::consume(std::uint32_t(kbCountryIndex(*status.kbCountry)));

    const ReaderSettings legacy = decodeHidStatus(reply, SettingsSource::LegacyHid);
    FUZZ_CHECK(legacy.source == SettingsSource::LegacyHid);
    FUZZ_CHECK(!legacy.kbCountry);
    checkStatus(reply, legacy, LegacyFlagsOffset, LegacyVersionOffset);

    const std::optional<QByteArray> block = decodeHidBlock(reply);
    checkBlock(reply, block, 0, SettingsSource::Hid);
    // The window checks a block with the same sum the link layer computes.
    if (block)
        FUZZ_CHECK(BlockChecksum(reply, int(block->size())) == quint8(reply[int(block->size()) + 1]));
    checkBlock(reply, decodeHidBlock(reply, SettingsSource::LegacyHid), 1, SettingsSource::LegacyHid);
    FuzzSupport::consume(legacyTraceChecksum(reply));
    return 0;
}

// The serial settings reply: any chunk the port delivers, and any chunk that
// looks like a reply ("1BT" ... CR) around fuzzer bytes.

#include "fuzzsupport.h"
#include "settings/readersettings.h"
#include "settings/serialreply.h"

FUZZ_SET_UP()

namespace {

using namespace ReaderSettingsWire;

void checkBlock(const std::optional<QByteArray> &block)
{
    if (!block)
        return;
    FUZZ_CHECK(block->size() <= MaxReadCodes);
    FuzzSupport::consume(keyCodesText(*block, SettingsSource::Serial));
}

void check(const QByteArray &chunk)
{
    const bool isReply = isSerialSettingsReply(chunk);
    const std::optional<ReaderSettings> s = decodeSerialReply(chunk);
    FUZZ_CHECK(isReply == s.has_value());
    if (!s)
        return;

    FUZZ_CHECK(s->source == SettingsSource::Serial);
    FUZZ_CHECK(!s->kbCountry);
    // Fields come in the order of the replies: none without those before it.
    FUZZ_CHECK(!s->flags || s->firmwareVersion);
    FUZZ_CHECK(!s->outputStart || s->flags);
    FUZZ_CHECK(s->outputStart.has_value() == s->outputLength.has_value());
    FUZZ_CHECK(!(s->preAmble || s->postAmble || s->removeData) || s->outputStart);
    if (s->firmwareVersion) {
        FUZZ_CHECK(s->firmwareVersion->size() == VersionLength);
        FUZZ_CHECK(chunk.startsWith(*s->firmwareVersion));
        FuzzSupport::consume(versionLabelText(*s->firmwareVersion, SettingsSource::Serial));
    }
    if (s->outputStart) {
        FuzzSupport::consume(outputText(*s->outputStart, SettingsSource::Serial));
        FuzzSupport::consume(outputText(*s->outputLength, SettingsSource::Serial));
    }
    checkBlock(s->preAmble);
    checkBlock(s->postAmble);
    checkBlock(s->removeData);

    // The first block's codes are the bytes right behind its count.
    if (s->preAmble)
        FUZZ_CHECK(chunk.mid(SerialFirstBlockOffset + SerialBlockCountOffset + 1, s->preAmble->size())
                   == *s->preAmble);
}

// The bytes as polls would bring them, cut at every 7th byte: what the
// finder takes is a whole reply the decoder recognises, and what it keeps
// stays within one reply and the chunk behind it.
void checkFinder(const QByteArray &bytes)
{
    SerialReplyFinder finder;
    for (qsizetype at = 0; at < bytes.size(); at += 7) {
        finder.append(bytes.mid(at, 7));
        while (const std::optional<QByteArray> reply = finder.take()) {
            FUZZ_CHECK(isSerialSettingsReply(*reply));
            FUZZ_CHECK(reply->size() >= SerialFirstBlockOffset + 3 * SerialBlockOverhead);
            FUZZ_CHECK(bytes.contains(*reply));
            const std::optional<ReaderSettings> s = decodeSerialReply(*reply);
            FUZZ_CHECK(s && s->outputStart);
        }
        FUZZ_CHECK(finder.pendingBytes() <= SerialReplyFinder::MaxReplyBytes + 7);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    check(bytes);
    check(QByteArrayLiteral("1BT") + bytes + '\r');
    checkFinder(bytes);
    return 0;
}

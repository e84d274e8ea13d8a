#include "readersettings.h"

#include "link/commandframe.h"
#include "settings/keycodes.h"
#include "settings/textcodec.h"

using namespace ReaderSettingsWire;

namespace {

const char SerialMagic[] = {0x31, 0x42, 0x54}; // "1BT"
constexpr char Cr = 0x0D;

std::optional<quint8> byteAt(const QByteArray &bytes, int i)
{
    if (i < 0 || i >= bytes.size())
        return std::nullopt;
    return quint8(bytes[i]);
}

std::optional<QByteArray> bytesAt(const QByteArray &bytes, int from, int count)
{
    if (from < 0 || count < 0 || from + count > bytes.size())
        return std::nullopt;
    return bytes.mid(from, count);
}

// Count at countAt, codes right behind it, then the 8-bit sum of everything
// from offset 0 up to the last code.
std::optional<QByteArray> checkedBlock(const QByteArray &reply, int countAt)
{
    const std::optional<quint8> n = byteAt(reply, countAt);
    if (!n || *n > MaxReadCodes)
        return std::nullopt;
    const int checksumAt = countAt + 1 + *n;
    const std::optional<quint8> checksum = byteAt(reply, checksumAt);
    if (!checksum || *checksum != BlockChecksum(reply, checksumAt - 1))
        return std::nullopt;
    return reply.mid(countAt + 1, *n);
}

} // namespace

bool ReaderSettings::isEmpty() const
{
    return !firmwareVersion && !flags && !outputStart && !outputLength && !kbCountry && !preAmble
        && !postAmble && !removeData;
}

void ReaderSettings::merge(const ReaderSettings &later)
{
    if (later.isEmpty())
        return;
    source = later.source;
    const auto take = [](auto &field, const auto &from) {
        if (from)
            field = from;
    };
    take(firmwareVersion, later.firmwareVersion);
    take(flags, later.flags);
    take(outputStart, later.outputStart);
    take(outputLength, later.outputLength);
    take(kbCountry, later.kbCountry);
    take(preAmble, later.preAmble);
    take(postAmble, later.postAmble);
    take(removeData, later.removeData);
}

bool operator==(const ReaderSettings &a, const ReaderSettings &b)
{
    return a.source == b.source && a.firmwareVersion == b.firmwareVersion && a.flags == b.flags
        && a.outputStart == b.outputStart && a.outputLength == b.outputLength
        && a.kbCountry == b.kbCountry && a.preAmble == b.preAmble && a.postAmble == b.postAmble
        && a.removeData == b.removeData;
}

ReaderSettings decodeHidStatus(const QByteArray &reply, SettingsSource layout)
{
    struct Layout
    {
        int flags, outputStart, outputLength, kbCountry, version;
    };
    constexpr Layout current{HidFlagsOffset, HidOutputStartOffset, HidOutputLengthOffset, HidKbCountryOffset,
                             HidVersionOffset};
    constexpr Layout readOnce{LegacyFlagsOffset, LegacyOutputStartOffset, LegacyOutputLengthOffset, -1,
                              LegacyVersionOffset};
    const Layout &at = layout == SettingsSource::LegacyHid ? readOnce : current;

    ReaderSettings s;
    s.source = layout == SettingsSource::LegacyHid ? SettingsSource::LegacyHid : SettingsSource::Hid;
    s.firmwareVersion = bytesAt(reply, at.version, VersionLength);
    s.flags = byteAt(reply, at.flags);
    s.outputStart = byteAt(reply, at.outputStart);
    s.outputLength = byteAt(reply, at.outputLength);
    s.kbCountry = byteAt(reply, at.kbCountry);
    return s;
}

std::optional<QByteArray> decodeHidBlock(const QByteArray &reply, SettingsSource layout)
{
    return checkedBlock(reply, layout == SettingsSource::LegacyHid ? 1 : 0);
}

quint8 legacyTraceChecksum(const QByteArray &reply)
{
    return BlockChecksum(reply, byteAt(reply, 1).value_or(0));
}

bool isSerialSettingsReply(const QByteArray &chunk)
{
    return chunk.startsWith(QByteArray::fromRawData(SerialMagic, sizeof SerialMagic))
        && chunk.endsWith(Cr);
}

std::optional<ReaderSettings> decodeSerialReply(const QByteArray &chunk)
{
    if (!isSerialSettingsReply(chunk))
        return std::nullopt;

    // Each reply counts only when all of it arrived; everything after the
    // first incomplete one is out of place anyway.
    ReaderSettings s;
    s.source = SettingsSource::Serial;
    const int size = int(chunk.size());
    constexpr int ReplyLength = 8;
    if (size < ReplyLength)
        return s;
    s.firmwareVersion = chunk.left(VersionLength);
    if (size < 2 * ReplyLength)
        return s;
    s.flags = quint8(chunk[SerialFlagsOffset]);
    if (size < 3 * ReplyLength)
        return s;
    s.outputStart = quint8(chunk[SerialOutputStartOffset]);
    s.outputLength = quint8(chunk[SerialOutputLengthOffset]);

    int at = SerialFirstBlockOffset;
    for (std::optional<QByteArray> ReaderSettings::*block :
         {&ReaderSettings::preAmble, &ReaderSettings::postAmble, &ReaderSettings::removeData}) {
        const std::optional<quint8> n = byteAt(chunk, at + SerialBlockCountOffset);
        if (!n || at + SerialBlockOverhead + *n > size)
            break;
        if (*n <= MaxReadCodes)
            s.*block = chunk.mid(at + SerialBlockCountOffset + 1, *n);
        at += SerialBlockOverhead + *n;
    }
    return s;
}

QString versionLabelText(const QByteArray &version, SettingsSource source)
{
    const QString prefix = QStringLiteral("F/W Version: ");
    if (source == SettingsSource::Serial)
        return prefix + TextCodec::cStringToText(version.left(VersionLength));
    return prefix + TextCodec::bytesToText(version);
}

QString outputText(quint8 value, SettingsSource source)
{
    if (source == SettingsSource::LegacyHid)
        return QString::number(value);
    return QString::number(qint8(value));
}

int kbCountryIndex(quint8 value)
{
    return qint8(value);
}

QString keyCodesText(const QByteArray &codes, SettingsSource source)
{
    switch (source) {
    case SettingsSource::Hid:
        return decodeKeyCodes(codes);
    case SettingsSource::Serial:
        return decodeSerialKeyCodes(codes);
    case SettingsSource::LegacyHid:
        break;
    }
    QString text;
    for (const char c : codes) {
        if (c != '\0')
            text += TextCodec::byteToChar(quint8(c));
    }
    return text;
}

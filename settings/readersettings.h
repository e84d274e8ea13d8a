#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The reader's output settings and firmware version as one value, the
// decoders that take them out of the reader's replies, and the rules by
// which the form shows them. Pure code: the window, a command-line tool or a
// test can use all of it without a device.

// Bits of the flags byte; bits 5..7 mean nothing.
namespace SettingsFlag {
constexpr quint8 RemoveDataEnable = 0x01;
constexpr quint8 PostAmbleEnable = 0x02;
constexpr quint8 PreAmbleEnable = 0x04;
constexpr quint8 IdCodeAutoReport = 0x08;
constexpr quint8 BuzzerEnable = 0x10;
} // namespace SettingsFlag
// The flags byte's bits without a name: carried through writes as the reader
// holds them.
constexpr quint8 UnnamedFlagBits = 0xE0;

// How the values were read decides how they are shown: the transports
// differ in the version text, the key-code text and the sign of the outputs.
enum class SettingsSource {
    Hid,
    Serial,
    // The older USB layout of the read-once path (unsigned outputs, key
    // codes as plain characters).
    LegacyHid,
};

// A field is absent when the read did not deliver it or refused it; the form
// then keeps what it showed before.
struct ReaderSettings
{
    SettingsSource source = SettingsSource::Hid;
    std::optional<QByteArray> firmwareVersion; // the 8 bytes as received
    std::optional<quint8> flags;
    std::optional<quint8> outputStart;
    std::optional<quint8> outputLength;
    std::optional<quint8> kbCountry; // USB only
    std::optional<QByteArray> preAmble;
    std::optional<QByteArray> postAmble;
    std::optional<QByteArray> removeData;

    bool isEmpty() const;
    // Takes every field that later holds, and its source when it holds any.
    void merge(const ReaderSettings &later);

    friend bool operator==(const ReaderSettings &a, const ReaderSettings &b);
    friend bool operator!=(const ReaderSettings &a, const ReaderSettings &b) { return !(a == b); }
};

namespace ReaderSettingsWire {
// A read shows a key-code string only up to this many codes.
constexpr int MaxReadCodes = 31;
constexpr int VersionLength = 8;

// USB status reply (the buffer as HidExchange fills it).
constexpr int HidFlagsOffset = 8;
constexpr int HidOutputStartOffset = 9;
constexpr int HidOutputLengthOffset = 10;
constexpr int HidKbCountryOffset = 13;
constexpr int HidVersionOffset = 56;

// The read-once path's status layout.
constexpr int LegacyFlagsOffset = 9;
constexpr int LegacyOutputStartOffset = 10;
constexpr int LegacyOutputLengthOffset = 11;
constexpr int LegacyVersionOffset = 55;

// Serial settings reply: three 8-byte replies, then three blocks
// (xx xx xx n codes... xx).
constexpr int SerialFlagsOffset = 12;
constexpr int SerialOutputStartOffset = 20;
constexpr int SerialOutputLengthOffset = 21;
constexpr int SerialFirstBlockOffset = 24;
constexpr int SerialBlockCountOffset = 3;
constexpr int SerialBlockOverhead = 5;
} // namespace ReaderSettingsWire

// ---- USB -----------------------------------------------------------------

// Version, flags, outputs and keyboard country of a status reply. Offsets the
// reply does not reach stay absent. The read-once path (layout LegacyHid)
// has the version at 55..62, flags at 9, outputs at 10 and 11 and no
// keyboard country.
ReaderSettings decodeHidStatus(const QByteArray &reply, SettingsSource layout = SettingsSource::Hid);

// The key codes of a data-block reply (count at 0, codes at 1..n, checksum at
// n+1), or nothing when the count exceeds MaxReadCodes or the checksum does
// not match. On the read-once path the count is at 1, the codes at 2..n+1
// and at n+2 the 8-bit sum of bytes 0..n+1.
std::optional<QByteArray> decodeHidBlock(const QByteArray &reply, SettingsSource layout = SettingsSource::Hid);
// The sum that path traces for the remove data: bytes 0..n, one fewer than it
// compares. Bytes past the reply count as the zeroes of the reply buffer.
quint8 legacyTraceChecksum(const QByteArray &reply);

// ---- Serial --------------------------------------------------------------

// "1BT" in front and CR at the end: the chunk holds the settings replies.
bool isSerialSettingsReply(const QByteArray &chunk);

// Nothing when the chunk is not a settings reply. Otherwise every reply that
// lies wholly inside the chunk, in order, up to the first that does not: a
// chunk cut short yields its leading fields and leaves the rest absent. A
// block whose count exceeds MaxReadCodes is absent but still skipped.
std::optional<ReaderSettings> decodeSerialReply(const QByteArray &chunk);

// ---- How the form shows the values ----------------------------------------

// "F/W Version: " and the version: all eight characters over USB (zero bytes
// included), up to the first zero byte over serial.
QString versionLabelText(const QByteArray &version, SettingsSource source);

inline bool flagSet(quint8 flags, quint8 bit) { return (flags & bit) != 0; }

// Decimal text of the byte taken as signed 8-bit (unsigned on the read-once path).
QString outputText(quint8 value, SettingsSource source);

// KB_cmb's index: the byte taken as signed 8-bit, not range-checked.
int kbCountryIndex(quint8 value);

// The text of a key-code edit: bracketed names and the reader's symbols over
// USB, no symbols over serial, plain characters without zero bytes on the
// read-once path.
QString keyCodesText(const QByteArray &codes, SettingsSource source);

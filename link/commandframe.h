#pragma once

#include <QByteArray>

#include <array>

// Every command to the reader is one 8-byte frame: ESC 'B' code P1 P2 P3 P4 CR.
// Over USB the frame rides at offsets 1..8 of a 65-byte output report; over
// the serial port the same bytes are written bare.

enum CommandCode : quint8 {
    CmdGetStatus = 0x00,
    CmdFlags = 0x02,
    CmdKbCountry = 0x03,
    CmdOutput = 0x10,
    CmdGetPreAmble = 0x20,
    CmdSetPreAmble = 0x21,
    CmdGetPostAmble = 0x24,
    CmdSetPostAmble = 0x25,
    CmdGetRemoveData = 0x28,
    CmdSetRemoveData = 0x29,
    CmdSettingsDone = 0x80,
    CmdChangeMode = 0xFD,
    CmdIspMode = 0xFF,
};

namespace Frame {
constexpr quint8 Esc = 0x1B;
constexpr quint8 B = 0x42;
constexpr quint8 Cr = 0x0D;
constexpr int Length = 8;
// Pattern that guards the commands which change the reader's state for good.
constexpr quint8 Guard[4] = {0x55, 0xAA, 0x55, 0xAA};
} // namespace Frame

// The 8-byte frame for a code and its four parameters.
QByteArray commandFrame(quint8 code, quint8 p1 = 0, quint8 p2 = 0, quint8 p3 = 0, quint8 p4 = 0);

// A command whose parameters are the guard pattern 55 AA 55 AA.
QByteArray guardedFrame(quint8 code);

// The 65-byte buffer handed to hid_write: report id 0, the frame at 1..8,
// the sequence number (when the request wants an answer) at 49.
class HidReport
{
public:
    static constexpr int Size = 65;
    static constexpr int FrameOffset = 1;
    static constexpr int SeqOffset = 49;
    // A data block carries its count at offset 4 and codes from 5 on.
    static constexpr int MaxBlockCodes = Size - 5;

    HidReport() { bytes.fill(0); }
    // Copies at most Size - 1 bytes of frame behind the report id.
    static HidReport fromFrame(const QByteArray &frame, quint8 seq = 0);

    unsigned char *data() { return bytes.data(); }
    const unsigned char *data() const { return bytes.data(); }
    unsigned char &operator[](int i) { return bytes[size_t(i)]; }
    unsigned char operator[](int i) const { return bytes[size_t(i)]; }
    QByteArray toByteArray() const;

private:
    std::array<unsigned char, Size> bytes;
};

// What hid_read delivers: the 64 data bytes of the input report at 0..63.
namespace HidReply {
constexpr int ReadLength = 65;
constexpr int EchoOffset = 48;
constexpr int VersionOffset = 56;
constexpr int VersionLength = 8;
} // namespace HidReply

// The sequence number runs 1..255 and never takes 0, so that a zeroed
// reply can never pass for an echo of it.
quint8 NextSeqNo(quint8 current);

// The complement that the reader puts at reply offset 48 for request seq.
inline quint8 expectedEcho(quint8 seq) { return quint8(~seq); }

// 8-bit sum of block[0..n], the count byte included. Bytes past the end of
// block count as zero, as in a zeroed reply buffer.
quint8 BlockChecksum(const QByteArray &block, int n);

#include "readerreplies.h"

#include "link/commandframe.h"

#include <algorithm>

namespace ReaderReplies {

namespace {

constexpr int MaxUsbBlockCodes = HidReply::EchoOffset - 2;
constexpr int MaxSerialBlockCodes = 255;

QByteArray eightBytes(const QByteArray &bytes)
{
    QByteArray out = bytes.left(HidReply::VersionLength);
    out.append(HidReply::VersionLength - out.size(), '\0');
    return out;
}

QByteArray serialValueReply(quint8 code, quint8 p2, quint8 p3)
{
    return commandFrame(code, 0x00, p2, p3, 0x00);
}

} // namespace

QByteArray usbEmpty(quint8 echo)
{
    QByteArray report(UsbReportSize, '\0');
    report[HidReply::EchoOffset] = char(echo);
    return report;
}

QByteArray usbStatus(const ReaderState &state, quint8 echo)
{
    QByteArray report = usbEmpty(echo);
    report[8] = char(state.flags);
    report[9] = char(state.outputStart);
    report[10] = char(state.outputLength);
    report[13] = char(state.kbCountry);
    report.replace(HidReply::VersionOffset, HidReply::VersionLength, eightBytes(state.firmware));
    return report;
}

QByteArray usbBlock(const QByteArray &codes, quint8 echo, bool badChecksum)
{
    QByteArray report = usbEmpty(echo);
    const int n = std::min<int>(int(codes.size()), MaxUsbBlockCodes);
    report[0] = char(n);
    report.replace(1, n, codes.left(n));
    report[n + 1] = char(BlockChecksum(report, n) + (badChecksum ? 1 : 0));
    return report;
}

QByteArray serialVersion(const ReaderState &state)
{
    return eightBytes(state.firmware);
}

QByteArray serialFlags(const ReaderState &state)
{
    return serialValueReply(CmdFlags, state.flags, 0x00);
}

QByteArray serialOutput(const ReaderState &state)
{
    return serialValueReply(CmdOutput, state.outputStart, state.outputLength);
}

QByteArray serialBlock(quint8 code, const QByteArray &codes)
{
    const int n = std::min<int>(int(codes.size()), MaxSerialBlockCodes);
    QByteArray reply;
    reply.append(char(Frame::Esc)).append(char(Frame::B)).append(char(code)).append(char(n));
    reply.append(codes.left(n));
    reply.append(char(Frame::Cr));
    return reply;
}

QByteArray serialSettingsRun(const ReaderState &state)
{
    return serialVersion(state) + serialFlags(state) + serialOutput(state)
        + serialBlock(CmdGetPreAmble, state.preAmble) + serialBlock(CmdGetPostAmble, state.postAmble)
        + serialBlock(CmdGetRemoveData, state.removeData);
}

QByteArray *blockOf(ReaderState &state, quint8 code)
{
    switch (code) {
    case CmdGetPreAmble:
    case CmdSetPreAmble:
        return &state.preAmble;
    case CmdGetPostAmble:
    case CmdSetPostAmble:
        return &state.postAmble;
    case CmdGetRemoveData:
    case CmdSetRemoveData:
        return &state.removeData;
    default:
        return nullptr;
    }
}

const QByteArray *blockOf(const ReaderState &state, quint8 code)
{
    return blockOf(const_cast<ReaderState &>(state), code);
}

} // namespace ReaderReplies

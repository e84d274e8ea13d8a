#include "commandframe.h"

#include <algorithm>

QByteArray commandFrame(quint8 code, quint8 p1, quint8 p2, quint8 p3, quint8 p4)
{
    const char bytes[Frame::Length] = {char(Frame::Esc), char(Frame::B), char(code), char(p1),
                                       char(p2),         char(p3),       char(p4),   char(Frame::Cr)};
    return QByteArray(bytes, Frame::Length);
}

QByteArray guardedFrame(quint8 code)
{
    return commandFrame(code, Frame::Guard[0], Frame::Guard[1], Frame::Guard[2], Frame::Guard[3]);
}

HidReport HidReport::fromFrame(const QByteArray &frame, quint8 seq)
{
    HidReport report;
    const int n = std::min<int>(int(frame.size()), Size - FrameOffset);
    std::copy_n(reinterpret_cast<const unsigned char *>(frame.constData()), n,
                report.bytes.begin() + FrameOffset);
    if (seq != 0)
        report.bytes[SeqOffset] = seq;
    return report;
}

QByteArray HidReport::toByteArray() const
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), Size);
}

quint8 NextSeqNo(quint8 current)
{
    return current == 255 ? 1 : quint8(current + 1);
}

quint8 BlockChecksum(const QByteArray &block, int n)
{
    unsigned sum = 0;
    for (int i = 0; i <= n && i < block.size(); ++i)
        sum += quint8(block[i]);
    return quint8(sum);
}

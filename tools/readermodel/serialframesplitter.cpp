#include "serialframesplitter.h"

#include "link/commandframe.h"

namespace {

bool startsFrame(const QByteArray &buffer, int at)
{
    if (quint8(buffer[at]) != Frame::Esc)
        return false;
    // A lone ESC at the end may still become a frame.
    return at + 1 >= buffer.size() || quint8(buffer[at + 1]) == Frame::B;
}

} // namespace

bool SerialFrameSplitter::isDataBlock(quint8 code)
{
    return code == CmdSetPreAmble || code == CmdSetPostAmble || code == CmdSetRemoveData;
}

SerialFrameSplitter::Piece SerialFrameSplitter::next()
{
    int skip = 0;
    while (skip < m_buffer.size() && !startsFrame(m_buffer, skip))
        ++skip;
    if (skip > 0) {
        Piece piece{Kind::Skipped, m_buffer.left(skip)};
        m_buffer.remove(0, skip);
        return piece;
    }
    if (m_buffer.size() < 3)
        return {};

    const quint8 code = quint8(m_buffer[2]);
    int length = Frame::Length;
    if (isDataBlock(code)) {
        if (m_buffer.size() < 4)
            return {};
        length = 4 + quint8(m_buffer[3]);
    }
    if (m_buffer.size() < length)
        return {};
    if (!isDataBlock(code) && quint8(m_buffer[Frame::Length - 1]) != Frame::Cr) {
        Piece piece{Kind::Malformed, m_buffer.left(1)};
        m_buffer.remove(0, 1);
        return piece;
    }
    Piece piece{Kind::Frame, m_buffer.left(length)};
    m_buffer.remove(0, length);
    return piece;
}

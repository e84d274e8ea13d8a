#pragma once

#include <QByteArray>

// Cuts the serial byte stream into command frames. Bytes come in arbitrary
// pieces; anything in front of ESC 'B' (such as the zero padding behind a
// data block) is skipped. A data block (codes 0x21, 0x25, 0x29) is ESC 'B'
// code n and n codes; every other frame is 8 bytes ending in CR.
class SerialFrameSplitter
{
public:
    enum class Kind { None, Frame, Skipped, Malformed };
    struct Piece
    {
        Kind kind = Kind::None;
        QByteArray bytes;
    };

    void append(const QByteArray &bytes) { m_buffer.append(bytes); }
    // The next complete piece, or Kind::None when more bytes are needed.
    // Skipped bytes come out in runs; a frame whose byte 7 is not CR comes
    // out as Malformed (its ESC only, so that the search resumes behind it).
    Piece next();
    // Bytes kept back until the rest of a frame arrives.
    QByteArray pending() const { return m_buffer; }

    static bool isDataBlock(quint8 code);

private:
    QByteArray m_buffer;
};

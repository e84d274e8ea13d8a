#pragma once

#include <QByteArray>
#include <QtGlobal>

// What the simulated reader holds. Tests set these before the program talks
// to it and read them back after a write.
struct ReaderState
{
    // Eight bytes on both interfaces; the serial side needs "1BT" in front.
    QByteArray firmware = QByteArrayLiteral("1BT V2.0");
    quint8 flags = 0x10;
    quint8 outputStart = 0;
    quint8 outputLength = 16;
    quint8 kbCountry = 0; // USB only
    QByteArray preAmble;
    QByteArray postAmble;
    QByteArray removeData;
    // The ID that tokenOutput() reports when a token touches the reader.
    QByteArray tokenId = QByteArrayLiteral("01000017A5C3E2B9");
};

// Misbehaviour of the reader itself. Faults of the cable (refused writes,
// an unplugged device) belong to the fake hidapi instead.
struct ReaderFaults
{
    // Applies writes but answers nothing, on either side.
    bool silent = false;
    // USB: every reply becomes readable only after this many empty reads.
    int lateReads = 0;
    // USB: every reply is preceded by a zeroed report that echoes an older
    // sequence number.
    bool staleEchoFirst = false;
    // USB: data-block replies carry a checksum that is one off.
    bool badChecksum = false;
    // USB: one-way commands are answered too (echo of sequence number 0),
    // leaving a report that the next exchange has to discard.
    bool answerOneWay = false;
    // Takes write frames of this command code without applying them, as a
    // reader that lost one frame of a write would (0: none).
    quint8 ignoresWriteOf = 0;
    // Serial: what one batch of received bytes is answered with comes back
    // in two parts, cut at splitAt (or in the middle when splitAt is 0).
    bool splitReply = false;
    int splitAt = 0;
};

#pragma once

#include "readerstate.h"
#include "serialframesplitter.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QElapsedTimer>
#include <QList>
#include <QStringList>

#include <algorithm>
#include <functional>

// The reader's side of both protocols: one device that the fake hidapi
// (USB) and the pseudo-terminal bridge (serial) put in front of the program.
// Not thread-safe; like the program, it is driven from one thread.
class ReaderModel
{
public:
    ReaderModel() { m_clock.start(); }

    enum class UsbRead {
        Poll,  // a read that may come back empty (time-out or non-blocking)
        Block, // a blocking read: whatever is queued arrives, late or not
    };

    ReaderState &state() { return m_state; }
    const ReaderState &state() const { return m_state; }
    ReaderFaults &faults() { return m_faults; }
    const ReaderFaults &faults() const { return m_faults; }

    // USB: one output report as hid_write hands it over (report id at 0,
    // the frame at 1..8, the sequence number at 49).
    void usbWrite(const QByteArray &report);
    // The next input report (64 bytes), or an empty array when none is
    // readable yet. An empty Poll read brings a late reply one step nearer.
    // A Block read takes the next report, due or not, late or not.
    QByteArray usbRead(UsbRead mode = UsbRead::Poll);
    // Milliseconds until the next report is due, 0 when it is; -1 when none
    // is queued, or when the next is late and needs empty reads first.
    int msUntilReadable() const;
    // How long after a request its reply becomes readable, as a real reader
    // takes time to answer. Replies already queued keep theirs.
    void setReplyLatencyMs(int ms) { m_replyLatencyMs = std::max(0, ms); }
    int replyLatencyMs() const { return m_replyLatencyMs; }
    static constexpr int DefaultReplyLatencyMs = 2;
    // Reports queued, readable or not.
    int usbPending() const { return int(m_usbQueue.size()); }
    // A report the reader did not build from its state (noise, a repeat),
    // queued behind whatever is queued now and readable at once.
    void injectUsb(const QByteArray &report);

    // Serial: bytes from the program, in whatever pieces they came. Returns
    // the answer in the parts in which it is to be sent: one part normally,
    // two under the splitReply fault (a pause belongs between them), none
    // when there is nothing to answer.
    QByteArrayList serialReceive(const QByteArray &bytes);
    // An unsolicited token ID line, as the reader sends it when a token
    // touches it. Logged as sent.
    QByteArray tokenOutput();

    // The records below keep a recent history of this many entries (and
    // bytes of skipped input): a simulator left running for days must not
    // grow without end.
    static constexpr int HistoryLimit = 4096;

    // What the reader was told.
    int settingsDoneCount() const { return m_settingsDone; }
    int changeModeCount() const { return m_changeMode; }
    int ispModeCount() const { return m_ispMode; }
    // The frames received on either side, in order (for a data block only
    // its 4 + n bytes; over USB without report id or sequence number).
    QByteArrayList framesReceived() const { return m_frames; }
    // Serial bytes that were not part of a frame (padding, noise).
    QByteArray skippedBytes() const { return m_skipped; }

    // "rx 1B 42 00 00 00 00 00 0D", "tx 31 42 54 ...", plus "skip", "bad"
    // and "note" lines for what was ignored.
    QStringList log() const { return m_log; }
    void clearLog() { m_log.clear(); }
    // Called with each line as it is logged (the simulator prints them).
    void setLogSink(std::function<void(const QString &)> sink) { m_sink = std::move(sink); }

    static QString hexLine(const QByteArray &bytes);

private:
    struct QueuedReport
    {
        QByteArray bytes;
        int emptyReadsLeft = 0;
        qint64 dueMs = 0; // on m_clock
    };

    // The effect of one frame on the state and the counters; false when
    // the frame is not a command this reader takes.
    bool apply(const QByteArray &frame, bool serial);
    QByteArray serialReplyTo(const QByteArray &frame) const;
    void queueUsb(const QByteArray &report, quint8 seq);
    void addLog(const QString &line);
    void addFrame(const QByteArray &frame);

    ReaderState m_state;
    ReaderFaults m_faults;
    SerialFrameSplitter m_splitter;
    QList<QueuedReport> m_usbQueue;
    QByteArrayList m_frames;
    QByteArray m_skipped;
    QStringList m_log;
    std::function<void(const QString &)> m_sink;
    QElapsedTimer m_clock;
    int m_replyLatencyMs = DefaultReplyLatencyMs;
    int m_settingsDone = 0;
    int m_changeMode = 0;
    int m_ispMode = 0;
};

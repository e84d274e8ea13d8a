#pragma once

#include "link/commandframe.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

class HidDevice;
class QSerialPort;

// The connection to the reader. It alone opens, uses and closes the USB
// device and the serial port, runs the serial poll and counts the sequence
// numbers of USB requests; callers hand it bare command frames and get
// replies, received bytes and, when something fails, errorString().
class ReaderLink : public QObject
{
    Q_OBJECT

public:
    enum class Transport { None, Hid, Serial };
    Q_ENUM(Transport)

    static constexpr quint16 VendorId = 0x0416;
    static constexpr quint16 ProductId = 0xF100;
    // A reader that stops answering must not hold the caller for ever.
    static constexpr int ExchangeBoundMs = 3000;
    // How long one read waits for a report.
    static constexpr int ReadWaitMs = 300;
    static constexpr int PollIntervalMs = 100;

    explicit ReaderLink(QObject *parent = nullptr);
    ~ReaderLink() override;

    // Whether a reader is attached over USB: opens it and closes it again.
    static bool usbReaderPresent();

    // Opens the reader over transport, closing whatever was open first: over
    // Serial the port named where (as the user typed it), and the poll
    // starts; over Hid the reader at the device path where, or the first one
    // attached. False with errorString() set when it did not open.
    bool open(Transport transport, const QString &where = QString());
    // The one teardown: the poll stops, the port closes, the USB device
    // (also one the test command holds) is released. Safe to repeat.
    void close();

    Transport transport() const { return m_transport; }
    bool isOpen() const { return m_transport != Transport::None; }
    // What is open: the hidraw path or the serial port's system location.
    QString location() const;
    // The last failure: the system's or the library's words, with the
    // device it concerns.
    QString errorString() const { return m_error; }

    // What kind of failure the last one was, for telling the user what to do.
    enum class Failure {
        None,
        NoReader,         // no USB reader attached
        PermissionDenied, // the device is there, the user may not open it
        Busy,             // another program holds it
        NoSuchPort,       // no serial port of that name
        NoReply,          // the reader did not answer in time
        Other,
    };
    Failure failure() const { return m_failure; }
    // The device the last failure concerns (a hidraw node, a port's path).
    QString failurePath() const { return m_failurePath; }

    // Where a request carries its sequence number: at report offset 49, or
    // as P1 (the read-once layout, offset 49 then stays zero).
    enum class SeqAt { ReportTail, FirstParameter };

    // A USB request and its reply. Takes the next sequence number, builds the
    // report around frame, writes it (three attempts) and reads until a
    // reply echoes the number, within ExchangeBoundMs. The reply is the
    // buffer hid_read filled (HidReply::ReadLength bytes).
    std::optional<QByteArray> exchange(const QByteArray &frame, SeqAt seqAt = SeqAt::ReportTail);
    // One frame, no reply awaited: in a report over USB, bare over serial.
    bool send(const QByteArray &frame);
    // Over serial: waits until everything written has left the computer.
    bool drain(int timeoutMs = 2000);

    quint8 NextSeqNo();
    quint8 seqNo() const { return m_seqNo; }

    // The bring-up test command, a preamble read over USB whose reply is not
    // used. Without a USB connection the reader is opened for it and held
    // (a later test command reuses it, open() and close() release it).
    bool sendTestRequest();

    // Serial bytes that arrived and wait for the next poll.
    qint64 bytesWaiting() const;
    // The poll the timer runs: takes what arrived and emits received().
    void pollNow();

signals:
    // Everything one poll took from the serial port, in order.
    void received(const QByteArray &chunk);
    // Serial bytes came in. The poll takes them at its next tick; a caller
    // waiting for a reply may take them at once with pollNow().
    void bytesArrived();
    // The port or the device went away; the link has closed already.
    void lost(ReaderLink::Transport transport, const QString &reason);

private:
    bool openHid(const QString &path);
    bool openSerial(const QString &typedName);
    bool HidExchange(const HidReport &request, unsigned char *reply, quint8 seq);
    bool HidSend(const HidReport &request);
    bool SerialSend(const QByteArray &frame);
    void onSerialError(int error);
    void traceHidError();
    // The device or port with the library's or the system's words.
    QString deviceError() const;
    QString portError() const;
    void fail(const QString &why, Failure kind = Failure::Other, const QString &path = QString());

    Transport m_transport = Transport::None;
    std::unique_ptr<HidDevice> m_hid;
    QSerialPort *m_port = nullptr;
    QTimer m_poll{this};
    quint8 m_seqNo = 1;
    QString m_error;
    Failure m_failure = Failure::None;
    QString m_failurePath;
};

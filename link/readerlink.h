#pragma once

#include "link/commandframe.h"

#include <QObject>

class QSerialPort;
class QTimer;
struct hid_device_;
typedef struct hid_device_ hid_device;

// The connection to the reader: which transport is open, its handle or port,
// the serial poll timer and the rolling sequence number of HID requests.
// Invariants: at most one of hidOpen and serialOpen, and only while connected;
// pollTimer exists exactly while serialOpen.
class ReaderLink : public QObject
{
    Q_OBJECT

public:
    static constexpr unsigned short VendorId = 0x0416;
    static constexpr unsigned short ProductId = 0xF100;
    static constexpr int ReadPauseMs = 300;
    // A reader that stops answering must not hold the window for ever.
    static constexpr int ExchangeBoundMs = 3000;
    // How long one read waits for a report that has not come yet; a reply
    // later than that is picked up by the read after the next pause.
    static constexpr int ReadWaitMs = 300;

    explicit ReaderLink(QObject *parent = nullptr);
    ~ReaderLink() override;

    bool connected = false;
    bool hidOpen = false;
    bool serialOpen = false;
    hid_device *hidHandle = nullptr;
    QSerialPort *serialPort = nullptr;
    QTimer *pollTimer = nullptr;
    quint8 seqNo = 1;

    quint8 NextSeqNo();

    // Writes request (three attempts), then pauses and reads until a reply
    // echoes ~seq at offset 48. False when every write failed or no matching
    // reply came within ExchangeBoundMs of the write (no read starts later
    // than that, none waits past it). A null hidHandle gives false at once.
    bool HidExchange(const HidReport &request, unsigned char *reply, quint8 seq);
    // One write, no reply awaited. A null hidHandle gives false at once.
    bool HidSend(const HidReport &request);
    // Writes a bare frame to the serial port. False when the port is not
    // open or did not take every byte.
    bool SerialSend(const QByteArray &frame);
    // One frame of a one-way sequence built for the open transport: a bare
    // frame over the serial port, a whole 65-byte report over USB.
    bool sendOneWay(const QByteArray &frameOrReport);

    // Stops the serial poll. The timer is deleted once any tick that is
    // being delivered has finished.
    void stopPolling();

    // hid_open of the reader into hidHandle.
    bool openHid();
    // hid_close and hid_exit; hidHandle becomes null.
    void closeHid();
    // Replaces the port object of an earlier attempt, sets 9600 8N1 without
    // flow control and opens it for reading and writing.
    bool openSerial(const QString &typedName);
    void closeSerial();

signals:
    // The open serial port reported an error (adapter pulled, far end gone).
    // The port has already been closed when this is emitted.
    void serialPortFailed();

private:
    void onSerialError(int error);
};

// Traces hid_error's text as "Error: %ls\n".
void traceHidError(hid_device *device);

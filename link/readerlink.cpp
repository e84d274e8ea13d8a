#include "readerlink.h"

#include "link/hiddevice.h"
#include "link/platform.h"
#include "link/tracing.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QSerialPort>

#include <cerrno>
#include <cstring>

ReaderLink::ReaderLink(QObject *parent)
    : QObject(parent)
{
    m_poll.setInterval(PollIntervalMs);
    connect(&m_poll, &QTimer::timeout, this, &ReaderLink::pollNow);
}

ReaderLink::~ReaderLink()
{
    close();
}

bool ReaderLink::usbReaderPresent()
{
    return HidDevice::open(VendorId, ProductId) != nullptr;
}

bool ReaderLink::open(Transport transport, const QString &where)
{
    // A device the test command holds goes only once the new one is open:
    // hidapi then stays up in between, and no handle is left behind.
    std::unique_ptr<HidDevice> held = m_transport == Transport::None ? std::move(m_hid) : nullptr;
    close();
    switch (transport) {
    case Transport::Hid:
        if (!openHid(where))
            return false;
        break;
    case Transport::Serial:
        if (!openSerial(where))
            return false;
        m_poll.start();
        break;
    case Transport::None:
        return false;
    }
    m_transport = transport;
    return true;
}

void ReaderLink::fail(const QString &why, Failure kind, const QString &path)
{
    m_error = why;
    m_failure = kind;
    m_failurePath = path;
}

bool ReaderLink::openHid(const QString &path)
{
    QString why;
    int osError = 0;
    m_hid = path.isEmpty() ? HidDevice::open(VendorId, ProductId, &why, &osError)
                           : HidDevice::openPath(QFile::encodeName(path), &why, &osError);
    if (m_hid)
        return true;
    // hidapi says only that it failed; which of the reasons a user can act
    // on it was, the system tells.
    const QList<HidDeviceInfo> present = HidDevice::enumerate(VendorId, ProductId);
    if (present.isEmpty()) {
        fail(why, Failure::NoReader);
        return false;
    }
    const QString failed = path.isEmpty() ? QFile::decodeName(present.first().path) : path;
    if (osError == EACCES || osError == EPERM || Platform::accessDenied(failed))
        fail(why, Failure::PermissionDenied, failed);
    else if (osError == EBUSY)
        fail(why, Failure::Busy, failed);
    else
        fail(why, Failure::Other, failed);
    return false;
}

bool ReaderLink::openSerial(const QString &typedName)
{
    // The object of an earlier attempt is replaced, not reused: it may
    // still hold the state of a port that failed.
    delete m_port;
    m_port = new QSerialPort(this);
    const QString name = Platform::serialPortSystemName(typedName);
    m_port->setPortName(name);
    m_port->setBaudRate(QSerialPort::Baud9600);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->open(QIODevice::ReadWrite);
    if (!m_port->isOpen()) {
        const QString location = Platform::serialPortLocation(name);
        Failure kind = Failure::Other;
        switch (m_port->error()) {
        case QSerialPort::DeviceNotFoundError:
            kind = Failure::NoSuchPort;
            break;
        case QSerialPort::PermissionError:
            // The serial layer says the same for a port the user may not
            // open and one another program has locked.
            kind = Platform::accessDenied(location) ? Failure::PermissionDenied : Failure::Busy;
            break;
        case QSerialPort::OpenError:
            kind = Failure::Busy;
            break;
        default:
            break;
        }
        fail(portError(), kind, location);
        return false;
    }
    connect(m_port, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { onSerialError(error); });
    connect(m_port, &QIODevice::readyRead, this, &ReaderLink::bytesArrived);
    return true;
}

void ReaderLink::close()
{
    m_poll.stop();
    if (m_port && m_port->isOpen())
        m_port->close();
    m_hid.reset();
    m_transport = Transport::None;
}

QString ReaderLink::location() const
{
    switch (m_transport) {
    case Transport::Hid:
        return QFile::decodeName(m_hid->path());
    case Transport::Serial:
        return Platform::serialPortLocation(m_port->portName());
    case Transport::None:
        break;
    }
    return QString();
}

quint8 ReaderLink::NextSeqNo()
{
    m_seqNo = ::NextSeqNo(m_seqNo);
    return m_seqNo;
}

std::optional<QByteArray> ReaderLink::exchange(const QByteArray &frame, SeqAt seqAt)
{
    if (!m_hid) {
        fail(QStringLiteral("No USB reader is open"));
        return std::nullopt;
    }
    const quint8 seq = NextSeqNo();
    HidReport request;
    if (seqAt == SeqAt::ReportTail) {
        request = HidReport::fromFrame(frame, seq);
    } else {
        QByteArray withSeq = frame;
        withSeq[3] = char(seq);
        request = HidReport::fromFrame(withSeq);
    }
    QByteArray reply(HidReply::ReadLength, '\0');
    if (!HidExchange(request, reinterpret_cast<unsigned char *>(reply.data()), seq))
        return std::nullopt;
    return reply;
}

bool ReaderLink::HidExchange(const HidReport &request, unsigned char *reply, quint8 seq)
{
    int failedWrites = 0;
    const QByteArray sent = QByteArray::fromRawData(reinterpret_cast<const char *>(request.data()), HidReport::Size);
    while (m_hid->write(request.data(), HidReport::Size) < 0) {
        qCDebug(lcLink, "Unable to write Get Attach PreAmble Data command\n");
        traceHidError();
        if (++failedWrites == 3) {
            fail(deviceError());
            return false;
        }
    }
    WireTrace::trace("usb", WireTrace::Direction::Sent, sent);

    // Each read returns as soon as a report comes; one that answers an older
    // request is passed over and the next read starts at once. The clock
    // bounds the whole wait, since a silent reader sends nothing at all.
    QElapsedTimer sinceWrite;
    sinceWrite.start();
    for (;;) {
        const qint64 left = ExchangeBoundMs - sinceWrite.elapsed();
        if (left <= 0)
            break;
        const int wait = int(qMin<qint64>(left, ReadWaitMs));
        QElapsedTimer thisRead;
        thisRead.start();
        std::memset(reply, 0, 4);
        const int n = m_hid->read(reply, HidReply::ReadLength, wait);
        if (n < 0)
            qCDebug(lcLink, "Unable to read PreAmble Data \n");
        if (n > 0)
            WireTrace::trace("usb", WireTrace::Direction::Received,
                             QByteArray::fromRawData(reinterpret_cast<const char *>(reply), n));
        qCDebug(lcLink, "Read = %x %x %x", unsigned(reply[48]), unsigned(reply[49]), unsigned(reply[50]));
        if (n > 0 && reply[HidReply::EchoOffset] == expectedEcho(seq))
            return true;
        // A device that was pulled out fails every read at once; waiting out
        // the read keeps that from spinning.
        if (n < 0)
            Platform::sleepMs(int(wait - thisRead.elapsed()));
    }
    qCDebug(lcLink, "No matching reply within %d ms\n", ExchangeBoundMs);
    fail(QStringLiteral("No matching reply within %1 ms").arg(ExchangeBoundMs), Failure::NoReply,
         QFile::decodeName(m_hid->path()));
    return false;
}

bool ReaderLink::send(const QByteArray &frame)
{
    switch (m_transport) {
    case Transport::Serial:
        return SerialSend(frame);
    case Transport::Hid:
        return HidSend(HidReport::fromFrame(frame));
    case Transport::None:
        break;
    }
    fail(QStringLiteral("No reader is connected"));
    return false;
}

bool ReaderLink::HidSend(const HidReport &request)
{
    if (m_hid->write(request.data(), HidReport::Size) < 0) {
        qCDebug(lcLink, "Unable to write()\n");
        traceHidError();
        fail(deviceError());
        return false;
    }
    WireTrace::trace("usb", WireTrace::Direction::Sent,
                     QByteArray::fromRawData(reinterpret_cast<const char *>(request.data()), HidReport::Size));
    return true;
}

bool ReaderLink::SerialSend(const QByteArray &frame)
{
    if (!m_port->isOpen()) {
        fail(QStringLiteral("The serial port is closed"));
        return false;
    }
    m_port->clearError();
    const bool taken = m_port->write(frame) == frame.size();
    // Hand the bytes to the driver now, so that a port that has gone away
    // is noticed by the write that found it, not at some later poll.
    if (taken)
        m_port->flush();
    if (taken && m_port->isOpen() && m_port->error() == QSerialPort::NoError) {
        WireTrace::trace("serial", WireTrace::Direction::Sent, frame);
        return true;
    }
    fail(portError());
    return false;
}

bool ReaderLink::drain(int timeoutMs)
{
    if (m_transport != Transport::Serial)
        return m_transport == Transport::Hid;
    QElapsedTimer clock;
    clock.start();
    while (m_port->isOpen() && m_port->bytesToWrite() > 0 && clock.elapsed() < timeoutMs)
        m_port->waitForBytesWritten(int(qMax<qint64>(1, timeoutMs - clock.elapsed())));
    // Once the driver has the bytes, the line may still be sending them.
    if (m_port->isOpen() && m_port->bytesToWrite() == 0 && Platform::drainSerialPort(*m_port))
        return true;
    fail(QStringLiteral("The serial port did not send every byte"));
    return false;
}

bool ReaderLink::sendTestRequest()
{
    if (!m_hid) {
        QString why;
        m_hid = HidDevice::open(VendorId, ProductId, &why);
        if (!m_hid) {
            qCDebug(lcLink, "unable to open device\n");
            fail(why);
            return false;
        }
    }
    return exchange(commandFrame(CmdGetPreAmble)).has_value();
}

qint64 ReaderLink::bytesWaiting() const
{
    return m_transport == Transport::Serial ? m_port->bytesAvailable() : 0;
}

void ReaderLink::pollNow()
{
    if (m_transport != Transport::Serial || !m_port->isOpen())
        return;
    const qint64 available = m_port->bytesAvailable();
    if (available == 0)
        return;
    const QByteArray chunk = available > 0 ? m_port->read(available) : QByteArray();
    WireTrace::trace("serial", WireTrace::Direction::Received, chunk);
    emit received(chunk);
}

void ReaderLink::onSerialError(int error)
{
    // A port whose device is gone keeps reporting errors from its notifier
    // and spins a core until it is closed; close it at the first one. A
    // time-out only means a wait ended early, not that the port failed.
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError)
        return;
    if (m_transport != Transport::Serial || !m_port->isOpen())
        return;
    const QString reason = portError();
    qCDebug(lcLink, "Serial port error %d: %ls\n", error, qUtf16Printable(m_port->errorString()));
    fail(reason);
    close();
    emit lost(Transport::Serial, reason);
}

QString ReaderLink::deviceError() const
{
    return QStringLiteral("%1: %2").arg(QFile::decodeName(m_hid->path()), m_hid->errorText());
}

QString ReaderLink::portError() const
{
    return QStringLiteral("%1: %2").arg(Platform::serialPortLocation(m_port->portName()), m_port->errorString());
}

void ReaderLink::traceHidError()
{
    qCDebug(lcLink, "Error: %ls\n", qUtf16Printable(m_hid->errorText()));
}

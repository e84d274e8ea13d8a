#include "readerlink.h"

#include "app/platform.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QTimer>

#include <hidapi.h>

#include <cstring>

void traceHidError(hid_device *device)
{
    const wchar_t *text = hid_error(device);
    const QString error = text ? QString::fromWCharArray(text) : QString();
    qDebug("Error: %ls\n", qUtf16Printable(error));
}

ReaderLink::ReaderLink(QObject *parent)
    : QObject(parent)
{
}

ReaderLink::~ReaderLink()
{
    delete serialPort;
}

quint8 ReaderLink::NextSeqNo()
{
    seqNo = ::NextSeqNo(seqNo);
    return seqNo;
}

bool ReaderLink::HidExchange(const HidReport &request, unsigned char *reply, quint8 seq)
{
    if (!hidHandle)
        return false;
    int failedWrites = 0;
    while (hid_write(hidHandle, request.data(), HidReport::Size) < 0) {
        qDebug("Unable to write Get Attach PreAmble Data command\n");
        traceHidError(hidHandle);
        if (++failedWrites == 3)
            return false;
    }

    // A blocking hid_read never returns from a silent reader, and one that
    // was pulled out fails every read at once; the pause before each read
    // keeps the latter from spinning, the clock bounds both.
    QElapsedTimer sinceWrite;
    sinceWrite.start();
    while (sinceWrite.elapsed() + ReadPauseMs <= ExchangeBoundMs) {
        Platform::sleepMs(ReadPauseMs);
        std::memset(reply, 0, 4);
        const qint64 left = ExchangeBoundMs - sinceWrite.elapsed();
        const int wait = int(qBound(qint64(0), left, qint64(ReadWaitMs)));
        const int n = hid_read_timeout(hidHandle, reply, HidReply::ReadLength, wait);
        if (n < 0)
            qDebug("Unable to read PreAmble Data \n");
        qDebug("Read = %x %x %x", unsigned(reply[48]), unsigned(reply[49]), unsigned(reply[50]));
        if (n > 0 && reply[HidReply::EchoOffset] == expectedEcho(seq))
            return true;
    }
    qDebug("No matching reply within %d ms\n", ExchangeBoundMs);
    return false;
}

bool ReaderLink::HidSend(const HidReport &request)
{
    if (!hidHandle)
        return false;
    if (hid_write(hidHandle, request.data(), HidReport::Size) < 0) {
        qDebug("Unable to write()\n");
        traceHidError(hidHandle);
        return false;
    }
    return true;
}

bool ReaderLink::SerialSend(const QByteArray &frame)
{
    if (!serialPort || !serialPort->isOpen())
        return false;
    serialPort->clearError();
    if (serialPort->write(frame) != frame.size())
        return false;
    // Hand the bytes to the driver now, so that a port that has gone away
    // is noticed by the write that found it, not at some later poll.
    serialPort->flush();
    return serialPort->isOpen() && serialPort->error() == QSerialPort::NoError;
}

bool ReaderLink::sendOneWay(const QByteArray &frameOrReport)
{
    if (serialOpen)
        return SerialSend(frameOrReport);
    return HidSend(HidReport::fromFrame(frameOrReport.mid(HidReport::FrameOffset)));
}

void ReaderLink::stopPolling()
{
    if (!pollTimer)
        return;
    pollTimer->stop();
    pollTimer->deleteLater();
    pollTimer = nullptr;
}

bool ReaderLink::openHid()
{
    hidHandle = hid_open(VendorId, ProductId, nullptr);
    return hidHandle != nullptr;
}

void ReaderLink::closeHid()
{
    if (hidHandle)
        hid_close(hidHandle);
    hid_exit();
    hidHandle = nullptr;
}

bool ReaderLink::openSerial(const QString &typedName)
{
    delete serialPort;
    serialPort = new QSerialPort;
    serialPort->setPortName(Platform::serialPortSystemName(typedName));
    serialPort->setBaudRate(QSerialPort::Baud9600);
    serialPort->setFlowControl(QSerialPort::NoFlowControl);
    serialPort->setParity(QSerialPort::NoParity);
    serialPort->setDataBits(QSerialPort::Data8);
    serialPort->setStopBits(QSerialPort::OneStop);
    serialPort->open(QIODevice::ReadWrite);
    if (!serialPort->isOpen())
        return false;
    connect(serialPort, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { onSerialError(error); });
    return true;
}

void ReaderLink::closeSerial()
{
    if (serialPort && serialPort->isOpen())
        serialPort->close();
}

void ReaderLink::onSerialError(int error)
{
    // A port whose device is gone keeps reporting errors from its notifier
    // and spins a core until it is closed; close it at the first one. A
    // time-out only means a wait ended early, not that the port failed.
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError)
        return;
    if (!serialPort || !serialPort->isOpen())
        return;
    qDebug("Serial port error %d: %ls\n", error, qUtf16Printable(serialPort->errorString()));
    serialPort->close();
    emit serialPortFailed();
}

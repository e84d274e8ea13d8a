// Bring-up aids that the window keeps but does not offer to the mouse.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/charthread.h"
#include "app/platform.h"
#include "link/commandframe.h"
#include "link/readerlink.h"

#include <QDebug>
#include <QString>

#include <hidapi.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr unsigned short DiagnosticProductId = 0xC141;
constexpr int DescriptorChars = 255;
constexpr int PollPauseMs = 500;
// A device that never answers must not hold the window for ever.
constexpr int MaxEmptyPolls = 10;

void newlineToStdout()
{
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

QString wideText(const wchar_t *buffer)
{
    return QString::fromWCharArray(buffer);
}

} // namespace

void MainWindow::threadStart()
{
    ReaderLink &link = *readerLink;
    hid_init();

    // A failed open must not take a handle the connection may still be
    // using; a successful one replaces it, closed rather than leaked.
    hid_device *device = hid_open(ReaderLink::VendorId, DiagnosticProductId, nullptr);
    if (!device) {
        qDebug("unable to open device\n");
        return;
    }
    if (link.hidHandle)
        hid_close(link.hidHandle);
    link.hidHandle = device;

    wchar_t text[DescriptorChars];
    const auto readString = [&text](int result, const char *failure) {
        text[DescriptorChars - 1] = 0;
        if (result < 0)
            qDebug("%s", failure);
    };

    text[0] = 0;
    readString(hid_get_manufacturer_string(device, text, DescriptorChars),
               "Unable to read manufacturer string\n");
    qDebug("Manufacturer String: %ls\n", qUtf16Printable(wideText(text)));

    text[0] = 0;
    readString(hid_get_product_string(device, text, DescriptorChars), "Unable to read product string\n");
    qDebug("Product String: %ls\n", qUtf16Printable(wideText(text)));

    text[0] = 0;
    readString(hid_get_serial_number_string(device, text, DescriptorChars),
               "Unable to read serial number string\n");
    qDebug("Serial Number String: (%d) %ls", int(text[0]), qUtf16Printable(wideText(text)));
    newlineToStdout();

    text[0] = 0;
    readString(hid_get_indexed_string(device, 1, text, DescriptorChars), "Unable to read indexed string 1\n");
    qDebug("Indexed String 1: %ls\n", qUtf16Printable(wideText(text)));

    hid_set_nonblocking(device, 1);

    HidReplyBuffer buffer{};
    const HidReport request = HidReport::fromFrame(commandFrame(CmdGetStatus));
    std::copy_n(request.data(), HidReport::Size, buffer.begin());
    if (hid_write(device, buffer.data(), HidReport::Size) < 0) {
        qDebug("Unable to write()\n");
        traceHidError(device);
    }

    int result = hid_read(device, buffer.data(), HidReply::ReadLength);
    for (int polls = 0; result == 0 && polls < MaxEmptyPolls; ++polls) {
        qDebug("waiting...\n");
        Platform::sleepMs(PollPauseMs);
        result = hid_read(device, buffer.data(), HidReply::ReadLength);
    }
    if (result == 0)
        qDebug("No report within %d ms\n", MaxEmptyPolls * PollPauseMs);

    if (result < 0)
        qDebug("Unable to read()\n");
    qDebug("Data read:\n   ");
    for (int i = 0; i < result; ++i)
        qDebug("%02hx ", static_cast<unsigned short>(buffer[size_t(i)]));
    newlineToStdout();
}

void MainWindow::threadPause()
{
    // The window never starts a worker; without one there is nothing to pause.
    if (workerThread)
        workerThread->togglePause();
}

void MainWindow::threadStop()
{
}

void MainWindow::TestButClick()
{
    ReaderLink &link = *readerLink;
    if (!link.hidHandle && !link.openHid()) {
        qDebug("unable to open device\n");
        return;
    }

    const quint8 seq = link.NextSeqNo();
    const HidReport request = HidReport::fromFrame(commandFrame(CmdGetPreAmble), seq);
    HidReplyBuffer reply{};
    link.HidExchange(request, reply.data(), seq);
}

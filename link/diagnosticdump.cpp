#include "diagnosticdump.h"

#include "link/commandframe.h"
#include "link/hiddevice.h"
#include "link/platform.h"
#include "link/readerlink.h"
#include "link/tracing.h"

#include <QDebug>
#include <QString>

#include <array>
#include <cstdio>

namespace DiagnosticDump {

namespace {

constexpr int DescriptorChars = 255;
constexpr int PollPauseMs = 500;
// A device that never answers must not hold the window for ever.
constexpr int MaxEmptyPolls = 10;

void newlineToStdout()
{
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

// Reads one string as the dump shows it: the failure (if any) first, then
// the line with whatever the buffer holds.
QString readString(HidDevice &device, HidDevice::Descriptor which, const char *failure)
{
    wchar_t text[DescriptorChars];
    text[0] = 0;
    if (device.readString(which, text, DescriptorChars) < 0)
        qCDebug(lcLink, "%s", failure);
    text[DescriptorChars - 1] = 0;
    return QString::fromWCharArray(text);
}

} // namespace

std::unique_ptr<HidDevice> run()
{
    std::unique_ptr<HidDevice> device = HidDevice::open(ReaderLink::VendorId, ProductId);
    if (!device) {
        qCDebug(lcLink, "unable to open device\n");
        return nullptr;
    }

    const QString manufacturer =
        readString(*device, HidDevice::Descriptor::Manufacturer, "Unable to read manufacturer string\n");
    qCDebug(lcLink, "Manufacturer String: %ls\n", qUtf16Printable(manufacturer));
    const QString product = readString(*device, HidDevice::Descriptor::Product, "Unable to read product string\n");
    qCDebug(lcLink, "Product String: %ls\n", qUtf16Printable(product));
    const QString serial =
        readString(*device, HidDevice::Descriptor::SerialNumber, "Unable to read serial number string\n");
    qCDebug(lcLink, "Serial Number String: (%d) %ls", serial.isEmpty() ? 0 : int(serial.toStdWString().front()),
           qUtf16Printable(serial));
    newlineToStdout();
    const QString indexed = readString(*device, HidDevice::Descriptor::Indexed1, "Unable to read indexed string 1\n");
    qCDebug(lcLink, "Indexed String 1: %ls\n", qUtf16Printable(indexed));

    device->setNonblocking(true);

    std::array<unsigned char, 256> buffer{};
    const HidReport request = HidReport::fromFrame(commandFrame(CmdGetStatus));
    std::copy_n(request.data(), HidReport::Size, buffer.begin());
    if (device->write(buffer.data(), HidReport::Size) < 0) {
        qCDebug(lcLink, "Unable to write()\n");
        qCDebug(lcLink, "Error: %ls\n", qUtf16Printable(device->errorText()));
    }

    int result = device->read(buffer.data(), HidReply::ReadLength);
    for (int polls = 0; result == 0 && polls < MaxEmptyPolls; ++polls) {
        qCDebug(lcLink, "waiting...\n");
        Platform::sleepMs(PollPauseMs);
        result = device->read(buffer.data(), HidReply::ReadLength);
    }
    if (result == 0)
        qCDebug(lcLink, "No report within %d ms\n", MaxEmptyPolls * PollPauseMs);

    if (result < 0)
        qCDebug(lcLink, "Unable to read()\n");
    qCDebug(lcLink, "Data read:\n   ");
    for (int i = 0; i < result; ++i)
        qCDebug(lcLink, "%02hx ", static_cast<unsigned short>(buffer[size_t(i)]));
    newlineToStdout();
    return device;
}

} // namespace DiagnosticDump

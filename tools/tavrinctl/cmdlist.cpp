#include "commands.h"

#include "ctl.h"

#include "link/commandframe.h"
#include "link/hiddevice.h"
#include "link/readerlink.h"
#include "settings/readersettings.h"
#include "settings/textcodec.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>
#include <QTextStream>

namespace Tavrinctl {

const char *const listHelp =
    "Usage: tavrinctl list [--json]\n"
    "Lists the USB HID readers (vendor 0416, product f100) with their device paths,\n"
    "and the serial ports the system knows. With --json, one JSON array of objects:\n"
    "  kind (\"usb\" or \"serial\"), path, and for a USB reader its serialNumber and,\n"
    "  when it answers, its firmware.\n";

namespace {

QJsonArray listJson()
{
    QJsonArray list;
    for (const HidDeviceInfo &d : HidDevice::enumerate(ReaderLink::VendorId, ReaderLink::ProductId)) {
        QJsonObject reader{{QStringLiteral("kind"), QStringLiteral("usb")},
                           {QStringLiteral("path"), QFile::decodeName(d.path)},
                           {QStringLiteral("serialNumber"), d.serialNumber}};
        ReaderLink link;
        if (link.open(ReaderLink::Transport::Hid, QFile::decodeName(d.path))) {
            if (const std::optional<QByteArray> reply = link.exchange(commandFrame(CmdGetStatus))) {
                if (const std::optional<QByteArray> version = decodeHidStatus(*reply).firmwareVersion)
                    reader.insert(QStringLiteral("firmware"), TextCodec::cStringToText(*version));
            }
        }
        list.append(reader);
    }
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts())
        list.append(QJsonObject{{QStringLiteral("kind"), QStringLiteral("serial")},
                                {QStringLiteral("path"), port.systemLocation()}});
    return list;
}

} // namespace

int listCommand(const Options &options, Io &io)
{
    QTextStream &out = io.out;
    if (options.json) {
        out << QJsonDocument(listJson()).toJson(QJsonDocument::Indented);
        return Success;
    }
    out << "USB HID readers (0416:f100):\n";
    const QList<HidDeviceInfo> readers = HidDevice::enumerate(ReaderLink::VendorId, ReaderLink::ProductId);
    for (const HidDeviceInfo &d : readers) {
        out << "  " << QFile::decodeName(d.path);
        if (!d.product.isEmpty())
            out << "  " << d.product;
        if (!d.serialNumber.isEmpty())
            out << "  serial " << d.serialNumber;
        out << '\n';
    }
    if (readers.isEmpty())
        out << "  (none)\n";

    out << "Serial ports:\n";
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports) {
        out << "  " << port.systemLocation();
        if (!port.description().isEmpty())
            out << "  " << port.description();
        out << '\n';
    }
    if (ports.isEmpty())
        out << "  (none)\n";
    return Success;
}

} // namespace Tavrinctl

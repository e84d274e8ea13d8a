#include "statusmessages.h"

#include "link/readerlink.h"

namespace StatusMessages {

QString notConnected()
{
    return QStringLiteral("Not connected");
}

QString connected(const ReaderLink &link)
{
    if (link.transport() == ReaderLink::Transport::Hid)
        return QStringLiteral("Connected over USB (%1)").arg(link.location());
    return QStringLiteral("Connected to %1").arg(link.location());
}

QString openFailed(const ReaderLink &link, bool usb)
{
    const QString path = link.failurePath();
    switch (link.failure()) {
    case ReaderLink::Failure::NoReader:
        return QStringLiteral("No USB reader found (vendor 0416, product f100): plug one in, or choose "
                              "Serial Port.");
    case ReaderLink::Failure::PermissionDenied:
        if (usb)
            return QStringLiteral("Permission denied on %1: install the udev rule 60-tavrin.rules (from the "
                                  "package or tools/linux/), then unplug the reader and plug it in again.")
                .arg(path);
        return QStringLiteral("Permission denied on %1: join the dialout group (sudo adduser $USER dialout), "
                              "then log out and in again.")
            .arg(path);
    case ReaderLink::Failure::Busy:
        return QStringLiteral("%1 is in use by another program: close it, then connect again.").arg(path);
    case ReaderLink::Failure::NoSuchPort:
        return QStringLiteral("No serial port %1: check the name; the field offers the ports present.").arg(path);
    case ReaderLink::Failure::None:
    case ReaderLink::Failure::NoReply:
    case ReaderLink::Failure::Other:
        break;
    }
    return QStringLiteral("Could not connect: %1").arg(link.errorString());
}

QString lost(const QString &reason)
{
    return QStringLiteral("The connection was lost (%1).").arg(reason);
}

QString unplugged()
{
    return QStringLiteral("The USB reader was unplugged.");
}

QString pluggedIn(const QString &node)
{
    return QStringLiteral("A USB reader was plugged in (%1): press Connect Device.").arg(node);
}

} // namespace StatusMessages

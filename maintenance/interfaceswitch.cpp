#include "interfaceswitch.h"

#include "link/commandframe.h"
#include "link/readerlink.h"
#include "maintenance/tracing.h"

#include <QDebug>

namespace Maintenance {

namespace {
constexpr int IspWriteAttempts = 3;
}

bool switchInterface(ReaderLink &link)
{
    if (!link.send(guardedFrame(CmdChangeMode)))
        return false;
    // A port closed right after the write may drop what it has not sent yet.
    link.drain();
    link.close();
    return true;
}

bool enterProgrammingMode(ReaderLink &link, QString *why)
{
    const QByteArray frame = guardedFrame(CmdIspMode);
    if (link.transport() == ReaderLink::Transport::Serial) {
        qCDebug(lcMaintenance, "serial_buf: %x %x", unsigned(quint8(frame[4])), unsigned(quint8(frame[5])));
        // The port is closed next; the frame must be on the line by then. A
        // reader that never got it is not waiting for the writer.
        if (link.send(frame) && link.drain())
            return true;
        if (why)
            *why = link.errorString();
        return false;
    }
    for (int attempt = 0; attempt < IspWriteAttempts; ++attempt) {
        if (link.send(frame))
            return true;
        // Without a reader there is nothing to try again.
        if (!link.isOpen())
            return false;
    }
    return false;
}

} // namespace Maintenance

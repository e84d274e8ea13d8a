#include "tracing.h"

#include <QByteArray>

Q_LOGGING_CATEGORY(lcLink, "tavrin.link", QtInfoMsg)
Q_LOGGING_CATEGORY(lcWire, "tavrin.wire", QtInfoMsg)

namespace WireTrace {

void trace(const char *transport, Direction direction, const QByteArray &bytes)
{
    // The hex is built only for a trace that is printed.
    if (!lcWire().isDebugEnabled())
        return;
    qCDebug(lcWire, "%s %s %d: %s", transport, direction == Direction::Sent ? "sent" : "received",
            int(bytes.size()), bytes.toHex(' ').constData());
}

} // namespace WireTrace

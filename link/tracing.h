#pragma once

#include <QLoggingCategory>

class QByteArray;

// The link's trace lines, category "tavrin.link": off unless asked for
// (tavrin --verbose, or QT_LOGGING_RULES="tavrin.*=true").
Q_DECLARE_LOGGING_CATEGORY(lcLink)

// Every frame or report sent to the reader and every reply taken from it,
// in hex, category "tavrin.wire": off unless asked for, as the others.
Q_DECLARE_LOGGING_CATEGORY(lcWire)

namespace WireTrace {

enum class Direction { Sent, Received };

// "usb sent 65: 00 1b 42 ...", "serial received 3: 31 42 54".
void trace(const char *transport, Direction direction, const QByteArray &bytes);

} // namespace WireTrace

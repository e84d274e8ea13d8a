#pragma once

class QString;
class ReaderLink;

// The two commands that hand the reader over to something else: its other
// interface, or the firmware writer.
namespace Maintenance {

// Tells the reader to switch to its other interface and, once the command is
// out, closes the link: the reader is no longer there the way it was
// reached. False, with the link still open, when the command did not go out.
bool switchInterface(ReaderLink &link);

// Tells the reader to enter its programming mode: up to three writes over
// USB; over serial one write, traced "serial_buf: aa 55", drained onto the
// line. False when no USB write went out, or the serial write or its drain
// failed: then the port's words in *why.
bool enterProgrammingMode(ReaderLink &link, QString *why = nullptr);

} // namespace Maintenance

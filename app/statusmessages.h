#pragma once

#include <QString>

class ReaderLink;

// The status bar's one line: the connection as it is, or what failed and
// what the user can do about it.
namespace StatusMessages {

QString notConnected();
// "Connected over USB (/dev/hidraw3)", "Connected to /dev/ttyUSB0".
QString connected(const ReaderLink &link);
// Why the connect over the chosen interface did not open, from the link's
// last failure.
QString openFailed(const ReaderLink &link, bool usb);
QString lost(const QString &reason);
QString unplugged();
QString pluggedIn(const QString &node);

} // namespace StatusMessages

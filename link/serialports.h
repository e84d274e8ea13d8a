#pragma once

#include <QString>
#include <QStringList>

// The serial ports present, as names a user can type: each port's system
// path, and the stable names under byIdDir (/dev/serial/by-id/...) that
// stay the same whichever order adapters are plugged in.
QStringList presentSerialPorts(const QString &byIdDir = QStringLiteral("/dev/serial/by-id"));

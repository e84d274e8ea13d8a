#pragma once

#include <QString>

class QSerialPort;

// Stand-ins for the few Windows interfaces the program was built around, so
// that one source tree runs on Linux and still builds on Windows.
namespace Platform {

// Blocks the calling thread, like Win32 Sleep.
void sleepMs(int milliseconds);

// The system name of the serial port the user typed. On Windows the text is
// used as it stands. Elsewhere "COMn" (any case, n >= 1) means /dev/ttyS(n-1)
// and any other text goes to the serial layer unchanged, which puts /dev/ in
// front of a bare name and takes a path as it is.
QString serialPortSystemName(const QString &typed);

// Where the port named name (as the serial layer takes it) lives: a bare
// device name stands for /dev/name outside Windows.
QString serialPortLocation(const QString &name);

// Waits until the bytes handed to the port's driver have gone out on the
// line (tcdrain, FlushFileBuffers); false when the port said it could not.
bool drainSerialPort(QSerialPort &port);

// Whether the user may not open path for reading and writing (the file is
// there, the permissions say no). Always false where nobody checks.
bool accessDenied(const QString &path);

// The firmware writer, started from the working directory.
QString firmwareWriterProgram();

} // namespace Platform

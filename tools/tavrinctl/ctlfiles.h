#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

class QIODevice;

// What tavrinctl takes from the system by name: the settings file and the
// serial port. Names stay the system's bytes all the way, so that a name
// that is not valid text is still found.
namespace CtlFiles {

// The file's bytes, at most limit of them and one more to tell a longer
// file; nothing, and why in *error, when it is not a regular file or cannot
// be read. A FIFO or a device is refused before it is opened: reading one
// may wait for ever or never end.
std::optional<QByteArray> readSettingsFile(const QByteArray &path, qsizetype limit, QString *error);
// The same from standard input, which may be anything: read up to the limit.
QByteArray readBounded(QIODevice &in, qsizetype limit);

// Puts bytes in the file at path through a temporary file in the same
// folder renamed over it: whatever was there stays whole until the new
// bytes are all on disk. False and why in *error otherwise.
bool replaceFile(const QByteArray &path, const QByteArray &bytes, QString *error);

// The path the serial layer opens for a typed port name (COM1 is
// /dev/ttyS0, a bare name lives in /dev).
QByteArray serialPortPath(const QByteArray &typed);

// Why the port at path is no serial port, when it plainly is none: a
// regular file, a folder, a device that is not a terminal. Nothing when it
// is one, or when it is not there or not ours to look at (opening it then
// says why). Checked without opening it for writing.
std::optional<QString> notASerialPort(const QByteArray &path);

// The name to hand the serial layer for path: path itself when it is valid
// text, else a link to it in linkDir, whose name is.
QString portNameFor(const QByteArray &path, const QString &linkDir);

} // namespace CtlFiles

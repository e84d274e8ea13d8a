#pragma once

#include <QByteArrayList>
#include <QStringList>

#include <functional>
#include <memory>

class DeviceEventSource;
class QIODevice;
class QTextStream;

// tavrinctl's commands, callable in-process so that tests can run them
// against the simulated reader. Returns the exit code: 0 success, 1 reader
// or I/O failure, 2 usage or input error; diff: 3 when something would
// change.
namespace Tavrinctl {

enum Exit { Success = 0, ReaderFailure = 1, UsageError = 2, WouldChange = 3 };

// arguments without the program name, as the system gave them: file and
// port names keep their bytes, whatever the locale makes of them.
int run(const QByteArrayList &arguments, QTextStream &out, QTextStream &err, QIODevice &in);
// The same from text.
int run(const QStringList &arguments, QTextStream &out, QTextStream &err, QIODevice &in);

// Where `apply --watch` hears of readers plugged in: the system's udev
// unless told otherwise (a test's own events). An empty function restores
// udev.
void setDeviceEvents(std::function<std::unique_ptr<DeviceEventSource>()> source);

} // namespace Tavrinctl

#pragma once

#include <QByteArrayList>
#include <QStringList>

class QIODevice;
class QTextStream;

// tavrinctl's commands, callable in-process so that tests can run them
// against the simulated reader. Returns the exit code: 0 success, 1 reader
// or I/O failure, 2 usage or input error.
namespace Tavrinctl {

enum Exit { Success = 0, ReaderFailure = 1, UsageError = 2 };

// arguments without the program name, as the system gave them: file and
// port names keep their bytes, whatever the locale makes of them.
int run(const QByteArrayList &arguments, QTextStream &out, QTextStream &err, QIODevice &in);
// The same from text.
int run(const QStringList &arguments, QTextStream &out, QTextStream &err, QIODevice &in);

} // namespace Tavrinctl

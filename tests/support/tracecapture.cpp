#include "tracecapture.h"

#include "support/traces.h"

#include <QMutex>

namespace {
QMutex mutex;
QStringList captured;

void collect(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // The program's own lines, not the bytes on the wire beside them.
    if (type != QtDebugMsg || qstrcmp(context.category, "tavrin.wire") == 0)
        return;
    QMutexLocker lock(&mutex);
    captured.append(message);
}
} // namespace

TraceCapture::TraceCapture()
{
    clear();
    enableTraces();
    previous = qInstallMessageHandler(collect);
}

TraceCapture::~TraceCapture()
{
    qInstallMessageHandler(previous);
}

QStringList TraceCapture::lines() const
{
    QMutexLocker lock(&mutex);
    return captured;
}

void TraceCapture::clear()
{
    QMutexLocker lock(&mutex);
    captured.clear();
}

QStringList TraceCapture::startingWith(const QString &prefix) const
{
    QStringList out;
    for (const QString &line : lines())
        if (line.startsWith(prefix))
            out.append(line);
    return out;
}

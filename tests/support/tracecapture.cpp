#include "tracecapture.h"

#include "support/traces.h"

#include <QMutex>

namespace {
QMutex mutex;
QStringList captured;

void collect(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
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

#include "platform.h"

#include <QRegularExpression>
#include <QThread>

namespace Platform {

void sleepMs(int milliseconds)
{
    if (milliseconds > 0)
        QThread::msleep(static_cast<unsigned long>(milliseconds));
}

QString serialPortSystemName(const QString &typed)
{
#ifdef Q_OS_WIN
    return typed;
#else
    static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]{0,2})$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = com.match(typed);
    if (m.hasMatch())
        return QStringLiteral("/dev/ttyS%1").arg(m.captured(1).toInt() - 1);
    return typed;
#endif
}

QString firmwareWriterProgram()
{
#ifdef Q_OS_WIN
    return QStringLiteral(".\\tolmarwriter.exe");
#else
    return QStringLiteral("./tolmarwriter");
#endif
}

} // namespace Platform

#include "platform.h"

#include <QRegularExpression>
#include <QSerialPort>
#include <QThread>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

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

QString serialPortLocation(const QString &name)
{
#ifdef Q_OS_WIN
    return name;
#else
    return name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
#endif
}

bool drainSerialPort(QSerialPort &port)
{
    if (!port.isOpen())
        return false;
#ifdef Q_OS_WIN
    return FlushFileBuffers(port.handle()) != 0;
#else
    return tcdrain(port.handle()) == 0;
#endif
}

bool accessDenied(const QString &path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return false;
#else
    // As the process opens files now: with its effective ids.
    const QByteArray name = path.toLocal8Bit();
    return faccessat(AT_FDCWD, name.constData(), R_OK | W_OK, AT_EACCESS) != 0 && (errno == EACCES || errno == EPERM);
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

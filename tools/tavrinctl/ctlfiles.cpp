#include "ctlfiles.h"

#include "link/platform.h"
#include "link/safefile.h"

#include <QDir>
#include <QFile>
#include <QIODevice>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace CtlFiles {

bool replaceFile(const QByteArray &path, const QByteArray &bytes, QString *error)
{
    return SafeFile::replace(path, bytes, error);
}

QByteArray readBounded(QIODevice &in, qsizetype limit)
{
    QByteArray bytes;
    while (bytes.size() <= limit) {
        const QByteArray chunk = in.read(limit + 1 - bytes.size());
        if (chunk.isEmpty())
            break;
        bytes += chunk;
    }
    return bytes;
}

#ifdef Q_OS_UNIX

std::optional<QByteArray> readSettingsFile(const QByteArray &path, qsizetype limit, QString *error)
{
    struct stat info {};
    if (stat(path.constData(), &info) != 0) {
        *error = QString::fromLocal8Bit(strerror(errno));
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = S_ISDIR(info.st_mode) ? QStringLiteral("it is a folder") : QStringLiteral("not a regular file");
        return std::nullopt;
    }
    const int fd = ::open(path.constData(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(strerror(errno));
        return std::nullopt;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        *error = file.errorString();
        return std::nullopt;
    }
    return readBounded(file, limit);
}

std::optional<QString> notASerialPort(const QByteArray &path)
{
    struct stat info {};
    if (stat(path.constData(), &info) != 0)
        return std::nullopt;
    if (S_ISDIR(info.st_mode))
        return QStringLiteral("it is a folder");
    if (!S_ISCHR(info.st_mode))
        return QStringLiteral("it is not a device");
    // A look without writing: a terminal answers isatty, /dev/null does not.
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    const bool terminal = isatty(fd);
    ::close(fd);
    if (!terminal)
        return QStringLiteral("it is not a terminal device");
    return std::nullopt;
}

QString portNameFor(const QByteArray &path, const QString &linkDir)
{
    QString name = QFile::decodeName(path);
    if (QFile::encodeName(name) == path)
        return name;
    QString link = QDir(linkDir).filePath(QStringLiteral("port"));
    if (symlink(path.constData(), QFile::encodeName(link).constData()) != 0)
        return name;
    return link;
}

#else

std::optional<QByteArray> readSettingsFile(const QByteArray &path, qsizetype limit, QString *error)
{
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return std::nullopt;
    }
    return readBounded(file, limit);
}

std::optional<QString> notASerialPort(const QByteArray &)
{
    return std::nullopt;
}

QString portNameFor(const QByteArray &path, const QString &)
{
    return QFile::decodeName(path);
}

#endif

QByteArray serialPortPath(const QByteArray &typed)
{
    const QString name = QFile::decodeName(typed);
    if (QFile::encodeName(name) == typed)
        return QFile::encodeName(Platform::serialPortLocation(Platform::serialPortSystemName(name)));
    // Not valid text, so no COMn: a bare name lives in /dev.
    return typed.contains('/') ? typed : "/dev/" + typed;
}

} // namespace CtlFiles

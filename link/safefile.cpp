#include "safefile.h"

#include <QFile>
#include <QRandomGenerator>

#ifdef Q_OS_WIN
#include <QSaveFile>
#else
#include <cerrno>
#include <cstdlib> // realpath
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

SafeFile::SafeFile(QByteArray path, Links links)
    : m_path(std::move(path))
    , m_links(links)
{
}

SafeFile::SafeFile(const QString &path, Links links)
    : SafeFile(QFile::encodeName(path), links)
{
}

SafeFile::~SafeFile()
{
    discard();
}

bool SafeFile::fail(const QString &why)
{
    if (m_error.isEmpty())
        m_error = why;
    discard();
    return false;
}

bool SafeFile::replace(const QByteArray &path, const QByteArray &bytes, QString *error, Links links)
{
    SafeFile file(path, links);
    if (file.open() && file.write(bytes) && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

bool SafeFile::replace(const QString &path, const QByteArray &bytes, QString *error, Links links)
{
    return replace(QFile::encodeName(path), bytes, error, links);
}

#ifdef Q_OS_WIN

// Windows keeps QSaveFile, each step checked; the bytes wait in memory.
void SafeFile::discard()
{
    m_buffer.clear();
}

bool SafeFile::open()
{
    m_error.clear();
    m_fd = 0;
    return true;
}

bool SafeFile::write(const QByteArray &bytes)
{
    m_buffer += bytes;
    return true;
}

bool SafeFile::commit()
{
    QSaveFile file(QFile::decodeName(m_path));
    if (file.open(QIODevice::WriteOnly) && file.write(m_buffer) == m_buffer.size() && file.flush() && file.commit())
        return true;
    const QString why = file.errorString();
    file.cancelWriting();
    return fail(why);
}

#else

namespace {

QString systemError(int error = errno)
{
    return QString::fromLocal8Bit(strerror(error));
}

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

} // namespace

void SafeFile::discard()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_temp.isEmpty())
        ::unlink(m_temp.constData());
    m_temp.clear();
}

bool SafeFile::open()
{
    m_error.clear();
    m_target = m_path;
    struct stat info {};
    const bool exists = ::lstat(m_path.constData(), &info) == 0;
    if (exists && S_ISLNK(info.st_mode)) {
        if (m_links == RefuseLinks)
            return fail(QStringLiteral("it is a symbolic link"));
        if (char *resolved = ::realpath(m_path.constData(), nullptr)) {
            m_target = resolved;
            std::free(resolved);
        }
    }
    struct stat old {};
    const bool replacing = ::stat(m_target.constData(), &old) == 0;
    if (replacing && !S_ISREG(old.st_mode))
        return fail(S_ISDIR(old.st_mode) ? QStringLiteral("it is a folder") : QStringLiteral("not a regular file"));

    const QByteArray folder = folderOf(m_target);
    const QByteArray base = m_target.mid(m_target.lastIndexOf('/') + 1);
    // A name no one else uses; O_EXCL makes sure, and the mode given here is
    // cut by the umask as for any new file.
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_temp = folder + "/." + base + '.' + QByteArray::number(::getpid()) + '.' +
                 QByteArray::number(QRandomGenerator::global()->generate()) + ".tmp";
        m_fd = ::open(m_temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (m_fd >= 0 || errno != EEXIST)
            break;
    }
    if (m_fd < 0) {
        const int error = errno;
        m_temp.clear();
        return fail(systemError(error));
    }
    // The new file keeps the old one's permissions.
    if (replacing && ::fchmod(m_fd, old.st_mode & 07777) != 0)
        return fail(systemError());
    return true;
}

bool SafeFile::write(const QByteArray &bytes)
{
    if (m_fd < 0)
        return fail(m_error.isEmpty() ? QStringLiteral("the file is not open") : m_error);
    const char *at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, at, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(n < 0 ? systemError() : systemError(ENOSPC));
        at += n;
        left -= n;
    }
    return true;
}

bool SafeFile::commit()
{
    if (m_fd < 0)
        return fail(m_error.isEmpty() ? QStringLiteral("the file is not open") : m_error);
    if (::fsync(m_fd) != 0)
        return fail(systemError());
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        return fail(systemError());
    if (::rename(m_temp.constData(), m_target.constData()) != 0)
        return fail(systemError());
    m_temp.clear();
    // The rename itself reaches the disk with the folder.
    const int folder = ::open(folderOf(m_target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = folder >= 0 && ::fsync(folder) == 0;
    const int error = errno;
    if (folder >= 0)
        ::close(folder);
    if (!synced)
        return fail(systemError(error));
    return true;
}

#endif

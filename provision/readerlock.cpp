#include "readerlock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

QString ReaderLock::folder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime))
        return runtime + QStringLiteral("/tavrin");
    return QDir::tempPath() + QStringLiteral("/tavrin-%1").arg(::getuid());
}

ReaderLock::ReaderLock(const ReaderIdentity &reader)
{
    const QString where = folder();
    // Only the user's own: another user's lock folder would let them hold
    // our readers.
    const QByteArray folderName = QFile::encodeName(where);
    QDir().mkpath(QFileInfo(where).absolutePath());
    if (::mkdir(folderName.constData(), 0700) != 0 && errno != EEXIST)
        return;
    struct stat info {};
    if (::lstat(folderName.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
        return;
    // The identity may be a path: its hash names the file.
    const QByteArray name =
        QCryptographicHash::hash(QByteArray::number(int(reader.basis)) + ':' + reader.id.toUtf8(),
                                 QCryptographicHash::Sha1)
            .toHex();
    m_fd = ::open(QFile::encodeName(where + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".lock")).constData(),
                  O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
    if (m_fd < 0)
        return;
    int locked = 0;
    while ((locked = ::flock(m_fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (locked == 0) {
        const QByteArray pid = QByteArray::number(::getpid()) + '\n';
        if (::ftruncate(m_fd, 0) == 0)
            static_cast<void>(::pwrite(m_fd, pid.constData(), static_cast<size_t>(pid.size()), 0));
        return;
    }
    if (errno != EWOULDBLOCK) {
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    // The holder writes its PID just after it takes the lock: a moment's
    // wait for it.
    qint64 holder = 0;
    for (int attempt = 0; attempt < 20 && holder <= 0; ++attempt) {
        char text[32] = {};
        const ssize_t n = ::pread(m_fd, text, sizeof text - 1, 0);
        holder = n > 0 ? QByteArray(text, int(n)).trimmed().toLongLong() : 0;
        if (holder <= 0)
            ::usleep(5000);
    }
    ::close(m_fd);
    m_fd = -1;
    m_busy = true;
    m_refusal = holder > 0 ? QStringLiteral("%1 is being written by another process (PID %2)").arg(reader.id).arg(holder)
                           : QStringLiteral("%1 is being written by another process").arg(reader.id);
}

ReaderLock::~ReaderLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

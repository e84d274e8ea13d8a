#pragma once

#include <QByteArray>
#include <QString>

// A file replaced whole or not at all: the new bytes go to a temporary file
// beside it, every write checked, flushed and synced, and only then renamed
// over the old one. Any failure leaves the old file as it was and says why.
// (QSaveFile is not enough: on a full disk it may rename a short file over a
// good one.)
class SafeFile
{
public:
    enum Links { FollowLinks, RefuseLinks };

    // path in the system's bytes. FollowLinks replaces the file a symbolic
    // link at path names, as an editor would; RefuseLinks refuses one.
    explicit SafeFile(QByteArray path, Links links = FollowLinks);
    explicit SafeFile(const QString &path, Links links = FollowLinks);
    ~SafeFile(); // removes the temporary file unless committed
    SafeFile(const SafeFile &) = delete;
    SafeFile &operator=(const SafeFile &) = delete;

    bool open();
    // False once any write has failed; later writes are not tried.
    bool write(const QByteArray &bytes);
    // Syncs, renames over the old file and syncs its folder.
    bool commit();
    // Why the last step failed, in the system's words.
    QString errorString() const { return m_error; }

    // All of it in one call; false and why in *error.
    static bool replace(const QByteArray &path, const QByteArray &bytes, QString *error, Links links = FollowLinks);
    static bool replace(const QString &path, const QByteArray &bytes, QString *error, Links links = FollowLinks);

private:
    bool fail(const QString &why);
    void discard();

    QByteArray m_path;
    QByteArray m_target;
    QByteArray m_temp;
    Links m_links;
    int m_fd = -1;
    QString m_error;
#ifdef Q_OS_WIN
    QByteArray m_buffer;
#endif
};

#include "history.h"

#include "link/safefile.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMutexLocker>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A line longer than this is damage: it is never held whole.
constexpr qsizetype LongestLine = 1024 * 1024;

std::optional<ProvisionRecord> recordOf(const QByteArray &line)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    return doc.isObject() ? ProvisionRecord::fromJson(doc.object()) : std::nullopt;
}

QString systemError(int error = errno)
{
    return QString::fromLocal8Bit(strerror(error));
}

// The history opened without following a symbolic link and without waiting
// on a FIFO: anything but a regular file is refused, with the reason. -1
// and *error empty when there is nothing at path.
int openHistory(const QString &path, int flags, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(name.constData(), &info) == 0) {
        if (S_ISLNK(info.st_mode)) {
            *error = QStringLiteral("it is a symbolic link; the history is kept only in a regular file");
            return -1;
        }
        if (!S_ISREG(info.st_mode)) {
            *error = QStringLiteral("it is not a regular file");
            return -1;
        }
    }
    const int fd = ::open(name.constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = errno == ENOENT ? QString() : systemError();
        return -1;
    }
    // Swapped for something else since the look above.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        *error = QStringLiteral("it is not a regular file");
        return -1;
    }
    return fd;
}

// Every process that appends to or trims the history holds this: a lock
// file beside it, so that the trim's rename never loses a line another
// process appended.
class HistoryLock
{
public:
    explicit HistoryLock(const QString &path)
    {
        m_fd = ::open(QFile::encodeName(path + QStringLiteral(".lock")).constData(),
                      O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
        if (m_fd < 0) {
            m_error = systemError();
            return;
        }
        while (::flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                m_error = systemError();
                ::close(m_fd);
                m_fd = -1;
                return;
            }
        }
    }
    ~HistoryLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    HistoryLock(const HistoryLock &) = delete;
    HistoryLock &operator=(const HistoryLock &) = delete;
    bool held() const { return m_fd >= 0; }
    QString errorString() const { return m_error; }

private:
    int m_fd = -1;
    QString m_error;
};

// What eachLine hands over.
enum class Piece {
    Line,     // a whole line, its newline cut off
    Part,     // a piece of a line too long to hold, more to come
    LastPart, // its last piece; a newline follows in the file
    Torn,     // what follows the last newline: a line never finished
};

// Streams the file at fd line by line in bounded memory. False, and why in
// *error, when reading fails.
bool eachLine(int fd, const std::function<void(const QByteArray &, Piece)> &each, QString *error)
{
    QByteArray pending;
    bool inLongLine = false;
    QByteArray chunk(64 * 1024, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(fd, chunk.data(), static_cast<size_t>(chunk.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *error = systemError();
            return false;
        }
        if (n == 0)
            break;
        pending.append(chunk.constData(), n);
        qsizetype from = 0;
        for (qsizetype newline = pending.indexOf('\n'); newline >= 0; newline = pending.indexOf('\n', from)) {
            each(pending.mid(from, newline - from), inLongLine ? Piece::LastPart : Piece::Line);
            inLongLine = false;
            from = newline + 1;
        }
        pending.remove(0, from);
        if (pending.size() > LongestLine) {
            each(pending, Piece::Part);
            pending.clear();
            inLongLine = true;
        }
    }
    if (!pending.isEmpty() || inLongLine)
        each(pending, inLongLine ? Piece::LastPart : Piece::Torn);
    return true;
}

// The lines of one write merged: the first line's reader and before, the
// latest line's outcome.
QList<ProvisionRecord> merged(const QList<ProvisionRecord> &records)
{
    QList<ProvisionRecord> entries;
    QHash<QString, qsizetype> at;
    for (const ProvisionRecord &r : records) {
        const auto found = at.constFind(r.entryId);
        if (found == at.constEnd()) {
            at.insert(r.entryId, entries.size());
            entries.append(r);
            continue;
        }
        ProvisionRecord &entry = entries[*found];
        entry.result = r.result;
        entry.reason = r.reason;
        // An outcome without `written` closes a write that sent nothing.
        if (r.written || r.result != ProvisionResult::Pending)
            entry.written = r.written;
        if (!entry.before)
            entry.before = r.before;
    }
    return entries;
}

} // namespace

QString History::defaultPath()
{
    // Only an absolute path counts; a relative one is to be ignored.
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/tavrin/history.jsonl");
}

History::History(QString path, qint64 maxBytes)
    : m_path(std::move(path))
    , m_maxBytes(maxBytes)
{
}

bool History::append(const ProvisionRecord &record, QString *error)
{
    const auto failed = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(m_path, why);
        return false;
    };
    QByteArray line = QJsonDocument(record.toJson()).toJson(QJsonDocument::Compact) + '\n';
    const QFileInfo info(m_path);
    int fd = -1;
    bool created = false;
    {
        const QMutexLocker locked(&m_mutex);
        if (!QDir().mkpath(info.absolutePath()))
            return failed(QStringLiteral("cannot make the folder %1").arg(info.absolutePath()));
        const HistoryLock lock(m_path);
        if (!lock.held())
            return failed(lock.errorString());
        QString why;
        created = !info.exists();
        fd = openHistory(m_path, O_RDWR | O_APPEND | O_CREAT, &why);
        if (fd < 0)
            return failed(why.isEmpty() ? QStringLiteral("cannot create it") : why);
        // A line torn by a crash stays damaged, but must not swallow this one.
        char last = '\n';
        const off_t end = ::lseek(fd, 0, SEEK_END);
        if (end > 0 && ::pread(fd, &last, 1, end - 1) == 1 && last != '\n')
            line.prepend('\n');
        const ssize_t n = ::write(fd, line.constData(), static_cast<size_t>(line.size()));
        if (n != line.size()) {
            const int writeError = n < 0 ? errno : ENOSPC;
            // A line cut short is damage the next line must not join.
            if (n > 0 && ::ftruncate(fd, end) != 0)
                static_cast<void>(::write(fd, "\n", 1));
            ::close(fd);
            return failed(systemError(writeError));
        }
    }
    // Each writer waits for its own line to reach the disk; the others need
    // not wait in line behind it (the file system joins their syncs). A trim
    // in between has synced its copy of the line before its rename.
    const bool synced = ::fsync(fd) == 0;
    const int syncError = errno;
    struct stat stats {};
    const qint64 size = ::fstat(fd, &stats) == 0 ? stats.st_size : 0;
    ::close(fd);
    if (!synced)
        return failed(systemError(syncError));
    if (created) {
        const int folder = ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const bool folderSynced = folder >= 0 && ::fsync(folder) == 0;
        if (folder >= 0)
            ::close(folder);
        if (!folderSynced)
            return failed(QStringLiteral("the folder could not be synced"));
    }
    if (size <= m_maxBytes)
        return true;
    // The line is in; a trim that fails is tried again at the next append,
    // and stops no write.
    const QMutexLocker locked(&m_mutex);
    QString why;
    if (!trim(&why))
        qWarning("%s", qPrintable(QStringLiteral("The history could not be trimmed (%1).").arg(why)));
    return true;
}

bool History::trim(QString *error)
{
    const auto failed = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(m_path, why);
        return false;
    };
    const HistoryLock lock(m_path);
    if (!lock.held())
        return failed(lock.errorString());
    // Read again under the lock: another process may have appended, or
    // trimmed already.
    QString why;
    const int fd = openHistory(m_path, O_RDONLY, &why);
    if (fd < 0)
        return why.isEmpty() || failed(why);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_size <= m_maxBytes) {
        ::close(fd);
        return true;
    }
    // Whole entries go, oldest first: those that began before the last
    // three quarters of the cap (the file is then not rewritten at every
    // append), with their later lines. Lines that are no record stay: what
    // they held is not this program's to throw away.
    const qint64 cut = info.st_size - m_maxBytes / 4 * 3;
    SafeFile out(m_path, SafeFile::RefuseLinks);
    bool written = out.open();
    QSet<QString> keptEntries;
    qint64 at = 0;
    const bool complete = written && eachLine(fd, [&](const QByteArray &bytes, Piece piece) {
        const qint64 lineStart = at;
        at += bytes.size() + (piece == Piece::Line || piece == Piece::LastPart ? 1 : 0);
        if (!written)
            return;
        if (piece == Piece::Line) {
            if (const std::optional<ProvisionRecord> record = recordOf(bytes)) {
                if (lineStart >= cut)
                    keptEntries.insert(record->entryId);
                if (!keptEntries.contains(record->entryId))
                    return;
            } else if (bytes.trimmed().isEmpty()) {
                return;
            }
        }
        written = out.write(piece == Piece::Part ? bytes : bytes + '\n');
    }, &why);
    ::close(fd);
    if (!complete)
        return failed(why.isEmpty() ? out.errorString() : why);
    if (!written || !out.commit())
        return failed(out.errorString());
    return true;
}

History::Listing History::read() const
{
    Listing listing;
    QString why;
    const int fd = openHistory(m_path, O_RDONLY, &why);
    if (fd < 0) {
        if (!why.isEmpty()) {
            listing.reason = why;
            listing.error = QStringLiteral("%1: %2").arg(m_path, why);
        }
        return listing;
    }
    // A file far past the cap (a trim that could not run, a file from
    // elsewhere) is read from where the cap would have left it: the listing
    // stays as small as the file is meant to be, and the entries left out
    // are those the next write's trim drops.
    struct stat info {};
    bool skipFirst = false;
    if (::fstat(fd, &info) == 0 && info.st_size > 2 * m_maxBytes) {
        skipFirst = ::lseek(fd, info.st_size - m_maxBytes, SEEK_SET) > 0;
    }
    QList<ProvisionRecord> records;
    const bool complete = eachLine(fd, [&](const QByteArray &bytes, Piece piece) {
        // The line the seek landed in the middle of.
        if (skipFirst) {
            skipFirst = piece == Piece::Part;
            return;
        }
        if (piece == Piece::Part)
            return;
        if (piece != Piece::Line) {
            ++listing.damagedLines;
            return;
        }
        if (bytes.trimmed().isEmpty())
            return;
        if (std::optional<ProvisionRecord> record = recordOf(bytes))
            records.append(std::move(*record));
        else
            ++listing.damagedLines;
    }, &why);
    ::close(fd);
    if (!complete) {
        listing.reason = why;
        listing.error = QStringLiteral("%1: %2").arg(m_path, why);
    }
    listing.entries = merged(records);
    return listing;
}

std::optional<ProvisionRecord> History::newestFor(const ReaderIdentity &reader, int *damagedLines,
                                                  QString *error) const
{
    const Listing listing = read();
    if (damagedLines)
        *damagedLines = listing.damagedLines;
    if (error)
        *error = listing.reason;
    return entryToUndo(listing.entries, reader);
}

std::optional<ProvisionRecord> entryToUndo(const QList<ProvisionRecord> &entries, const ReaderIdentity &reader)
{
    QSet<QString> takenBack;
    for (auto it = entries.crbegin(); it != entries.crend(); ++it) {
        if (!it->isOf(reader))
            continue;
        if (!it->undoes.isEmpty()) {
            // A pending or failed undo may have left the reader anywhere
            // between: the entry it meant to take back is still to be.
            const bool done = it->result == ProvisionResult::Confirmed || it->result == ProvisionResult::AlreadySet
                || it->result == ProvisionResult::Unconfirmed;
            if (done)
                takenBack.insert(it->undoes);
            continue;
        }
        if (!takenBack.contains(it->entryId) && it->changedReader())
            return *it;
    }
    return std::nullopt;
}

QList<RunUndo> runToUndo(const QList<ProvisionRecord> &entries, const QString &runId)
{
    QList<RunUndo> readers;
    if (runId.isEmpty())
        return readers;
    QHash<QString, qsizetype> at; // entryId -> place in entries
    for (qsizetype i = 0; i < entries.size(); ++i)
        at.insert(entries[i].entryId, i);
    for (qsizetype i = entries.size() - 1; i >= 0; --i) {
        const ProvisionRecord &e = entries[i];
        if (e.runId != runId || !e.undoes.isEmpty() || !e.changedReader())
            continue;
        const bool seen = std::any_of(readers.cbegin(), readers.cend(),
                                      [&e](const RunUndo &r) { return r.entry.reader == e.reader; });
        if (seen)
            continue;
        RunUndo undo{e, RunUndo::State::Ready, std::nullopt};
        const std::optional<ProvisionRecord> top = entryToUndo(entries, e.reader);
        if (!top || at.value(top->entryId) < i) {
            undo.state = RunUndo::State::Undone;
        } else if (top->entryId != e.entryId) {
            undo.state = RunUndo::State::WrittenSince;
            undo.newer = top;
        }
        readers.prepend(undo);
    }
    return readers;
}

QString History::runNamed(const QList<ProvisionRecord> &entries, const QString &prefix)
{
    QString found;
    for (auto it = entries.crbegin(); it != entries.crend(); ++it) {
        if (it->runId.isEmpty() || !it->undoes.isEmpty() || !it->runId.startsWith(prefix))
            continue;
        if (prefix.isEmpty()) {
            // Runs taken back whole are passed over, as single writes are:
            // a second undo of the newest run goes to the one before.
            if (found.isEmpty())
                found = it->runId;
            const QList<RunUndo> readers = runToUndo(entries, it->runId);
            const bool left = std::any_of(readers.cbegin(), readers.cend(),
                                          [](const RunUndo &r) { return r.state != RunUndo::State::Undone; });
            if (left)
                return it->runId;
            continue;
        }
        if (!found.isEmpty() && found != it->runId)
            return QString();
        found = it->runId;
    }
    return found;
}

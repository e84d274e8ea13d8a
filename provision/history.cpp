#include "history.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMutexLocker>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The records of the file, one per line, in the order they were written;
// damaged ones counted instead.
struct Lines
{
    QList<ProvisionRecord> records;
    QByteArrayList raw; // each record's line as it stands in the file
    int damaged = 0;
};

Lines parse(const QByteArray &content)
{
    Lines lines;
    QByteArrayList all = content.split('\n');
    // The piece after the last newline: empty, or a line the writer never
    // finished.
    const QByteArray tail = all.takeLast();
    if (!tail.trimmed().isEmpty())
        ++lines.damaged;
    for (const QByteArray &line : all) {
        if (line.trimmed().isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        const std::optional<ProvisionRecord> record =
            doc.isObject() ? ProvisionRecord::fromJson(doc.object()) : std::nullopt;
        if (!record) {
            ++lines.damaged;
            continue;
        }
        lines.records.append(*record);
        lines.raw.append(line);
    }
    return lines;
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

bool syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
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
    QFile file(m_path);
    bool created = false;
    {
        const QMutexLocker locked(&m_mutex);
        if (!QDir().mkpath(info.absolutePath()))
            return failed(QStringLiteral("cannot make the folder %1").arg(info.absolutePath()));
        created = !info.exists();
        if (!file.open(QIODevice::ReadWrite | QIODevice::Append))
            return failed(file.errorString());
        // A line torn by a crash stays damaged, but must not swallow this one.
        if (file.size() > 0) {
            char last = '\n';
            if (file.seek(file.size() - 1) && file.getChar(&last) && last != '\n')
                line.prepend('\n');
        }
        if (file.write(line) != line.size() || !file.flush())
            return failed(file.errorString());
    }
    // Each writer waits for its own line to reach the disk; the others need
    // not wait in line behind it (the file system joins their syncs).
    if (::fsync(file.handle()) != 0)
        return failed(QString::fromLocal8Bit(strerror(errno)));
    const qint64 size = file.size();
    file.close();
    if (created && !syncFolder(info.absolutePath()))
        return failed(QStringLiteral("the folder could not be synced"));
    if (size <= m_maxBytes)
        return true;
    const QMutexLocker locked(&m_mutex);
    return trim(error);
}

bool History::trim(QString *error)
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return true; // the next append says why
    const Lines lines = parse(file.readAll());
    file.close();

    // Whole entries go, oldest first, until what is kept fits in three
    // quarters of the cap: the file is then not rewritten at every append.
    QHash<QString, qint64> entryBytes;
    QStringList order;
    for (qsizetype i = 0; i < lines.records.size(); ++i) {
        const QString &id = lines.records[i].entryId;
        if (!entryBytes.contains(id))
            order.append(id);
        entryBytes[id] += lines.raw[i].size() + 1;
    }
    qint64 kept = 0;
    for (const qint64 bytes : entryBytes)
        kept += bytes;
    QSet<QString> dropped;
    const qint64 goal = m_maxBytes / 4 * 3;
    // The newest entry stays whatever its size: it is the one just written.
    for (qsizetype i = 0; i + 1 < order.size() && kept > goal; ++i) {
        dropped.insert(order[i]);
        kept -= entryBytes.value(order[i]);
    }

    QSaveFile out(m_path);
    if (!out.open(QIODevice::WriteOnly)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(m_path, out.errorString());
        return false;
    }
    for (qsizetype i = 0; i < lines.records.size(); ++i) {
        if (!dropped.contains(lines.records[i].entryId))
            out.write(lines.raw[i] + '\n');
    }
    if (!out.commit()) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(m_path, out.errorString());
        return false;
    }
    return true;
}

History::Listing History::read() const
{
    const QMutexLocker locked(&m_mutex);
    Listing listing;
    QFile file(m_path);
    if (!file.exists())
        return listing;
    if (!file.open(QIODevice::ReadOnly)) {
        listing.reason = file.errorString();
        listing.error = QStringLiteral("%1: %2").arg(m_path, listing.reason);
        return listing;
    }
    const Lines lines = parse(file.readAll());
    listing.entries = merged(lines.records);
    listing.damagedLines = lines.damaged;
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

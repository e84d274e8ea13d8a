#pragma once

#include "provision/readerrecord.h"

#include <QList>
#include <QMutex>
#include <QString>

#include <optional>

// The entry an undo of reader takes, from entries oldest first: the newest
// that changed the reader and that no undo since has taken back. An undo is
// never taken itself, so undoing again steps further back, as a stack; an
// undo that failed took nothing back. The window and tavrinctl both ask this.
std::optional<ProvisionRecord> entryToUndo(const QList<ProvisionRecord> &entries, const ReaderIdentity &reader);

// What undoing a bench run means for one reader the run wrote to.
struct RunUndo
{
    ProvisionRecord entry; // the run's last write that changed the reader
    enum class State {
        Ready,        // it is what an undo of the reader takes now
        WrittenSince, // a later write stands over it: undo that first
        Undone,       // taken back already
    } state = State::Ready;
    std::optional<ProvisionRecord> newer; // with WrittenSince
};
// One per reader of the run, in the order they were written.
QList<RunUndo> runToUndo(const QList<ProvisionRecord> &entries, const QString &runId);

// Every write's record, kept so that whatever a reader held before a write
// can be had back: one append-only JSON Lines file. A write appends its
// entry with `before` (result "pending") and waits for it to reach the disk
// before the first frame goes out; once the read-back is done a second line
// with the same entryId carries the outcome. A process killed in between
// leaves the pending line, and with it the reader's old settings.
class History
{
public:
    // $XDG_STATE_HOME/tavrin/history.jsonl, ~/.local/state/tavrin/... when
    // the variable is unset, empty or not an absolute path.
    static QString defaultPath();
    // Entries are dropped, oldest first, to keep the file below this.
    static constexpr qint64 MaxBytes = 10 * 1024 * 1024;

    // maxBytes other than MaxBytes: for trying the cap on a small file.
    explicit History(QString path = defaultPath(), qint64 maxBytes = MaxBytes);
    QString path() const { return m_path; }

    // Appends record as one line, flushed and fsync'ed before it returns;
    // makes the folder when missing. False with the system's words in
    // *error when the line may not be on disk, or the file is a symbolic
    // link or no regular file. Safe from several threads and processes:
    // appends and the trim take one lock, a file beside the history. A trim
    // that fails is tried again at the next append and fails no append.
    bool append(const ProvisionRecord &record, QString *error = nullptr);

    struct Listing
    {
        // One per entryId, its lines merged (the latest result wins), oldest
        // first.
        QList<ProvisionRecord> entries;
        // Lines skipped: not JSON, not a record, or a torn last line.
        int damagedLines = 0;
        // Why the file could not be read at all (it may simply not exist:
        // then empty and entries empty): the path and the system's words,
        // and the system's words alone.
        QString error;
        QString reason;
    };
    // Streams the file; one far past the cap is read from where the cap
    // would have left it, so that no file makes the listing outgrow it.
    Listing read() const;

    // The entry an undo of that reader takes (entryToUndo); nothing, and
    // the system's words in *error, when the file cannot be read.
    std::optional<ProvisionRecord> newestFor(const ReaderIdentity &reader, int *damagedLines = nullptr,
                                             QString *error = nullptr) const;

    // The bench run an undo of a whole run takes: the newest run in entries
    // with a write not yet taken back (else the newest run), or the one
    // whose id starts with prefix; empty when there is none (or prefix names
    // more than one).
    static QString runNamed(const QList<ProvisionRecord> &entries, const QString &prefix = QString());

private:
    // Rewrites the file without its oldest entries (lines that are no
    // record stay), through a temporary file renamed over it, when it has
    // grown past MaxBytes; read again under the lock.
    bool trim(QString *error);

    QString m_path;
    qint64 m_maxBytes;
    mutable QMutex m_mutex;
};

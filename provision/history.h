#pragma once

#include "provision/readerrecord.h"

#include <QList>
#include <QMutex>
#include <QString>

#include <optional>

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
        // then empty and entries empty).
        QString error;
    };
    // Streams the file; one far past the cap is read from where the cap
    // would have left it, so that no file makes the listing outgrow it.
    Listing read() const;

    // The newest entry of that reader that wrote to it (or began to) with a
    // `before` to go back to; entries of other readers are never taken.
    std::optional<ProvisionRecord> newestFor(const ReaderIdentity &reader, int *damagedLines = nullptr) const;

private:
    // Rewrites the file without its oldest entries (lines that are no
    // record stay), through a temporary file renamed over it, when it has
    // grown past MaxBytes; read again under the lock.
    bool trim(QString *error);

    QString m_path;
    qint64 m_maxBytes;
    mutable QMutex m_mutex;
};

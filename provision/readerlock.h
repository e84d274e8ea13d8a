#pragma once

#include "provision/readerrecord.h"

#include <QString>

// One writer per reader, across processes: held from the read before a
// write until its read-back, so that no other process's frames fall in
// between. An advisory lock (flock) on a file per reader under
// $XDG_RUNTIME_DIR/tavrin/ (a folder of the user's own in the temporary
// folder when that is unset), holding the holder's PID. The system lets it
// go with the process, however that ends.
class ReaderLock
{
public:
    explicit ReaderLock(const ReaderIdentity &reader);
    ~ReaderLock();
    ReaderLock(const ReaderLock &) = delete;
    ReaderLock &operator=(const ReaderLock &) = delete;

    // False only when another holder has it: a lock that cannot be made at
    // all (no folder to keep it in) stops no write.
    bool held() const { return !m_busy; }
    // "SIM0001 is being written by another process (PID n)" when not held.
    QString refusal() const { return m_refusal; }

    static QString folder();

private:
    int m_fd = -1;
    bool m_busy = false;
    QString m_refusal;
};

#pragma once

#include <QtGlobal>

#if defined(Q_OS_UNIX)

#include <QString>

// A pseudo-terminal: the program opens slavePath() as its serial port, the
// simulated reader sits on the master end. The slave is put in raw mode at
// once (no CR translation, no echo) and one descriptor of it is held open
// here, so that the path stays valid and the master sees no hang-up while
// the program closes and reopens its port.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isOpen() const { return m_master >= 0; }
    QString errorString() const { return m_error; }
    QString slavePath() const { return m_slavePath; }
    // Non-blocking; -1 once closed.
    int masterFd() const { return m_master; }

    // The far end is gone: both ends we hold are closed.
    void close();

private:
    bool fail(const char *what);

    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QString m_error;
};

#endif // Q_OS_UNIX

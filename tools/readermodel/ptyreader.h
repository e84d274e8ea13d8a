#pragma once

#include <QtGlobal>

#if defined(Q_OS_UNIX)

#include "ptypair.h"

#include <QByteArray>
#include <QList>
#include <QObject>

#include <memory>

class QSocketNotifier;
class QTimer;
class ReaderModel;

// Plays a ReaderModel on the master end of a pseudo-terminal while the Qt
// event loop runs: what the program writes to portName() goes to the model,
// the model's answers come back. Without a model it only records.
class PtyReader : public QObject
{
    Q_OBJECT

public:
    explicit PtyReader(ReaderModel *model = nullptr, QObject *parent = nullptr);
    ~PtyReader() override;

    bool isOpen() const { return m_pty.isOpen(); }
    QString errorString() const { return m_pty.errorString(); }
    // The path the program opens as its serial port.
    QString portName() const { return m_portName; }

    // Everything the program has written, and everything sent back to it.
    QByteArray received() const { return m_received; }
    QByteArray sent() const { return m_sent; }
    void clearRecords();

    // Unsolicited output, queued behind any answer not yet sent.
    void inject(const QByteArray &bytes);
    // The pause between the two parts of a split answer; the default lies
    // well beyond the program's 100 ms poll.
    void setSplitPause(int milliseconds) { m_splitPause = milliseconds; }
    // Bytes queued but not yet written.
    bool isIdle() const;

    // The far end is gone: the master closes, the port sees a hang-up.
    void closeMaster();

signals:
    void bytesReceived(const QByteArray &bytes);
    void bytesSent(const QByteArray &bytes);

private:
    struct Part
    {
        QByteArray bytes;
        bool pauseBefore = false;
    };

    void onReadable();
    void pump();

    ReaderModel *m_model;
    PtyPair m_pty;
    QString m_portName;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    QTimer *m_pauseTimer;
    QList<Part> m_queue;
    QByteArray m_writing;
    QByteArray m_received;
    QByteArray m_sent;
    int m_splitPause = 300;
};

#endif // Q_OS_UNIX

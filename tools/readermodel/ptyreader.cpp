#include "ptyreader.h"

#if defined(Q_OS_UNIX)

#include "readermodel.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <unistd.h>

PtyReader::PtyReader(ReaderModel *model, QObject *parent)
    : QObject(parent), m_model(model), m_pauseTimer(new QTimer(this))
{
    m_pauseTimer->setSingleShot(true);
    connect(m_pauseTimer, &QTimer::timeout, this, &PtyReader::pump);
    if (!m_pty.isOpen())
        return;
    m_portName = m_pty.slavePath();
    m_readNotifier = std::make_unique<QSocketNotifier>(m_pty.masterFd(), QSocketNotifier::Read);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, &PtyReader::onReadable);
    m_writeNotifier = std::make_unique<QSocketNotifier>(m_pty.masterFd(), QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, &PtyReader::pump);
}

PtyReader::~PtyReader()
{
    closeMaster();
}

void PtyReader::clearRecords()
{
    m_received.clear();
    m_sent.clear();
}

bool PtyReader::isIdle() const
{
    return m_queue.isEmpty() && m_writing.isEmpty();
}

void PtyReader::closeMaster()
{
    // The notifiers must go before the descriptor they watch.
    m_readNotifier.reset();
    m_writeNotifier.reset();
    m_pauseTimer->stop();
    m_queue.clear();
    m_writing.clear();
    m_pty.close();
}

void PtyReader::onReadable()
{
    QByteArray chunk;
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(m_pty.masterFd(), buffer, sizeof buffer);
        if (n > 0) {
            chunk.append(buffer, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // EAGAIN: drained. EIO or 0: no slave is open, which cannot happen
        // while we hold one; stop watching rather than spin.
        if (n == 0 || errno != EAGAIN)
            m_readNotifier->setEnabled(false);
        break;
    }
    if (chunk.isEmpty())
        return;
    m_received.append(chunk);
    emit bytesReceived(chunk);
    if (!m_model)
        return;
    const QByteArrayList parts = m_model->serialReceive(chunk);
    for (int i = 0; i < parts.size(); ++i)
        m_queue.append({parts[i], i > 0});
    pump();
}

void PtyReader::inject(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    m_queue.append({bytes, false});
    pump();
}

void PtyReader::pump()
{
    if (!m_pty.isOpen() || m_pauseTimer->isActive())
        return;
    for (;;) {
        if (m_writing.isEmpty()) {
            if (m_queue.isEmpty())
                break;
            if (m_queue.first().pauseBefore) {
                m_queue.first().pauseBefore = false;
                m_pauseTimer->start(m_splitPause);
                return;
            }
            m_writing = m_queue.takeFirst().bytes;
        }
        const ssize_t n = ::write(m_pty.masterFd(), m_writing.constData(), size_t(m_writing.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            // The port is gone for good; what was queued cannot arrive.
            m_writing.clear();
            m_queue.clear();
            break;
        }
        if (n <= 0)
            break; // full: the write notifier resumes
        const QByteArray written = m_writing.left(int(n));
        m_writing.remove(0, int(n));
        m_sent.append(written);
        emit bytesSent(written);
    }
    m_writeNotifier->setEnabled(!m_writing.isEmpty());
}

#endif // Q_OS_UNIX

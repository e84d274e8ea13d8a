#include "charthread.h"

#include "settings/textcodec.h"

#include <QLabel>
#include <QMetaObject>

charThread::charThread(QLabel *targetLabel, unsigned char startLetter)
    : targetLabel(targetLabel)
    , letter(startLetter)
{
    // Builds the code page table here rather than on the worker.
    TextCodec::initialise();
}

charThread::~charThread()
{
    // QThread must not be destroyed while running; a paused worker only
    // sees the stop once it is released.
    stop();
    paused = false;
    wait();
}

void charThread::togglePause()
{
    paused.store(!paused.load());
}

void charThread::stop()
{
    stopped = true;
}

void charThread::run()
{
    while (!stopped) {
        show(TextCodec::cStringToText(QByteArray(1, char(letter))));
        letter = static_cast<unsigned char>(letter + 1);
        msleep(100);
        while (paused)
            msleep(100);
    }
    show(QStringLiteral("Thread stop"));
}

void charThread::show(const QString &text)
{
    // The label belongs to the GUI thread: the text is handed over there,
    // and dropped if the label is gone by then.
    QLabel *label = targetLabel;
    if (!label)
        return;
    QMetaObject::invokeMethod(label, "setText", Qt::QueuedConnection, Q_ARG(QString, text));
}

#include "charthread.h"

#include "settings/textcodec.h"

#include <QLabel>

charThread::charThread(QLabel *targetLabel, unsigned char startLetter)
    : letter(startLetter)
{
    // Builds the code page table here rather than on the worker.
    TextCodec::initialise();
    if (targetLabel)
        connect(this, &charThread::textReady, targetLabel, &QLabel::setText, Qt::QueuedConnection);
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
        emit textReady(TextCodec::cStringToText(QByteArray(1, char(letter))));
        letter = static_cast<unsigned char>(letter + 1);
        msleep(100);
        while (paused)
            msleep(100);
    }
    emit textReady(QStringLiteral("Thread stop"));
}

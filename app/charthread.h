#pragma once

#include <QThread>

#include <atomic>

class QLabel;

// Makes a label count through the 256 characters of the code page, one
// about every 100 ms, until stopped. A bring-up aid; the window never
// starts one.
class charThread : public QThread
{
    Q_OBJECT

public:
    // startLetter lets a caller begin elsewhere than 'A' (a test that wants
    // to see the wrap from 255 to 0 need not wait through 190 steps).
    explicit charThread(QLabel *targetLabel, unsigned char startLetter = 'A');
    ~charThread() override;

    void togglePause();
    void stop();

signals:
    // Carries each text to the label on the GUI thread; a label that is
    // gone by then takes its connection with it.
    void textReady(const QString &text);

protected:
    void run() override;

private:
    unsigned char letter;
    // Written by the GUI thread, polled by the worker.
    std::atomic<bool> paused{false};
    std::atomic<bool> stopped{false};
};

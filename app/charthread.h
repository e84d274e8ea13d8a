#pragma once

#include <QThread>

#include <atomic>

class QLabel;

// Makes a label count through the 256 characters of the code page, one
// about every 100 ms, until stopped. A bring-up aid; the window never
// starts one.
class charThread : public QThread
{
public:
    // startLetter lets a caller begin elsewhere than 'A' (a test that wants
    // to see the wrap from 255 to 0 need not wait through 190 steps).
    explicit charThread(QLabel *targetLabel, unsigned char startLetter = 'A');
    ~charThread() override;

    void togglePause();
    void stop();

protected:
    void run() override;

private:
    void show(const QString &text);

    QLabel *targetLabel;
    unsigned char letter;
    // Written by the GUI thread, polled by the worker.
    std::atomic<bool> paused{false};
    std::atomic<bool> stopped{false};
};

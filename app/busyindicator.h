#pragma once

#include <QProgressDialog>

#include <chrono>
#include <functional>

class QPushButton;
class QTimer;

// A progress bar with no known end over the window while the firmware writer
// runs. Stopping a writer half-way may leave the reader without firmware, so
// the way out comes only once the writer has run for a long time, as
// "Stop Writer", and only behind a question that says so.
class BusyIndicator : public QProgressDialog
{
public:
    // stop ends the writer; it is called at most once, and only after the
    // user has confirmed.
    BusyIndicator(QWidget *parent, std::function<void()> stop);

    // Lets the dialog go once the writer has ended.
    void finish();

    // How long a writer runs before "Stop Writer" is offered: two minutes,
    // less in tests.
    static std::chrono::milliseconds stopOfferDelay();
    static void setStopOfferDelay(std::chrono::milliseconds delay);

protected:
    void reject() override;
    void closeEvent(QCloseEvent *event) override;

private:
    void offerStop();
    void askToStop();

    std::function<void()> stop;
    QTimer *offerTimer;
    QPushButton *stopButton = nullptr;
    bool finished = false;
};

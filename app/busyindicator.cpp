#include "busyindicator.h"

#include <QCloseEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <utility>

namespace {

std::chrono::milliseconds offerDelay = std::chrono::minutes(2);

} // namespace

BusyIndicator::BusyIndicator(QWidget *parent, std::function<void()> stop)
    : QProgressDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , stop(std::move(stop))
    , offerTimer(new QTimer(this))
{
    setObjectName(QStringLiteral("FirmwareWriterBusy"));
    setWindowTitle(QStringLiteral("Firmware Update"));
    setLabelText(QStringLiteral("The firmware writer is running.\n"
                                "Please wait until it has finished."));
    setCancelButton(nullptr);
    setAutoReset(false);
    setAutoClose(false);
    setRange(0, 0);
    setWindowModality(Qt::ApplicationModal);

    offerTimer->setSingleShot(true);
    connect(offerTimer, &QTimer::timeout, this, &BusyIndicator::offerStop);
    offerTimer->start(offerDelay);
}

std::chrono::milliseconds BusyIndicator::stopOfferDelay()
{
    return offerDelay;
}

void BusyIndicator::setStopOfferDelay(std::chrono::milliseconds delay)
{
    offerDelay = delay;
}

void BusyIndicator::offerStop()
{
    if (finished || !stop)
        return;
    // The dialog's own cancel button would cancel at once; this one asks.
    stopButton = new QPushButton(QStringLiteral("Stop Writer"), this);
    stopButton->setObjectName(QStringLiteral("stopWriterButton"));
    setCancelButton(stopButton);
    disconnect(stopButton, &QPushButton::clicked, this, nullptr);
    connect(stopButton, &QPushButton::clicked, this, &BusyIndicator::askToStop);
    setLabelText(QStringLiteral("The firmware writer is still running.\n"
                                "Stop it only if it no longer makes progress."));
}

void BusyIndicator::askToStop()
{
    const bool yes =
        QMessageBox::question(this, QStringLiteral("Stop Writer"),
                              QStringLiteral("Stopping the firmware writer interrupts the firmware update: the "
                                             "reader may be left without working firmware and stay in its "
                                             "programming mode. Stop the writer?"),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        == QMessageBox::Yes;
    // The writer may have ended while the question was open.
    if (!yes || finished || !stop)
        return;
    const std::function<void()> stopNow = std::exchange(stop, nullptr);
    stopNow();
}

void BusyIndicator::finish()
{
    finished = true;
    stop = nullptr;
    offerTimer->stop();
    hide();
}

void BusyIndicator::reject()
{
    if (finished)
        QProgressDialog::reject();
}

void BusyIndicator::closeEvent(QCloseEvent *event)
{
    if (finished)
        QProgressDialog::closeEvent(event);
    else
        event->ignore();
}

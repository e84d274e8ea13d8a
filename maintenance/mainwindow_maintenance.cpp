// The window's side of reader maintenance: switching the reader's interface
// and updating its firmware.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/platform.h"
#include "link/commandframe.h"
#include "link/readerlink.h"
#include "maintenance/firmwareupdate.h"

#include <QDebug>
#include <QMessageBox>

namespace {

constexpr int IspWriteAttempts = 3;
constexpr int WriterStartPauseMs = 1000;

bool confirmChangeMode(const QString &question)
{
    return QMessageBox::warning(nullptr, QStringLiteral("Change Mode"), question,
                                QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton)
        == QMessageBox::Yes;
}

void tellUser(const QString &title, const QString &text)
{
    QMessageBox::information(nullptr, title, text, QMessageBox::Yes, QMessageBox::NoButton);
}

} // namespace

void MainWindow::ChangeModeClick()
{
    ReaderLink &link = *readerLink;
    if (!link.connected)
        return;

    const QByteArray frame = guardedFrame(CmdChangeMode);
    const bool serial = link.serialOpen;
    const bool yes = confirmChangeMode(
        serial ? QStringLiteral("Do you want to change iButton interface to <b>USB Keyboard</b> and utility will close?")
               : QStringLiteral("Do you want to change iButton interface to <b>serial</b> and utility will close?"));
    // The box runs an event loop: a serial port that failed meanwhile has
    // been torn down, and there is no reader left to tell.
    if (!yes || !link.connected || link.serialOpen != serial)
        return;

    if (serial) {
        // A port that did not take the frame left the reader as it was;
        // closing would tell the user otherwise. The port's own failure
        // handling disconnects.
        if (!link.SerialSend(frame))
            return;
        ui->ConnectBut->setText(QStringLiteral("Connect Device"));
        link.stopPolling();
        link.connected = false;
        SetIButtonControlsEnabled(false);
        link.closeSerial();
        link.serialOpen = false;
    } else {
        if (!link.HidSend(HidReport::fromFrame(frame)))
            return;
        ui->ConnectBut->setText(QStringLiteral("Connect Device"));
        link.connected = false;
        SetIButtonControlsEnabled(false);
        link.closeHid();
        link.hidOpen = false;
    }
    close();
}

void MainWindow::FWUpdateClick()
{
    ReaderLink &link = *readerLink;
    const QByteArray frame = guardedFrame(CmdIspMode);

    if (link.serialOpen) {
        qDebug("serial_buf: %x %x", unsigned(quint8(frame[4])), unsigned(quint8(frame[5])));
        link.SerialSend(frame);
    } else {
        // Without a handle there is no device to write to (hidapi takes no
        // null handle); that ends like a refused command.
        bool sent = false;
        for (int attempt = 0; link.hidHandle && !sent && attempt < IspWriteAttempts; ++attempt)
            sent = link.HidSend(HidReport::fromFrame(frame));
        if (!sent) {
            tellUser(QStringLiteral("ISP Mode"),
                     QStringLiteral("Can't send ISP mode command to device, please check your iButton device!!"));
            return;
        }
    }

    if (link.connected)
        DisconnectReader();
    Platform::sleepMs(WriterStartPauseMs);

    const QString program = Platform::firmwareWriterProgram();
    const WriterRun run = runFirmwareWriter(program, this);
    if (!run.started) {
        qDebug("FWUpdate fail");
        tellUser(QStringLiteral("Firmware Update"),
                 QStringLiteral("The firmware writer could not be started (%1).\n"
                                "It was looked for at:\n%2")
                     .arg(run.errorText, firmwareWriterLocation(program)));
        return;
    }
    // The writer reports its own outcome; its exit code follows no known
    // convention and is not looked at.
    qDebug("FWUpdate success");
    // A crashed writer could not tell the user anything, and the reader is
    // left in its programming mode.
    if (run.exitStatus == QProcess::CrashExit)
        tellUser(QStringLiteral("Firmware Update"),
                 QStringLiteral("The firmware writer stopped unexpectedly. The iButton device may still be "
                                "in its programming mode; run the firmware update again."));
}

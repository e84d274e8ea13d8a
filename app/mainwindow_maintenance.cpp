// The window's side of reader maintenance: switching the reader's interface
// and updating its firmware.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/busyindicator.h"
#include "app/tracing.h"
#include "link/platform.h"
#include "maintenance/firmwareupdate.h"
#include "maintenance/interfaceswitch.h"

#include <QDebug>
#include <QMessageBox>

#include <memory>

namespace {

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

QString writerMissingText(const QString &reason, const QString &program)
{
    return QStringLiteral("The firmware writer could not be started (%1).\n"
                          "It was looked for at:\n%2")
        .arg(reason, firmwareWriterLocation(program));
}

} // namespace

void MainWindow::ChangeModeClick()
{
    ReaderLink &link = *readerLink;
    const ReaderLink::Transport transport = link.transport();
    if (transport == ReaderLink::Transport::None)
        return;

    const bool yes = confirmChangeMode(
        transport == ReaderLink::Transport::Serial
            ? QStringLiteral("Do you want to change iButton interface to <b>USB Keyboard</b> and utility will close?")
            : QStringLiteral("Do you want to change iButton interface to <b>serial</b> and utility will close?"));
    // The box runs an event loop: a connection lost meanwhile leaves no
    // reader to tell.
    if (!yes || link.transport() != transport)
        return;

    // A command that did not go out left the reader as it was; closing would
    // tell the user otherwise.
    if (!Maintenance::switchInterface(link))
        return;
    showDisconnected();
    closeWithoutAsking();
}

void MainWindow::FWUpdateClick()
{
    const QString program = Platform::firmwareWriterProgram();
    // A reader in its programming mode with no writer to program it is worse
    // off than one never told: look for the writer first.
    if (const std::optional<QString> problem = firmwareWriterProblem(program)) {
        qCDebug(lcApp, "FWUpdate fail");
        tellUser(QStringLiteral("Firmware Update"), writerMissingText(*problem, program));
        return;
    }
    if (!Maintenance::enterProgrammingMode(*readerLink)) {
        tellUser(QStringLiteral("ISP Mode"),
                 QStringLiteral("Can't send ISP mode command to device, please check your iButton device!!"));
        return;
    }

    if (readerLink->isOpen())
        DisconnectReader();
    Platform::sleepMs(WriterStartPauseMs);

    std::unique_ptr<BusyIndicator> busy;
    const WriterRun run = runFirmwareWriter(program, [this, &busy](bool running) {
        if (running) {
            busy = std::make_unique<BusyIndicator>(this);
            busy->show();
        } else {
            busy->finish();
        }
    });
    if (!run.started) {
        qCDebug(lcApp, "FWUpdate fail");
        tellUser(QStringLiteral("Firmware Update"), writerMissingText(run.errorText, program));
        return;
    }
    // The writer reports its own outcome; its exit code follows no known
    // convention and is not looked at.
    qCDebug(lcApp, "FWUpdate success");
    // A crashed writer could not tell the user anything, and the reader is
    // left in its programming mode.
    if (run.exitStatus == QProcess::CrashExit)
        tellUser(QStringLiteral("Firmware Update"),
                 QStringLiteral("The firmware writer stopped unexpectedly. The iButton device may still be "
                                "in its programming mode; run the firmware update again."));
}

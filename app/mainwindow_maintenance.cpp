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

namespace {

bool confirmFirmwareUpdate(const QString &program)
{
    return QMessageBox::question(nullptr, QStringLiteral("FW Update"),
                                 QStringLiteral("The reader will be put into its programming mode and %1 run. Go on?")
                                     .arg(program),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton)
        == QMessageBox::Yes;
}

} // namespace

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
    // The box runs an event loop: a connection lost meanwhile has no reader
    // to put into its programming mode.
    const ReaderLink::Transport transport = readerLink->transport();
    if (!confirmFirmwareUpdate(program) || readerLink->transport() != transport)
        return;
    QString why;
    if (!Maintenance::enterProgrammingMode(*readerLink, &why)) {
        tellUser(QStringLiteral("ISP Mode"),
                 QStringLiteral("Can't send ISP mode command to device, please check your iButton device!!")
                     + (why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(why)));
        return;
    }

    if (readerLink->isOpen())
        DisconnectReader();
    Platform::sleepMs(WriterStartPauseMs);

    std::unique_ptr<BusyIndicator> busy;
    const WriterRun run = runFirmwareWriter(program, [this, &busy](bool running, const StopWriter &stop) {
        if (running) {
            busy = std::make_unique<BusyIndicator>(this, stop);
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
    // Exit status 0 is the only end that says the writer did its work.
    qCDebug(lcApp, run.succeeded() ? "FWUpdate success" : "FWUpdate fail");
    if (run.succeeded()) {
        tellUser(QStringLiteral("FW Update"),
                 writerEndText(run) + QStringLiteral(" Connect the reader again once it has restarted."));
        return;
    }
    tellUser(QStringLiteral("FW Update"),
             writerEndText(run)
                 + QStringLiteral(" The firmware may not have been written: the iButton device may still be in "
                                  "its programming mode. Run the firmware update again."));
}

// The window's side of the connection: connect, disconnect, the radio
// buttons and what the serial poll brings.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/statusmessages.h"
#include "app/tracing.h"
#include "provision/provisionjob.h"
#include "settings/textcodec.h"

#include <QDebug>
#include <QInputDialog>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

void MainWindow::SetIButtonControlsEnabled(bool on)
{
    QWidget *const widgets[] = {
        ui->PreAmbleChk,      ui->PreAmbleEdit,     ui->PostAmbleChk,    ui->PostAmbleEdit,
        ui->RemoveDataChk,    ui->RemoveDataEdit,   ui->AutoReportChk,   ui->BuzzerEnableChk,
        ui->IBTOutStartEdit,  ui->IBTOutLengthEdit, ui->GetIBTStatusBut, ui->SetIBTStatusBut,
        ui->tabWidget,        ui->ScannerEdit,      ui->TrigBut,         ui->ChangeModeBut,
    };
    for (QWidget *w : widgets)
        w->setEnabled(on);
}

namespace {

// The hidraw path of the USB reader to connect: with several attached the
// user picks one, since a write must go to the reader somebody chose.
// Empty: the only one (or none, which the open then reports); nothing:
// the user canceled.
std::optional<QString> chooseUsbReader(QWidget *parent)
{
    const QList<ProvisionTarget> readers = attachedUsbReaders();
    if (readers.size() < 2)
        return QString();
    QStringList items;
    for (const ProvisionTarget &r : readers) {
        const QString name = r.identity.basis == ReaderIdentity::Basis::SerialNumber
            ? r.identity.id
            : QStringLiteral("no serial number");
        items << QStringLiteral("%1 (%2)").arg(name, r.where);
    }
    QInputDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("readerChooser"));
    dialog.setWindowTitle(QStringLiteral("Connect Device"));
    dialog.setLabelText(QStringLiteral("%1 readers are attached. Which one should be connected?").arg(readers.size()));
    dialog.setComboBoxItems(items);
    dialog.setComboBoxEditable(false);
    dialog.setOkButtonText(QStringLiteral("C&onnect"));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const qsizetype chosen = items.indexOf(dialog.textValue());
    if (chosen < 0)
        return std::nullopt;
    return readers.at(chosen).where;
}

} // namespace

void MainWindow::ConnectClick()
{
    ReaderLink &link = *readerLink;
    if (link.isOpen()) {
        DisconnectReader();
        return;
    }

    QString reader;
    if (ui->USBKB_radcmd->isChecked()) {
        const std::optional<QString> chosen = chooseUsbReader(this);
        if (!chosen)
            return;
        reader = *chosen;
    }
    connectReader(reader);
}

void MainWindow::connectReader(const QString &usbPath)
{
    ReaderLink &link = *readerLink;
    const bool usb = ui->USBKB_radcmd->isChecked();
    if (!(usb ? link.open(ReaderLink::Transport::Hid, usbPath)
              : link.open(ReaderLink::Transport::Serial, ui->SerialNameEdit->text()))) {
        qCDebug(lcApp, "%s", usb ? "unable to open USB HID device\n" : "unable to open com device\n");
        ui->ConnectBut->setText(QStringLiteral("Reconnect"));
        SetIButtonControlsEnabled(false);
        showConnection(StatusMessages::openFailed(link, usb));
        return;
    }
    showConnection(StatusMessages::connected(link));
    // The button says what a click does now, whatever the read below does.
    ui->ConnectBut->setText(QStringLiteral("Disconnect"));
    ui->ChangeModeBut->setText(usb ? QStringLiteral("to Serial") : QStringLiteral("to USB KB"));
    ui->CodeType_lbl->setText(QStringLiteral("ASCII Code"));
    // Whatever the form holds came from no reader on this connection; only
    // the read can make it this one's.
    form.setThisReaders(false);
    updateLoadSettingsAction();
    // Asked once the port is open: a connect that fails replaces nothing.
    if (mayReplaceForm(QStringLiteral("the settings read from the reader")))
        GetIBTValue();
    else
        showStatus(QStringLiteral("Connected without reading the reader: the form keeps its settings."));

    // The read's message box runs an event loop; a connection lost meanwhile
    // has already been shown as gone, and stays gone.
    if (!link.isOpen())
        return;

    statusPolled = false;
    settingsLoaded = false;
    SetIButtonControlsEnabled(true);
    rememberConnection();
}

namespace {

void traceDisconnect(ReaderLink::Transport transport)
{
    if (transport == ReaderLink::Transport::Hid)
        qCDebug(lcApp, "Orvo_Device disconnect");
    else if (transport == ReaderLink::Transport::Serial)
        qCDebug(lcApp, "Pasq_Device disconnect");
}

} // namespace

void MainWindow::DisconnectReader()
{
    traceDisconnect(readerLink->transport());
    readerLink->close();
    showDisconnected();
}

void MainWindow::showDisconnected()
{
    ui->ConnectBut->setText(QStringLiteral("Connect Device"));
    SetIButtonControlsEnabled(false);
    updateLoadSettingsAction();
    showConnection(StatusMessages::notConnected());
}

void MainWindow::onLinkLost(ReaderLink::Transport transport, const QString &reason)
{
    qCDebug(lcApp, transport == ReaderLink::Transport::Serial ? "Serial port lost, disconnecting\n"
                                                              : "USB reader lost, disconnecting\n");
    traceDisconnect(transport);
    showDisconnected();
    showConnection(StatusMessages::lost(reason));
}

void MainWindow::on_Searal_radcmd_clicked()
{
    ui->SerialNameEdit->setEnabled(true);
}

void MainWindow::on_USBKB_radcmd_clicked()
{
    ui->SerialNameEdit->setEnabled(false);
}

namespace {

// Reader bytes are never markup, so they go in as plain text; appending at
// the end keeps a poll's cost independent of how much is already shown.
// Line breaks come out as a rebuild of the whole text would give them: CR,
// LF and CR LF each end a line, also when CR and LF arrive in different polls.
void appendReaderOutput(QTextEdit *edit, const QString &text)
{
    if (text.isEmpty())
        return;
    QTextDocument *doc = edit->document();
    // Output is not an edit the user could take back; a rebuild of the
    // text would have dropped the undo history too.
    const bool undo = doc->isUndoRedoEnabled();
    doc->setUndoRedoEnabled(false);
    QTextCursor end(doc);
    end.movePosition(QTextCursor::End);
    // Plain, whatever formatting text pasted into the edit may carry.
    end.insertText(text, QTextCharFormat());
    doc->setUndoRedoEnabled(undo);
}

} // namespace

void MainWindow::onReadyRead(const QByteArray &chunk)
{
    // A settings reply among the output is the settings read's to find.
    appendReaderOutput(ui->ScannerEdit, TextCodec::cStringToText(chunk));
}

// The window's side of the connection: connect, disconnect, the radio
// buttons and the serial poll.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/textcodec.h"
#include "link/readerlink.h"

#include <QSerialPort>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>

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

void MainWindow::ConnectClick()
{
    ReaderLink &link = *readerLink;
    if (link.connected) {
        DisconnectReader();
        return;
    }

    const auto openFailed = [this, &link](const char *trace) {
        qDebug("%s", trace);
        ui->ConnectBut->setText(QStringLiteral("Reconnect"));
        SetIButtonControlsEnabled(false);
        link.connected = false;
    };

    if (ui->USBKB_radcmd->isChecked()) {
        if (!link.openHid()) {
            openFailed("unable to open USB HID device\n");
            return;
        }
        link.hidOpen = true;
        ui->ChangeModeBut->setText(QStringLiteral("to Serial"));
    } else {
        if (!link.openSerial(ui->SerialNameEdit->text())) {
            openFailed("unable to open com device\n");
            return;
        }
        link.pollTimer = new QTimer(this);
        link.pollTimer->start(100);
        connect(link.pollTimer, &QTimer::timeout, this, &MainWindow::onReadyRead);
        link.serialOpen = true;
        ui->ChangeModeBut->setText(QStringLiteral("to USB KB"));
    }
    ui->CodeType_lbl->setText(QStringLiteral("ASCII Code"));
    GetIBTValue();

    // The read's message box runs an event loop; a serial port that failed
    // meanwhile has already been torn down, and stays down.
    if (!link.hidOpen && !link.serialOpen)
        return;

    link.connected = true;
    statusPolled = false;
    settingsLoaded = false;
    ui->ConnectBut->setText(QStringLiteral("Disconnect"));
    SetIButtonControlsEnabled(true);
}

void MainWindow::DisconnectReader()
{
    ReaderLink &link = *readerLink;
    if (link.hidOpen) {
        qDebug("Orvo_Device disconnect");
        link.closeHid();
        link.hidOpen = false;
    }
    if (link.serialOpen) {
        qDebug("Pasq_Device disconnect");
        link.stopPolling();
        link.closeSerial();
        link.serialOpen = false;
    }
    ui->ConnectBut->setText(QStringLiteral("Connect Device"));
    link.connected = false;
    SetIButtonControlsEnabled(false);
}

void MainWindow::onSerialPortFailed()
{
    if (!readerLink->serialOpen)
        return;
    qDebug("Serial port lost, disconnecting\n");
    DisconnectReader();
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

void MainWindow::onReadyRead()
{
    QSerialPort *port = readerLink->serialPort;
    if (!port || !port->isOpen())
        return;
    const qint64 available = port->bytesAvailable();
    if (available == 0)
        return;
    const QByteArray chunk = available > 0 ? port->read(available) : QByteArray();
    appendReaderOutput(ui->ScannerEdit, TextCodec::cStringToText(chunk));
    ParseSerialReply(chunk);
}

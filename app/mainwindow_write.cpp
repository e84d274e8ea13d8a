// The window's side of writing the form's settings to the reader.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "link/readerlink.h"
#include "settings/settingswrite.h"

#include <QMessageBox>

namespace {

const QString WriteTitle = QStringLiteral("Setting iButton");

void tell(const QString &text)
{
    QMessageBox::information(nullptr, WriteTitle, text, QMessageBox::Yes, QMessageBox::NoButton);
}

} // namespace

void MainWindow::SetIBTValueClick()
{
    ReaderLink &link = *readerLink;
    // The button is only enabled while connected; without an open transport
    // there is no handle to write to.
    if (!link.isOpen())
        return;
    const WriteTransport transport =
        link.transport() == ReaderLink::Transport::Serial ? WriteTransport::Serial : WriteTransport::Hid;

    SettingsWriteRequest request;
    request.flags = SettingsWriteRequest::flagsFromChecks(
        ui->RemoveDataChk->isChecked(), ui->PostAmbleChk->isChecked(), ui->PreAmbleChk->isChecked(),
        ui->AutoReportChk->isChecked(), ui->BuzzerEnableChk->isChecked());
    request.outputStart = ui->IBTOutStartEdit->text();
    request.outputLength = ui->IBTOutLengthEdit->text();
    request.kbCountry = ui->KB_cmb->currentIndex();
    request.preAmble = ui->PreAmbleEdit->text();
    request.postAmble = ui->PostAmbleEdit->text();
    request.removeData = ui->RemoveDataEdit->text();

    const SettingsWriteSequence sequence(request, transport);
    // Half a configuration is worse than none: refuse before the first frame.
    if (!sequence.overlongTexts().isEmpty()) {
        tell(sequence.refusalText());
        return;
    }

    const int sent = sequence.run([&link](const QByteArray &frame) { return link.send(frame); });
    if (sent < sequence.count()) {
        // HidSend has traced its failure; the reader keeps what it got.
        if (transport == WriteTransport::Hid)
            return;
        qDebug("Serial write of frame %d failed\n", sent + 1);
        tell(QStringLiteral("Failed to set iButton set value, please check the connection."));
        return;
    }
    tell(QStringLiteral("Successfully set iButton set value"));
}

// The window's side of reading the reader's settings into the form.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "link/commandframe.h"
#include "link/readerlink.h"
#include "settings/readersettings.h"
#include "app/settingsform.h"
#include "settings/settingsread.h"

#include <QDebug>
#include <QMessageBox>

namespace {

const char StatusFailText[] = "Get F/W version fail, please retry.";

void showReadBox(const char *text)
{
    QMessageBox::information(nullptr, QStringLiteral("Read Status"), QString::fromLatin1(text),
                             QMessageBox::Yes);
}

const char *failText(SettingsRead::Step step)
{
    switch (step) {
    case SettingsRead::Step::Status:
        break;
    case SettingsRead::Step::PreAmble:
        return "Get PreAmble fail, please retry.";
    case SettingsRead::Step::PostAmble:
        return "Get PostAmble fail, please retry.";
    case SettingsRead::Step::RemoveData:
        return "Get RemoveData fail, please retry.";
    }
    return StatusFailText;
}

} // namespace

void MainWindow::GetIBTValueClick()
{
    GetIBTValue();
}

void MainWindow::GetIBTValue()
{
    ReaderLink &link = *readerLink;

    if (link.transport() == ReaderLink::Transport::Serial) {
        // The replies come back through the poll; only a write that did not
        // reach the port is known here, and it must not read as success.
        const QByteArrayList frames = SettingsRead::serialRequests();
        bool sent = true;
        for (int i = 0; i < frames.size(); ++i) {
            if (i == SettingsRead::SerialFramesBeforeKbCountry)
                ui->KB_cmb->setDisabled(true);
            if (sent && !link.send(frames[i])) {
                qDebug("Unable to write settings request %d to the serial port\n", i);
                sent = false;
            }
        }
        showReadBox(sent ? "Successfully obtained iButton the set value" : StatusFailText);
        return;
    }
    if (link.transport() != ReaderLink::Transport::Hid)
        return;

    // Each step's values reach the form before the next request goes out,
    // so a read that fails half-way leaves the earlier ones shown.
    const SettingsRead::HidResult result = SettingsRead::overHid(
        link, [this](SettingsRead::Step, const ReaderSettings &decoded) {
            SettingsForm::apply(*ui, decoded);
        });
    if (result.failedAt) {
        showReadBox(failText(*result.failedAt));
        return;
    }
    showReadBox("Successfully obtained iButton the set value");
}

void MainWindow::ReadStatus()
{
    ReaderLink &link = *readerLink;
    if (currentTab == 0) {
        link.exchange(commandFrame(CmdGetStatus), ReaderLink::SeqAt::FirstParameter);
        statusPolled = true;
    }
    if (settingsLoaded)
        return;
    // Only a complete read counts as loaded; otherwise the next call tries again.
    settingsLoaded = SettingsRead::readOnceOverHid(
        link, [this](const ReaderSettings &decoded) { SettingsForm::apply(*ui, decoded); });
}

void MainWindow::ParseSerialReply(const QByteArray &chunk)
{
    const std::optional<ReaderSettings> reply = decodeSerialReply(chunk);
    if (!reply)
        return;
    if (reply->firmwareVersion)
        qDebug() << "ver:" << *reply->firmwareVersion;
    SettingsForm::apply(*ui, *reply);
}

// The window's side of reading the reader's settings into the form.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/tracing.h"
#include "link/commandframe.h"
#include "link/readerlink.h"
#include "settings/readersettings.h"
#include "settings/settingsread.h"

#include <QDebug>
#include <QMessageBox>

namespace {

const char StatusFailText[] = "Get F/W version fail, please retry.";
const char ReadOkText[] = "Successfully obtained iButton the set value";

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
    if (mayReplaceForm(QStringLiteral("the settings read from the reader")))
        GetIBTValue();
}

void MainWindow::GetIBTValue()
{
    ReaderLink &link = *readerLink;

    if (link.transport() == ReaderLink::Transport::Serial) {
        // Success only once the reader's reply is in the form.
        const std::optional<QByteArray> reply = SettingsRead::overSerial(link, [this](int sent) {
            if (sent == SettingsRead::SerialFramesBeforeKbCountry)
                ui->KB_cmb->setDisabled(true);
        });
        if (!reply) {
            form.setThisReaders(false);
            showReadBox(StatusFailText);
            return;
        }
        const std::optional<ReaderSettings> shown = ParseSerialReply(*reply);
        const std::optional<SettingsRead::Step> missing = SettingsRead::firstMissingBlock(*shown);
        form.setThisReaders(!missing);
        if (!missing)
            form.setChosen();
        showReadBox(missing ? failText(*missing) : ReadOkText);
        return;
    }
    if (link.transport() != ReaderLink::Transport::Hid)
        return;

    // Each step's values reach the form before the next request goes out,
    // so a read that fails half-way leaves the earlier ones shown.
    const SettingsRead::HidResult result =
        SettingsRead::overHid(link, [this](SettingsRead::Step, const ReaderSettings &decoded) { form.apply(decoded); });
    // Half a read leaves a form that is partly another reader's.
    form.setThisReaders(!result.failedAt);
    if (!result.failedAt)
        form.setChosen();
    showReadBox(result.failedAt ? failText(*result.failedAt) : ReadOkText);
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
    settingsLoaded =
        SettingsRead::readOnceOverHid(link, [this](const ReaderSettings &decoded) { form.apply(decoded); });
    if (settingsLoaded)
        form.setChosen();
}

std::optional<ReaderSettings> MainWindow::ParseSerialReply(const QByteArray &reply)
{
    std::optional<ReaderSettings> decoded = decodeSerialReply(reply);
    if (!decoded)
        return std::nullopt;
    if (decoded->firmwareVersion)
        qCDebug(lcApp) << "ver:" << *decoded->firmwareVersion;
    form.apply(*decoded);
    return decoded;
}

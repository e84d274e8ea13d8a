// The window's side of reading the reader's settings into the form.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "link/readerlink.h"
#include "settings/readersettings.h"
#include "settings/settingsform.h"
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

QByteArray replyBytes(const HidReplyBuffer &reply)
{
    return QByteArray(reinterpret_cast<const char *>(reply.data()), HidReply::ReadLength);
}

} // namespace

void MainWindow::GetIBTValueClick()
{
    GetIBTValue();
}

void MainWindow::GetIBTValue()
{
    ReaderLink &link = *readerLink;

    if (link.serialOpen) {
        // The replies come back through the poll; only a write that did not
        // reach the port is known here, and it must not read as success.
        const QByteArrayList frames = SettingsRead::serialRequests();
        bool sent = true;
        for (int i = 0; i < frames.size(); ++i) {
            if (i == SettingsRead::SerialFramesBeforeKbCountry)
                ui->KB_cmb->setDisabled(true);
            if (sent && !link.SerialSend(frames[i])) {
                qDebug("Unable to write settings request %d to the serial port\n", i);
                sent = false;
            }
        }
        if (!link.hidOpen) {
            showReadBox(sent ? "Successfully obtained iButton the set value" : StatusFailText);
            return;
        }
    }

    if (!link.hidOpen)
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
    // hidapi has no answer for a handle that is not there.
    if (!link.hidHandle) {
        qDebug("ReadStatus: no USB reader open\n");
        return;
    }

    HidReplyBuffer reply;
    const auto exchange = [&link, &reply](quint8 code) {
        reply.fill(0);
        const quint8 seq = link.NextSeqNo();
        return link.HidExchange(SettingsRead::legacyHidRequest(code, seq), reply.data(), seq);
    };

    if (currentTab == 0) {
        exchange(CmdGetStatus);
        statusPolled = true;
    }
    if (settingsLoaded)
        return;

    // A reply that never came is not decoded: a zeroed buffer is not the
    // reader's answer. The other steps still run, as they always did.
    bool allAnswered = exchange(CmdGetStatus);
    if (allAnswered)
        SettingsForm::apply(*ui, decodeLegacyHidStatus(replyBytes(reply)));

    struct Block
    {
        quint8 code;
        const char *trace;
        std::optional<QByteArray> ReaderSettings::*field;
    };
    const Block blocks[] = {
        {CmdGetPreAmble, "PreAmble Len=%d %x %x %x %x", &ReaderSettings::preAmble},
        {CmdGetPostAmble, "PostAmble Len=%d %x %x %x %x", &ReaderSettings::postAmble},
        {CmdGetRemoveData, "Remove Data Len=%d %x %x %x %x", &ReaderSettings::removeData},
    };
    for (const Block &block : blocks) {
        if (!exchange(block.code)) {
            allAnswered = false;
            continue;
        }
        const QByteArray bytes = replyBytes(reply);
        qDebug(block.trace, int(reply[0]), unsigned(reply[1]), unsigned(reply[2]),
               unsigned(reply[3]), unsigned(reply[4]));
        if (block.code == CmdGetRemoveData)
            qDebug("Checksum = %x", unsigned(legacyTraceChecksum(bytes)));
        ReaderSettings decoded;
        decoded.source = SettingsSource::LegacyHid;
        decoded.*block.field = decodeLegacyHidBlock(bytes);
        SettingsForm::apply(*ui, decoded);
    }
    // Only a complete read counts as loaded; otherwise the next call tries again.
    settingsLoaded = allAnswered;
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

// The window's side of writing the form's settings to the reader.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/tracing.h"
#include "link/readerlink.h"
#include "provision/provisionjob.h"
#include "settings/settingsfile.h"
#include "settings/settingsread.h"
#include "settings/settingsverify.h"
#include "settings/settingswrite.h"

#include <QDebug>
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

    const SettingsWriteRequest request = form.writeRequest();
    const SettingsWriteSequence sequence(request, transport);
    // Half a configuration is worse than none: refuse before the first frame.
    if (!sequence.overlongTexts().isEmpty()) {
        tell(sequence.refusalText());
        return;
    }

    writeWithSnapshot(request);
}

namespace {

bool writeAnyway(QWidget *parent, const QString &reason)
{
    return QMessageBox::question(parent, WriteTitle,
                                 QStringLiteral("The settings the reader holds now could not be saved (%1). Write anyway?")
                                     .arg(reason),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        == QMessageBox::Yes;
}

// The read-back's own words (no answer, or what differs), as against a
// write that never got all its frames out.
bool isReadBackReason(const QString &reason)
{
    const QString noAnswer = SettingsVerify::message({});
    const QString differs = SettingsVerify::message({true, {SettingsVerify::Difference{}}}).section(QLatin1Char('\n'), 0, 0);
    return reason.startsWith(noAnswer) || reason.startsWith(differs);
}

} // namespace

void MainWindow::writeWithSnapshot(const SettingsWriteRequest &request)
{
    ReaderLink &link = *readerLink;
    QString why;
    std::optional<ReaderSettings> held = SettingsRead::everySetting(link, &why);
    // A connection lost in the read has been shown as gone.
    if (!link.isOpen())
        return;
    // A USB reader that did not even take the request is not there to be
    // written: no question, the status bar says why, as for a write.
    if (!held && link.transport() == ReaderLink::Transport::Hid && link.failure() != ReaderLink::Failure::NoReply
        && !link.errorString().isEmpty() && why.endsWith(link.errorString())) {
        showStatus(QStringLiteral("Nothing was written: the reader could not be read (%1).").arg(why));
        return;
    }
    ProvisionRecord record;
    if (!windowWrite(held, why, request, &record))
        return;
    showWriteOutcome(record, request, true);
}

bool MainWindow::windowWrite(const std::optional<ReaderSettings> &held, const QString &unreadable,
                             const SettingsWriteRequest &request, ProvisionRecord *record)
{
    ReaderLink &link = *readerLink;
    bool declined = false;
    WriteOptions options;
    // What the reader holds could not be read, so there is nothing to keep:
    // the same question as for a history that cannot be written.
    if (!held && !writeAnyway(this, unreadable))
        return false;
    if (held) {
        options.history = writeHistory.get();
        options.writeWithoutHistory = [this, &declined](const QString &reason) {
            declined = !writeAnyway(this, reason);
            return !declined;
        };
    }
    ProvisionRecord start;
    start.reader = connectedIdentity();
    start.path = link.location();
    start.transport = link.transport();
    if (held)
        start.firmware = settingsToJson(*held).value(QStringLiteral("firmware")).toString();
    ReaderSettings none;
    none.source = link.transport() == ReaderLink::Transport::Serial ? SettingsSource::Serial : SettingsSource::Hid;
    *record = guardedWrite(link, start, held.value_or(none), request, options);
    return !declined;
}

void MainWindow::showWriteOutcome(const ProvisionRecord &record, const SettingsWriteRequest &request, bool fromForm)
{
    const bool serial = record.transport == ReaderLink::Transport::Serial;
    if (record.result == ProvisionResult::Confirmed) {
        const ReaderSettings expected =
            SettingsWriteSequence(request, serial ? WriteTransport::Serial : WriteTransport::Hid).expected();
        // The form's texts stand for what was sent; an undo's settings are
        // the reader's, shown as a read shows them.
        if (fromForm)
            form.remember(request, expected);
        else
            form.apply(expected);
        if (!record.reason.isEmpty())
            showStatus(record.reason);
        tell(QStringLiteral("Successfully set iButton set value"));
        return;
    }
    if (isReadBackReason(record.reason)) {
        tell(record.reason);
        return;
    }
    // The reader keeps what it got; over USB the box stays as it was, the
    // status bar says where the write stopped.
    if (!serial) {
        showStatus(QStringLiteral("Writing stopped: %1").arg(record.reason));
        return;
    }
    qCDebug(lcApp) << "Serial write failed:" << record.reason;
    tell(QStringLiteral("Failed to set iButton set value, please check the connection."));
}

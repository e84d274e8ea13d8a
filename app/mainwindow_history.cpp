// The window's side of the history and the bench: every write's record,
// undoing the last one, the entries listed, and the bench window that takes
// the readers over while it is open.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/accessibility.h"
#include "app/historydialog.h"
#include "app/provisionwindow.h"
#include "app/tracing.h"
#include "link/devicemonitor.h"
#include "provision/history.h"
#include "provision/provisionjob.h"
#include "provision/readerlock.h"
#include "settings/settingsfile.h"
#include "settings/settingsread.h"
#include "settings/settingsverify.h"

#include <QDebug>
#include <QJsonDocument>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>

namespace {

const QString UndoTitle = QStringLiteral("Undo Last Write");
// The boxes of a write, Set Status's or an undo's, as Set Status has always
// shown them.
const QString WriteTitle = QStringLiteral("Setting iButton");

void tell(const QString &text)
{
    QMessageBox::information(nullptr, WriteTitle, text, QMessageBox::Yes, QMessageBox::NoButton);
}

QString entryTime(const ProvisionRecord &entry)
{
    return entry.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// Why an entry found by where the reader sits may be another reader's.
QString placeNote(const ReaderIdentity &reader)
{
    if (reader.basis == ReaderIdentity::Basis::SerialPort)
        return QStringLiteral("A reader on a serial port is known only by its port (%1): the entry may be of "
                              "another reader that was on that port.")
            .arg(reader.id);
    return QStringLiteral("This reader reports no serial number: it is known only by the USB port it sits in "
                          "(%1), so the entry may be of another reader that was plugged in there.")
        .arg(reader.id);
}

} // namespace

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
    const ReaderLock lock(connectedIdentity());
    if (!lock.held()) {
        showStatus(QStringLiteral("Nothing was written: %1.").arg(lock.refusal()), true);
        return;
    }
    QString why;
    std::optional<ReaderSettings> held = SettingsRead::everySetting(link, &why);
    // A connection lost in the read has been shown as gone.
    if (!link.isOpen())
        return;
    // A USB reader that did not even take the request is not there to be
    // written: no question, the status bar says why, as for a write.
    if (!held && link.transport() == ReaderLink::Transport::Hid && link.failure() != ReaderLink::Failure::NoReply
        && !link.errorString().isEmpty() && why.endsWith(link.errorString())) {
        showStatus(QStringLiteral("Nothing was written: the reader could not be read (%1).").arg(why), true);
        return;
    }
    // The form has no boxes for the flag bits without a name: they stay as
    // the reader holds them.
    SettingsWriteRequest carried = request;
    if (held && held->flags)
        carried.flags = quint8((carried.flags & ~UnnamedFlagBits) | (*held->flags & UnnamedFlagBits));
    ProvisionRecord record;
    if (!windowWrite(held, why, carried, &record))
        return;
    showWriteOutcome(record, carried, true);
}

bool MainWindow::windowWrite(const std::optional<ReaderSettings> &held, const QString &unreadable,
                             const SettingsWriteRequest &request, ProvisionRecord *record, const QString &undoes)
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
    start.undoes = undoes;
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
            showStatus(record.reason, true);
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
        showStatus(QStringLiteral("Writing stopped: %1").arg(record.reason), true);
        return;
    }
    qCDebug(lcApp) << "Serial write failed:" << record.reason;
    tell(QStringLiteral("Failed to set iButton set value, please check the connection."));
}

void MainWindow::addHistoryActions(QMenu *file)
{
    writeHistory = std::make_shared<History>();
    file->addSeparator();
    QAction *bench = file->addAction(QStringLiteral("&Provision Readers..."), this, [this] { openProvisionWindow(); });
    bench->setObjectName(QStringLiteral("actionProvisionReaders"));
    QAction *history = file->addAction(QStringLiteral("&History..."), this, &MainWindow::showHistory);
    history->setObjectName(QStringLiteral("actionHistory"));
    QMenu *edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    QAction *undo = edit->addAction(QStringLiteral("&Undo Last Write"), this, &MainWindow::undoLastWrite);
    undo->setObjectName(QStringLiteral("actionUndoLastWrite"));
    // An edit with the focus keeps Ctrl+Z for its own text.
    undo->setShortcut(QKeySequence(QStringLiteral("Ctrl+Z")));
}

ReaderIdentity MainWindow::connectedIdentity() const
{
    const QString where = readerLink->location();
    if (readerLink->transport() == ReaderLink::Transport::Serial)
        return serialReaderIdentity(where);
    if (const std::optional<ProvisionTarget> target = attachedUsbReader(where))
        return target->identity;
    return {where, ReaderIdentity::Basis::DevicePath};
}

WriteTransport MainWindow::formTransport() const
{
    const bool serial = readerLink->transport() == ReaderLink::Transport::Serial
        || (!readerLink->isOpen() && form.source() == SettingsSource::Serial);
    return serial ? WriteTransport::Serial : WriteTransport::Hid;
}

void MainWindow::warnDamagedHistory(int damagedLines)
{
    if (damagedLines <= 0)
        return;
    const QString warning = QStringLiteral("The history %1 has %2 damaged line(s); they were skipped.")
                                .arg(writeHistory->path())
                                .arg(damagedLines);
    // Beside what the bar says already (a load, the connection), once.
    const QString shown = statusText();
    if (!shown.contains(warning))
        showStatus(shown.isEmpty() ? warning : shown + QLatin1Char(' ') + warning, true);
}

void MainWindow::undoLastWrite()
{
    ReaderLink &link = *readerLink;
    if (!link.isOpen()) {
        QMessageBox::warning(this, UndoTitle,
                             QStringLiteral("No reader is connected: connect the reader whose last write is to "
                                            "be undone."));
        return;
    }
    const ReaderIdentity reader = connectedIdentity();
    int damaged = 0;
    QString unreadable;
    const std::optional<ProvisionRecord> entry = writeHistory->newestFor(reader, &damaged, &unreadable);
    warnDamagedHistory(damaged);
    if (!unreadable.isEmpty()) {
        QMessageBox::warning(this, UndoTitle,
                             QStringLiteral("Cannot read the history (%1): nothing can be undone.\n%2")
                                 .arg(unreadable, writeHistory->path()));
        return;
    }
    if (!entry) {
        QMessageBox::information(this, UndoTitle,
                                 QStringLiteral("The history holds no write to this reader (%1): there is nothing "
                                                "to undo.")
                                     .arg(reader.id));
        return;
    }

    const ReaderLock lock(reader);
    if (!lock.held()) {
        QMessageBox::warning(this, UndoTitle, QStringLiteral("%1: nothing was written.").arg(lock.refusal()));
        return;
    }
    QString why;
    const std::optional<ReaderSettings> held = SettingsRead::everySetting(link, &why);
    if (!link.isOpen())
        return;
    if (!held) {
        QMessageBox::warning(this, UndoTitle,
                             QStringLiteral("The reader could not be read (%1): nothing was written.").arg(why));
        return;
    }
    QStringList errors;
    const std::optional<SettingsPatch> patch = beforeAsPatch(*entry, formTransport(), &errors);
    if (!patch) {
        QMessageBox::warning(this, UndoTitle,
                             QStringLiteral("The settings from before the write of %1 cannot be written back:\n%2")
                                 .arg(entryTime(*entry), errors.join(QLatin1Char('\n'))));
        return;
    }
    const SettingsWriteRequest request = mergedWriteRequest(*held, *patch);
    const QList<SettingsVerify::Difference> back = SettingsVerify::compare(settingsAfterWrite(*held, *patch), *held);
    QStringList lines;
    if (back.isEmpty()) {
        lines << QStringLiteral("The reader holds what it held before the write of %1: nothing changes back.")
                     .arg(entryTime(*entry));
    } else {
        lines << QStringLiteral("Undo the write of %1? These settings change back:").arg(entryTime(*entry));
        for (const SettingsVerify::Difference &d : back)
            lines << QStringLiteral("%1: now %2, then %3").arg(d.field, d.held, d.sent);
    }
    if (reader.byPlace())
        lines << QString() << placeNote(reader);
    if (back.isEmpty()) {
        // Kept as an undo all the same: the next one steps further back.
        ProvisionRecord start;
        start.reader = reader;
        start.path = link.location();
        start.transport = link.transport();
        const ProvisionRecord noted = noteUndoneAlready(start, *held, *entry, writeHistory.get());
        if (!noted.historyError.isEmpty())
            lines << QString()
                  << QStringLiteral("This could not be saved to the history (%1): the next undo takes the same write.")
                         .arg(noted.historyError);
        QMessageBox::information(this, UndoTitle, lines.join(QLatin1Char('\n')));
        return;
    }
    if (QMessageBox::question(this, UndoTitle, lines.join(QLatin1Char('\n')), QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No)
        != QMessageBox::Yes)
        return;
    ProvisionRecord record;
    if (windowWrite(held, QString(), request, &record, entry->entryId))
        showWriteOutcome(record, request, false);
}

void MainWindow::showHistory()
{
    HistoryDialog dialog(*writeHistory,
                         readerLink->isOpen() ? std::optional<ReaderIdentity>(connectedIdentity()) : std::nullopt, this);
    connect(&dialog, &HistoryDialog::loadRequested, this, &MainWindow::loadIntoForm);
    Accessibility::returnFocusOnClose(&dialog, focusWidget());
    dialog.exec();
    // After the dialog, so that what a load says does not wipe it out.
    warnDamagedHistory(dialog.damagedLines());
}

bool MainWindow::loadIntoForm(const QJsonObject &settings, const QString &origin)
{
    QStringList errors;
    std::optional<SettingsPatch> patch =
        parseSettingsPatch(QJsonDocument(settings).toJson(QJsonDocument::Compact), formTransport(), &errors);
    if (!patch) {
        QMessageBox::warning(this, QStringLiteral("History"),
                             QStringLiteral("The settings %1 were not loaded:\n%2").arg(origin, errors.join(QLatin1Char('\n'))));
        return false;
    }
    if (!mayReplaceForm(QStringLiteral("the settings %1").arg(origin)))
        return false;
    QString loaded = QStringLiteral("Loaded the settings %1: press Set Status to write them to the reader.").arg(origin);
    // As Load Settings does: an entry of a USB reader loaded for a serial one.
    for (const QString &note : takeOutUncarried(*patch, formTransport()))
        loaded += QLatin1Char(' ') + note + QLatin1Char('.');
    form.load(*patch);
    showStatus(loaded);
    return true;
}

ProvisionWindow *MainWindow::openProvisionWindow(const QString &settingsFile)
{
    if (!bench) {
        // Before the connect button, which may have it, is disabled.
        QWidget *opener = focusWidget();
        // One program, one holder of a reader: the bench opens each itself.
        reconnectAfterBench = readerLink->isOpen();
        reconnectUsbPath = readerLink->transport() == ReaderLink::Transport::Hid ? readerLink->location() : QString();
        if (reconnectAfterBench)
            DisconnectReader();
        ui->ConnectBut->setEnabled(false);
        // Opened before the window's start-up is done (--provision), the
        // bench still hears of readers plugged in.
        if (!deviceMonitor)
            watchDevices(systemDeviceEvents());
        if (deviceMonitor)
            disconnect(deviceMonitor, &DeviceMonitor::usbReaderAdded, this, &MainWindow::onUsbReaderAdded);
        bench = new ProvisionWindow(writeHistory.get(), deviceMonitor, [this] { return benchFormOffer(); }, this);
        connect(bench, &ProvisionWindow::closed, this, &MainWindow::onBenchClosed);
        Accessibility::returnFocusOnClose(bench, opener);
        showStatus(QStringLiteral("Provision Readers is open: this window holds no connection until it closes."));
    }
    if (!settingsFile.isEmpty())
        bench->useFile(settingsFile);
    bench->show();
    bench->raise();
    bench->activateWindow();
    return bench;
}

BenchFormOffer MainWindow::benchFormOffer() const
{
    BenchFormOffer offer;
    if (!form.chosen()) {
        offer.unavailable = QStringLiteral("The form was neither read from a reader nor loaded from a file since "
                                           "Tavrin started: it holds no settings anybody chose.");
        return offer;
    }
    // The checks Set Status makes: a value the reader would get as another
    // is refused, not sent.
    offer.problems = writeRequestProblems(form.writeRequest(), WriteTransport::Hid);
    offer.settings = form.current();
    return offer;
}

void MainWindow::onBenchClosed()
{
    if (quitWithBench) {
        // Once the bench is gone, so is this window, and with it the process.
        if (isVisible())
            QMetaObject::invokeMethod(this, "closeWithoutAsking", Qt::QueuedConnection);
        return;
    }
    ui->ConnectBut->setEnabled(true);
    if (deviceMonitor)
        connect(deviceMonitor, &DeviceMonitor::usbReaderAdded, this, &MainWindow::onUsbReaderAdded,
                Qt::UniqueConnection);
    // The connection's state shows already: said again, it would show twice.
    if (!reconnectAfterBench) {
        statusBar()->clearMessage();
        return;
    }
    reconnectAfterBench = false;
    // As a click would, to the reader that was connected: it is read again,
    // since the bench may have changed it; a reader gone meanwhile leaves
    // the reason in the status bar.
    connectReader(reconnectUsbPath);
}

ProvisionWindow *MainWindow::provisionWindow() const
{
    return bench;
}

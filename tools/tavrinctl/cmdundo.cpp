#include "commands.h"

#include "ctl.h"
#include "ctlsession.h"

#include "provision/history.h"

#include <QFile>
#include <QJsonObject>
#include <QTextStream>

#include <algorithm>

namespace Tavrinctl {

const char *const undoHelp =
    "Usage: tavrinctl undo [--port NAME | --device PATH] [--dry-run] [--no-verify]\n"
    "                      [--no-history]\n"
    "       tavrinctl undo (--all | --run ID) [--dry-run] [--no-verify] [--no-history]\n"
    "Writes back what the reader held before the newest write in the history of\n"
    "that reader (its serial number, or the USB port or serial port it is known\n"
    "by), checked by reading it back, and prints each setting it changes back as\n"
    "\"name: now -> then\". Writes that changed nothing are passed over. The undo\n"
    "is itself an entry of the history that names the write it took back: a\n"
    "second undo goes to the write before that one. Entries of other readers are\n"
    "never used.\n"
    "  --all       undo, for each reader, the last write of the most recent bench\n"
    "              run ('apply' or the bench window): one block per reader\n"
    "  --run ID    the same for the run 'history' shows as run ID (its first\n"
    "              characters are enough)\n"
    "  --dry-run   print what would change back and send nothing\n"
    "Exit codes: 0 written back and confirmed (or nothing to change, or a dry\n"
    "run), 1 no entry, a history that cannot be read, a reader not attached or\n"
    "a write that failed, 2 usage error.\n";

namespace {

// Takes back entry on the open reader of session, that holds current; the
// changes are printed first, each line after indent.
int undoOne(const Options &options, Session &session, const ProvisionRecord &entry, const ReaderSettings &current,
            const QString &indent)
{
    const WriteTransport transport =
        session.target.transport == ReaderLink::Transport::Serial ? WriteTransport::Serial : WriteTransport::Hid;
    QStringList errors;
    const std::optional<SettingsPatch> patch = beforeAsPatch(entry, transport, &errors);
    const QString when = entry.time.toString(Qt::ISODate);
    if (!patch) {
        for (const QString &error : std::as_const(errors))
            session.fail(ReaderFailure, QStringLiteral("the entry of %1 cannot be written back: %2").arg(when, error));
        return ReaderFailure;
    }
    const QList<SettingChange> changes = plannedChanges(current, *patch);
    if (changes.isEmpty()) {
        session.io.out << indent << "the reader holds what it held before the write of " << when
                    << " already; nothing was written\n";
        if (options.dryRun)
            return Success;
        const std::unique_ptr<History> history = session.history(options);
        const ProvisionRecord noted = noteUndoneAlready(session.record(current), current, entry, history.get());
        if (!noted.historyError.isEmpty())
            return session.fail(ReaderFailure,
                                QStringLiteral("the undo could not be saved to the history (%1): the next undo "
                                               "takes the same write")
                                    .arg(noted.historyError));
        return Success;
    }
    session.io.out << indent << (options.dryRun ? "would go back" : "back") << " to the settings from before the write of "
                << when << ":\n";
    const QJsonObject now = settingsToJson(current);
    const QJsonObject then = settingsToJson(settingsAfterWrite(current, *patch));
    for (const SettingChange &c : changes)
        session.io.out << indent << "  " << settingLabel(c.name) << ": " << fileText(now.value(c.name)) << " -> "
                    << fileText(then.value(c.name)) << '\n';
    if (options.dryRun) {
        session.io.out << indent << "nothing was sent (--dry-run)\n";
        return Success;
    }
    session.io.out.flush();
    return session.write(options, current, mergedWriteRequest(current, *patch), {}, entry.entryId);
}

// Where the reader of a run's entry is now: a USB reader by its identity
// among those attached, a serial one by its port.
std::optional<ProvisionTarget> whereNow(const ProvisionRecord &entry, Session &session)
{
    if (entry.transport == ReaderLink::Transport::Serial) {
        ProvisionTarget target;
        QString ignored;
        QTextStream quiet(&ignored);
        if (serialPortTarget(QFile::encodeName(entry.reader.id), session.links.path(), quiet, target) != Success)
            return std::nullopt;
        return target;
    }
    const QList<ProvisionTarget> attached = attachedUsbReaders();
    const auto found = std::find_if(attached.begin(), attached.end(),
                                    [&entry](const ProvisionTarget &t) { return t.identity == entry.reader; });
    return found == attached.end() ? std::nullopt : std::optional<ProvisionTarget>(*found);
}

int undoRun(const Options &options, Io &io, const History &history, const QList<ProvisionRecord> &entries)
{
    const QString asked = options.run ? QString::fromUtf8(*options.run) : QString();
    const QString runId = History::runNamed(entries, asked);
    if (runId.isEmpty())
        return complain(io.err, ReaderFailure,
                        asked.isEmpty()
                            ? QStringLiteral("no bench run in the history (%1); nothing was written").arg(history.path())
                            : QStringLiteral("no one bench run %1 in the history ('tavrinctl history --all' shows "
                                             "them); nothing was written")
                                  .arg(shown(*options.run)));
    const QList<RunUndo> readers = runToUndo(entries, runId);
    io.out << "run " << runId << ": " << readers.size() << " reader(s) written\n";
    int code = Success;
    for (const RunUndo &r : readers) {
        io.out << r.entry.reader.id << ' ' << r.entry.path << ":\n";
        if (r.state == RunUndo::State::Undone) {
            io.out << "  taken back already; nothing was written\n";
            continue;
        }
        if (r.state == RunUndo::State::WrittenSince) {
            io.out << "  written again since the run (" << r.newer->time.toString(Qt::ISODate)
                   << "): undo that write first ('tavrinctl undo' of this reader); nothing was written\n";
            code = ReaderFailure;
            continue;
        }
        Session session(io);
        const std::optional<ProvisionTarget> target = whereNow(r.entry, session);
        if (!target) {
            io.out << "  not attached: plug it in and run the undo again; nothing was written\n";
            code = ReaderFailure;
            continue;
        }
        session.target = *target;
        io.out.flush();
        ReaderSettings current;
        if (session.openAndRead(current, true) != Success || undoOne(options, session, r.entry, current, QStringLiteral("  "))
            != Success)
            code = ReaderFailure;
        io.out.flush();
    }
    return code;
}

} // namespace

int undoCommand(const Options &options, Io &io)
{
    if (!options.positional.isEmpty())
        return complain(io.err, UsageError, QStringLiteral("undo takes no FILE"));
    const bool wholeRun = options.all || options.run;
    if (wholeRun && (options.port() || options.device()))
        return complain(io.err, UsageError, QStringLiteral("--all and --run take every reader of the run; give no "
                                                           "--port or --device"));
    const History history;
    const History::Listing listing = history.read();
    if (!listing.reason.isEmpty())
        return complain(io.err, ReaderFailure,
                        QStringLiteral("cannot read the history (%1): nothing can be undone").arg(listing.reason));
    Session session(io);
    session.warnDamaged(history.path(), listing.damagedLines);
    if (wholeRun)
        return undoRun(options, io, history, listing.entries);

    ReaderSettings current;
    if (const int failed = session.openAndRead(options, current, true); failed != Success)
        return failed;
    const ProvisionRecord reader = session.record(current);
    const std::optional<ProvisionRecord> entry = entryToUndo(listing.entries, reader.reader);
    if (!entry) {
        const bool any = std::any_of(listing.entries.cbegin(), listing.entries.cend(),
                                     [&reader](const ProvisionRecord &e) { return e.isOf(reader.reader); });
        return session.fail(ReaderFailure,
                            (any ? QStringLiteral("every write to %1 in the history (%2) is taken back already; "
                                                  "nothing was written")
                                 : QStringLiteral("no write to %1 in the history (%2); nothing was written"))
                                .arg(reader.reader.id, history.path()));
    }
    if (reader.reader.byPlace())
        session.fail(Success, QStringLiteral("note: %1").arg(placeNote(reader.reader)));
    return undoOne(options, session, *entry, current, QString());
}

} // namespace Tavrinctl

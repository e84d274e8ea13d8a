#include "commands.h"

#include "ctl.h"
#include "ctlsession.h"

#include "provision/history.h"

#include <QJsonObject>
#include <QTextStream>

namespace Tavrinctl {

const char *const undoHelp =
    "Usage: tavrinctl undo [--port NAME | --device PATH] [--no-verify] [--no-history]\n"
    "Writes back what the reader held before the newest write in the history of\n"
    "that reader (its serial number, or the USB port or serial port it is known\n"
    "by), checked by reading it back, and prints each setting it changes back as\n"
    "\"name: now -> then\". The undo is itself a write in the history: a second\n"
    "undo takes it back. Entries of other readers are never used.\n"
    "Exit codes: 0 written back and confirmed (or nothing to change), 1 no entry\n"
    "for this reader or the write failed, 2 usage error.\n";

int undoCommand(const Options &options, Io &io)
{
    if (!options.positional.isEmpty())
        return complain(io.err, UsageError, QStringLiteral("undo takes no FILE"));
    Session session(io);
    ReaderSettings current;
    if (const int failed = session.openAndRead(options, current, true); failed != Success)
        return failed;
    const ProvisionRecord reader = session.record(current);

    const History history;
    int damaged = 0;
    const std::optional<ProvisionRecord> entry = history.newestFor(reader.reader, &damaged);
    session.warnDamaged(history.path(), damaged);
    if (!entry)
        return session.fail(ReaderFailure, QStringLiteral("no write to %1 in the history (%2); nothing was written")
                                               .arg(reader.reader.id, history.path()));
    if (reader.reader.byPlace())
        session.fail(Success, QStringLiteral("note: %1").arg(placeNote(reader.reader)));

    QStringList errors;
    const std::optional<SettingsPatch> patch = beforeAsPatch(*entry, transportOf(options), &errors);
    if (!patch) {
        for (const QString &error : std::as_const(errors))
            session.fail(ReaderFailure, QStringLiteral("the entry of %1 cannot be written back: %2")
                                            .arg(entry->time.toString(Qt::ISODate), error));
        return ReaderFailure;
    }
    const QList<SettingChange> changes = plannedChanges(current, *patch);
    if (changes.isEmpty()) {
        io.out << "the reader holds what it held before the write of " << entry->time.toString(Qt::ISODate)
               << " already; nothing was written\n";
        return Success;
    }
    io.out << "back to the settings from before the write of " << entry->time.toString(Qt::ISODate) << ":\n";
    const QJsonObject now = settingsToJson(current);
    const QJsonObject then = settingsToJson(settingsAfterWrite(current, *patch));
    for (const SettingChange &c : changes)
        io.out << "  " << c.name << ": " << fileText(now.value(c.name)) << " -> " << fileText(then.value(c.name))
               << '\n';
    io.out.flush();
    return session.write(options, current, mergedWriteRequest(current, *patch));
}

} // namespace Tavrinctl

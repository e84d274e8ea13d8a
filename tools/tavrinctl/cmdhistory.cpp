#include "commands.h"

#include "ctl.h"
#include "ctlsession.h"

#include "provision/history.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>

#include <algorithm>

namespace Tavrinctl {

const char *const historyHelp =
    "Usage: tavrinctl history [--port NAME | --device PATH | --all] [--json]\n"
    "Lists the history of writes, newest first: time, reader, path, result and the\n"
    "settings each write changed. Without an option, of the USB reader attached;\n"
    "--all lists every reader's. A reader is known by its USB serial number, or\n"
    "when it reports none by the USB port it sits in (then the entries are of\n"
    "whichever reader sat there); over serial by its port.\n"
    "The history is $XDG_STATE_HOME/tavrin/history.jsonl (~/.local/state/... when\n"
    "XDG_STATE_HOME is unset). With --json, one JSON array of its records.\n"
    "An undo is marked \"undo of TIME\" (in JSON, \"undoes\": the entry's id); a\n"
    "write of a bench run \"run ID\" (\"run\"), which 'undo --run ID' takes back.\n";

QString placeNote(const ReaderIdentity &reader)
{
    switch (reader.basis) {
    case ReaderIdentity::Basis::SerialNumber:
        break;
    case ReaderIdentity::Basis::UsbPort:
    case ReaderIdentity::Basis::DevicePath:
        return QStringLiteral("the reader reports no serial number: it is known by the USB port it sits in (%1), "
                              "and entries of it may be of another reader once plugged in there")
            .arg(reader.id);
    case ReaderIdentity::Basis::SerialPort:
        return QStringLiteral("a reader on a serial port is known by the port (%1): entries of it may be of "
                              "another reader once connected there")
            .arg(reader.id);
    }
    return QString();
}

int historyCommand(const Options &options, Io &io)
{
    if (!options.positional.isEmpty())
        return complain(io.err, UsageError, QStringLiteral("history takes no FILE"));
    if (options.all && (options.port() || options.device()))
        return complain(io.err, UsageError, QStringLiteral("--all lists every reader; give it alone"));

    Session session(io);
    std::optional<ReaderIdentity> reader;
    if (!options.all) {
        if (const int failed = session.choose(options, session.target); failed != Success)
            return failed;
        if (session.target.identity.id.isEmpty())
            return session.fail(ReaderFailure, QStringLiteral("no USB reader is attached ('--all' lists every "
                                                              "reader's entries)"));
        reader = session.target.identity;
    }

    const History history;
    const History::Listing listing = history.read();
    if (!listing.reason.isEmpty())
        return session.fail(ReaderFailure,
                            QStringLiteral("cannot read the history (%1): %2").arg(listing.reason, history.path()));
    session.warnDamaged(history.path(), listing.damagedLines);
    if (reader && reader->byPlace())
        session.fail(Success, QStringLiteral("note: %1").arg(placeNote(*reader)));

    QList<ProvisionRecord> entries;
    for (auto it = listing.entries.crbegin(); it != listing.entries.crend(); ++it) {
        if (!reader || it->isOf(*reader))
            entries.append(*it);
    }
    if (options.json) {
        QJsonArray list;
        for (const ProvisionRecord &r : std::as_const(entries))
            list.append(r.toJson());
        io.out << QJsonDocument(list).toJson(QJsonDocument::Indented);
        return Success;
    }
    if (entries.isEmpty()) {
        io.out << "no entries" << (reader ? QStringLiteral(" for %1").arg(reader->id) : QString()) << " in "
               << history.path() << '\n';
        return Success;
    }
    for (const ProvisionRecord &r : std::as_const(entries)) {
        QStringList changed;
        if (r.before && r.written) {
            for (const SettingChange &c : settingChanges(*r.before, *r.written))
                changed << settingLabel(c.name);
        }
        io.out << r.time.toString(Qt::ISODate) << "  " << r.reader.id << "  " << r.path << "  "
               << resultText(r.result);
        if (!r.undoes.isEmpty()) {
            const auto undone = std::find_if(listing.entries.cbegin(), listing.entries.cend(),
                                             [&r](const ProvisionRecord &e) { return e.entryId == r.undoes; });
            io.out << "  undo of "
                   << (undone != listing.entries.cend() ? undone->time.toString(Qt::ISODate)
                                                        : QStringLiteral("an entry no longer kept"));
        }
        if (!r.runId.isEmpty())
            io.out << "  run " << r.runId.left(8);
        if (!changed.isEmpty())
            io.out << "  " << changed.join(QStringLiteral(", "));
        else if (r.before && r.written && r.result != ProvisionResult::Failed)
            io.out << "  nothing changed";
        io.out << '\n';
    }
    return Success;
}

} // namespace Tavrinctl

#include "commands.h"

#include "ctl.h"
#include "ctlsession.h"

#include "settings/settingsread.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace Tavrinctl {

const char *const diffHelp =
    "Usage: tavrinctl diff [--port NAME | --device PATH] [--json] [--strict] FILE\n"
    "       tavrinctl diff FILE (--all | --device PATH... | --port NAME...) [--json] [--strict]\n"
    "Reads the reader and prints, one line per setting that writing FILE would\n"
    "change, \"label: held -> would be\", the setting named as the window labels it\n"
    "(key codes as text, as in a settings file).\n"
    "Sends nothing but the read. With --json, one JSON array of objects: field,\n"
    "held, wouldBe; field is the settings file's key.\n"
    "With --all (every USB reader attached) or several readers named, one line\n"
    "per reader: \"reader path: label: held -> would be; ...\", \"nothing would\n"
    "change\" or \"failed: why\"; with --json, one record per reader: reader, path,\n"
    "transport, changes (as above; null when it could not be read), error.\n"
    "A field the interface cannot carry (keyboardCountry over a serial port) is\n"
    "left out with a note on standard error; --strict refuses it.\n"
    "Exit codes: 0 nothing would change, 3 something would (on any reader), 1 a\n"
    "reader could not be read, 2 usage or input error (the checks of 'write').\n";

namespace {

struct ReaderDiff
{
    ProvisionTarget target;
    QString path;
    std::optional<QJsonArray> changes; // null: not read
    QStringList lines;                 // "name: held -> would be"
    QString error;
};

ReaderDiff diffOf(const ProvisionTarget &target, const SettingsPatch &patch)
{
    ReaderDiff diff{target, target.where, std::nullopt, {}, {}};
    ReaderLink link;
    if (!link.open(target.transport, target.where)) {
        diff.error = QStringLiteral("cannot open %1: %2").arg(target.where, link.errorString());
        return diff;
    }
    diff.path = link.location();
    const std::optional<ReaderSettings> held = SettingsRead::everySetting(link, &diff.error);
    if (!held)
        return diff;
    const QJsonObject now = settingsToJson(*held);
    const QJsonObject after = settingsToJson(settingsAfterWrite(*held, patch));
    diff.changes = QJsonArray();
    for (const SettingChange &c : plannedChanges(*held, patch)) {
        diff.changes->append(QJsonObject{{QStringLiteral("field"), c.name},
                                         {QStringLiteral("held"), now.value(c.name)},
                                         {QStringLiteral("wouldBe"), after.value(c.name)}});
        diff.lines << QStringLiteral("%1: %2 -> %3").arg(settingLabel(c.name), fileText(now.value(c.name)), fileText(after.value(c.name)));
    }
    return diff;
}

// Each reader read in turn: a diff sends nothing but reads, and a bench's
// readers answer within a second each.
int diffEach(const Options &options, const SettingsPatch &patch, Io &io)
{
    Session session(io);
    QList<ProvisionTarget> targets;
    if (const int failed = namedTargets(options, session, targets); failed != Success)
        return failed;
    sayLeftOut(patch, options, io);
    bool anyFailed = false;
    bool anyDiffers = false;
    QJsonArray records;
    for (const ProvisionTarget &target : std::as_const(targets)) {
        const ReaderDiff d = diffOf(target, patch);
        anyFailed = anyFailed || !d.changes;
        anyDiffers = anyDiffers || (d.changes && !d.changes->isEmpty());
        if (options.json) {
            records.append(QJsonObject{
                {QStringLiteral("reader"), target.identity.id},
                {QStringLiteral("path"), d.path},
                {QStringLiteral("transport"), transportText(target.transport)},
                {QStringLiteral("changes"), d.changes ? QJsonValue(*d.changes) : QJsonValue(QJsonValue::Null)},
                {QStringLiteral("error"), d.changes ? QJsonValue(QJsonValue::Null) : QJsonValue(d.error)},
            });
            continue;
        }
        io.out << target.identity.id << ' ' << d.path << ": ";
        if (!d.changes)
            io.out << "failed: " << QString(d.error).replace(QLatin1Char('\n'), QLatin1String("; "));
        else if (d.lines.isEmpty())
            io.out << "nothing would change";
        else
            io.out << d.lines.join(QStringLiteral("; "));
        io.out << '\n';
    }
    if (options.json)
        io.out << QJsonDocument(records).toJson(QJsonDocument::Indented);
    // A reader not read may differ: "nothing would change" cannot be said.
    return anyFailed ? ReaderFailure : anyDiffers ? WouldChange : Success;
}

} // namespace

int diffCommand(const Options &options, Io &io)
{
    if (options.positional.size() != 1)
        return complain(io.err, UsageError, QStringLiteral("diff needs exactly one FILE (- for standard input)"));
    if (options.all && (options.port() || options.device()))
        return complain(io.err, UsageError, QStringLiteral("--all takes every USB reader attached; give it alone"));
    SettingsPatch patch;
    if (const int failed = loadPatch(options.positional.first(), options, io, patch); failed != Success)
        return failed;
    if (options.all || options.ports.size() + options.devices.size() > 1)
        return diffEach(options, patch, io);

    Session session(io);
    ReaderSettings held;
    if (const int failed = session.openAndRead(options, held); failed != Success)
        return failed;
    sayLeftOut(patch, options, io);
    const QList<SettingChange> changes = plannedChanges(held, patch);
    const QJsonObject now = settingsToJson(held);
    const QJsonObject after = settingsToJson(settingsAfterWrite(held, patch));
    if (options.json) {
        QJsonArray list;
        for (const SettingChange &c : changes)
            list.append(QJsonObject{{QStringLiteral("field"), c.name},
                                    {QStringLiteral("held"), now.value(c.name)},
                                    {QStringLiteral("wouldBe"), after.value(c.name)}});
        io.out << QJsonDocument(list).toJson(QJsonDocument::Indented);
    } else {
        for (const SettingChange &c : changes)
            io.out << settingLabel(c.name) << ": " << fileText(now.value(c.name)) << " -> " << fileText(after.value(c.name)) << '\n';
    }
    return changes.isEmpty() ? Success : WouldChange;
}

} // namespace Tavrinctl

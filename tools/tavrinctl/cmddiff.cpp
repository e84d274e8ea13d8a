#include "commands.h"

#include "ctl.h"
#include "ctlsession.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace Tavrinctl {

const char *const diffHelp =
    "Usage: tavrinctl diff [--port NAME | --device PATH] [--json] FILE\n"
    "Reads the reader and prints, one line per setting that writing FILE would\n"
    "change, \"label: held -> would be\", the setting named as the window labels it\n"
    "(key codes as text, as in a settings file).\n"
    "Sends nothing but the read. With --json, one JSON array of objects: field,\n"
    "held, wouldBe; field is the settings file's key.\n"
    "Exit codes: 0 nothing would change, 3 something would, 1 the reader could not\n"
    "be read, 2 usage or input error (the checks of 'write').\n";

int diffCommand(const Options &options, Io &io)
{
    if (options.positional.size() != 1)
        return complain(io.err, UsageError, QStringLiteral("diff needs exactly one FILE (- for standard input)"));
    SettingsPatch patch;
    if (const int failed = loadPatch(options.positional.first(), transportOf(options), io, patch); failed != Success)
        return failed;

    Session session(io);
    ReaderSettings held;
    if (const int failed = session.openAndRead(options, held); failed != Success)
        return failed;
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

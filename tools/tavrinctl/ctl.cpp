#include "ctl.h"

#include "commands.h"
#include "ctloptions.h"

#include "settings/settingsfile.h"

#include <QFile>
#include <QTextStream>

namespace Tavrinctl {
namespace {

const char *const usageText =
    "Usage: tavrinctl COMMAND [OPTIONS]\n"
    "Reads, backs up and writes the settings of iButton readers.\n"
    "\n"
    "Commands:\n"
    "  list [--json]                          readers and serial ports this computer sees\n"
    "  read [--port NAME | --device PATH] [-o FILE]\n"
    "                                         print the reader's settings as one JSON object\n"
    "  write [--port NAME | --device PATH] [--no-verify] [--no-history] [--strict] FILE\n"
    "                                         write the settings in FILE (- for standard input)\n"
    "  diff [--port NAME | --device PATH] [--json] [--strict] FILE\n"
    "  diff FILE (--all | --device PATH... | --port NAME...) [--json] [--strict]\n"
    "                                         what writing FILE would change\n"
    "  apply FILE (--all | --device PATH... | --port NAME... | --watch [--count N])\n"
    "        [--json] [--log LOG] [--no-verify] [--no-history] [--strict]\n"
    "                                         write FILE to many readers side by side\n"
    "  history [--port NAME | --device PATH | --all] [--json]\n"
    "                                         the writes kept, newest first\n"
    "  undo [--port NAME | --device PATH] [--dry-run] [--no-history]\n"
    "                                         write back what the reader held before its last write\n"
    "  undo (--all | --run ID) [--dry-run] [--no-history]\n"
    "                                         the same for every reader a bench run wrote\n"
    "  help [COMMAND]                         this text, or more about a command\n"
    "\n"
    "Without --port the reader is reached over USB HID: the one attached, or the\n"
    "one at PATH (as 'list' prints it) when several are. With --port, over that\n"
    "serial port (COM1 is /dev/ttyS0; a name or a path is taken as it is).\n"
    "Every write saves what the reader held to $XDG_STATE_HOME/tavrin/history.jsonl\n"
    "(~/.local/state/tavrin/history.jsonl) first.\n"
    "  --verbose    print the trace lines of every frame and reply on standard error\n"
    "  --version    print tavrinctl's version\n"
    "Exit codes: 0 success, 1 reader or I/O failure, 2 usage or input error;\n"
    "diff: 3 when something would change.\n";

// What each command takes beyond its own positional arguments.
enum Takes : unsigned {
    Json = 1u << 0,
    OnePlace = 1u << 1,   // one --port or --device
    ManyPlaces = 1u << 2, // several
    NoVerify = 1u << 3,
    NoHistory = 1u << 4,
    All = 1u << 5,
    Watch = 1u << 6,
    Log = 1u << 7,
    Output = 1u << 8,
    Strict = 1u << 9,
    DryRun = 1u << 10,
    Run = 1u << 11,
};

struct Command
{
    const char *name;
    const char *const *help;
    int (*run)(const Options &, Io &);
    unsigned takes;
};

const Command commands[] = {
    {"list", &listHelp, listCommand, Json},
    {"read", &readHelp, readCommand, OnePlace | Output},
    {"write", &writeHelp, writeCommand, OnePlace | NoVerify | NoHistory | Strict},
    {"diff", &diffHelp, diffCommand, OnePlace | ManyPlaces | Json | All | Strict},
    {"apply", &applyHelp, applyCommand,
     OnePlace | ManyPlaces | Json | NoVerify | NoHistory | All | Watch | Log | Strict},
    {"history", &historyHelp, historyCommand, OnePlace | Json | All},
    {"undo", &undoHelp, undoCommand, OnePlace | NoVerify | NoHistory | All | DryRun | Run},
};

const Command *commandNamed(const QString &name)
{
    for (const Command &c : commands) {
        if (name == QLatin1String(c.name))
            return &c;
    }
    return nullptr;
}

// The first option given that the command does not take.
const char *refusedOption(const Options &options, unsigned takes)
{
    const struct
    {
        bool given;
        unsigned needs;
        const char *name;
    } given[] = {
        {options.json, Json, "--json"},
        {options.ports.size() + options.devices.size() > 0, OnePlace,
         options.ports.isEmpty() ? "--device" : "--port"},
        {options.ports.size() + options.devices.size() > 1, ManyPlaces,
         options.ports.isEmpty() ? "--device more than once" : "--port more than once"},
        {options.noVerify, NoVerify, "--no-verify"},
        {options.noHistory, NoHistory, "--no-history"},
        {options.all, All, "--all"},
        {options.watch || options.count.has_value(), Watch, options.watch ? "--watch" : "--count"},
        {options.log.has_value(), Log, "--log"},
        {options.output.has_value(), Output, "--output"},
        {options.strict, Strict, "--strict"},
        {options.dryRun, DryRun, "--dry-run"},
        {options.run.has_value(), Run, "--run"},
    };
    for (const auto &g : given) {
        if (g.given && !(takes & g.needs))
            return g.name;
    }
    return nullptr;
}

} // namespace

namespace {

int outputFailed(int code, QTextStream &out, QTextStream &err)
{
    // Output that never arrived is a failure, whatever the command did.
    out.flush();
    if (out.status() == QTextStream::Ok || code == ReaderFailure)
        return code;
    const QIODevice *device = out.device();
    const QString said = device ? device->errorString() : QString();
    const QString why = said.isEmpty() || said == QLatin1String("Unknown error")
                            ? QStringLiteral("the output could not be written")
                            : said;
    return complain(err, ReaderFailure, QStringLiteral("cannot write the output: %1").arg(why));
}

} // namespace

int run(const QByteArrayList &arguments, QTextStream &out, QTextStream &err, QIODevice &in)
{
    Options options;
    if (const int failed = parse(arguments, options, err); failed != Success)
        return failed;

    const auto help = [&out, &err](const char *text) {
        out << text;
        return outputFailed(Success, out, err);
    };
    if (options.version) {
        out << "tavrinctl " << TAVRIN_VERSION << '\n';
        return outputFailed(Success, out, err);
    }
    if (options.command.isEmpty()) {
        if (options.help)
            return help(usageText);
        err << usageText;
        return UsageError;
    }
    if (options.command == QLatin1String("help")) {
        if (options.positional.size() > 1)
            return complain(err, UsageError, QStringLiteral("help takes at most one COMMAND"));
        const QString about = options.positional.isEmpty() ? QString() : QFile::decodeName(options.positional.first());
        if (about.isEmpty() || about == QLatin1String("help"))
            return help(usageText);
        if (const Command *c = commandNamed(about))
            return help(*c->help);
        return complain(err, UsageError,
                        QStringLiteral("no command %1; 'tavrinctl help' lists them").arg(quotedForMessage(about)));
    }
    const Command *command = commandNamed(options.command);
    if (!command)
        return complain(err, UsageError, QStringLiteral("unknown command %1; 'tavrinctl help' lists them")
                                             .arg(quotedForMessage(options.command)));
    if (options.help)
        return help(*command->help);
    if (const char *refused = refusedOption(options, command->takes))
        return complain(err, UsageError, QStringLiteral("%1 does not take %2")
                                             .arg(QLatin1String(command->name), QLatin1String(refused)));
    if (command->run == listCommand && !options.positional.isEmpty())
        return complain(err, UsageError, QStringLiteral("list takes no arguments but --json"));
    if (command->run == readCommand && !options.positional.isEmpty())
        return complain(err, UsageError, QStringLiteral("read takes no FILE"));
    Io io{out, err, in};
    return outputFailed(command->run(options, io), out, err);
}

int run(const QStringList &arguments, QTextStream &out, QTextStream &err, QIODevice &in)
{
    QByteArrayList raw;
    for (const QString &a : arguments)
        raw << QFile::encodeName(a);
    return run(raw, out, err, in);
}

} // namespace Tavrinctl

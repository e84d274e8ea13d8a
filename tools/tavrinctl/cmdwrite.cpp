#include "commands.h"

#include "ctl.h"
#include "ctlsession.h"

namespace Tavrinctl {

const char *const writeHelp =
    "Usage: tavrinctl write [--port NAME | --device PATH] [--no-verify] [--no-history]\n"
    "                       [--strict] FILE\n"
    "Writes the settings in the JSON object in FILE (- for standard input; at most\n"
    "64 kB) with the same frames as the window's \"Set Status\". Fields left out keep\n"
    "the reader's current values, which are read first; \"firmware\" is ignored.\n"
    "Nothing is sent unless the whole file is valid. What the reader held is saved\n"
    "to the history first ('tavrinctl undo' writes it back); when it cannot be\n"
    "saved, nothing is sent and the exit code is 1. The settings are then read back\n"
    "and compared: a reader that does not hold what was sent, or does not answer,\n"
    "is exit code 1.\n"
    "  --no-verify     skip the read-back\n"
    "  --no-history    write without saving what the reader held\n"
    "A field the interface cannot carry (keyboardCountry over a serial port) is\n"
    "left out with a note, so that one file serves USB and serial readers.\n"
    "  --strict        refuse such a file instead (exit code 2)\n";

int writeCommand(const Options &options, Io &io)
{
    if (options.positional.size() != 1)
        return complain(io.err, UsageError, QStringLiteral("write needs exactly one FILE (- for standard input)"));
    SettingsPatch patch;
    if (const int failed = loadPatch(options.positional.first(), options, io, patch); failed != Success)
        return failed;

    Session session(io);
    ReaderSettings current;
    if (const int failed = session.openAndRead(options, current, true); failed != Success)
        return failed;
    const QStringList notes = sayLeftOut(patch, options, io);
    return session.write(options, current, mergedWriteRequest(current, patch), notes);
}

} // namespace Tavrinctl

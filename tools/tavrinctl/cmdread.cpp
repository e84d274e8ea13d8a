#include "commands.h"

#include "ctl.h"
#include "ctlfiles.h"
#include "ctlsession.h"

#include <QJsonDocument>
#include <QTextStream>

namespace Tavrinctl {

const char *const readHelp =
    "Usage: tavrinctl read [--port NAME | --device PATH] [--output FILE]\n"
    "Reads the firmware version and all settings and prints them as one JSON object:\n"
    "  firmware, preamble, postamble, removeData (texts, control codes as [CR] etc.),\n"
    "  preambleEnabled, postambleEnabled, removeDataEnabled, autoReport, buzzer,\n"
    "  outputStart, outputLength (0..255), keyboardCountry (USB only).\n"
    "  -o, --output FILE    write FILE instead, and only when the read succeeded:\n"
    "                       a failed read leaves the FILE of an earlier backup as it was\n";

int readCommand(const Options &options, Io &io)
{
    Session session(io);
    ReaderSettings settings;
    if (const int failed = session.openAndRead(options, settings); failed != Success)
        return failed;
    const QByteArray json = QJsonDocument(settingsToJson(settings)).toJson(QJsonDocument::Indented);
    if (!options.output) {
        io.out << json;
        return Success;
    }
    QString why;
    if (!CtlFiles::replaceFile(*options.output, json, &why))
        return session.fail(ReaderFailure, QStringLiteral("cannot write %1: %2").arg(shown(*options.output), why));
    return Success;
}

} // namespace Tavrinctl

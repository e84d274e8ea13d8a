#include "ctl.h"

#include "ctlfiles.h"

#include "link/commandframe.h"
#include "link/hiddevice.h"
#include "link/readerlink.h"
#include "settings/settingsfile.h"
#include "settings/settingsread.h"
#include "settings/settingsverify.h"
#include "settings/settingswrite.h"
#include "settings/textcodec.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QSerialPortInfo>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>

namespace Tavrinctl {
namespace {

const char *const usageText =
    "Usage: tavrinctl COMMAND [OPTIONS]\n"
    "Reads, backs up and writes the settings of an iButton reader.\n"
    "\n"
    "Commands:\n"
    "  list [--json]                          readers and serial ports this computer sees\n"
    "  read [--port NAME | --device PATH]     print the reader's settings as one JSON object\n"
    "  write [--port NAME | --device PATH] [--no-verify] FILE\n"
    "                                         write the settings in FILE (- for standard input)\n"
    "  help [COMMAND]                         this text, or more about a command\n"
    "\n"
    "Without --port the reader is reached over USB HID: the one attached, or the\n"
    "one at PATH (as 'list' prints it) when several are. With --port, over that\n"
    "serial port (COM1 is /dev/ttyS0; a name or a path is taken as it is).\n"
    "  --verbose    print the trace lines of every frame and reply on standard error\n"
    "  --version    print tavrinctl's version\n"
    "Exit codes: 0 success, 1 reader or I/O failure, 2 usage or input error.\n";

const char *const listHelp =
    "Usage: tavrinctl list [--json]\n"
    "Lists the USB HID readers (vendor 0416, product f100) with their device paths,\n"
    "and the serial ports the system knows. With --json, one JSON array of objects:\n"
    "  kind (\"usb\" or \"serial\"), path, and for a USB reader its serialNumber and,\n"
    "  when it answers, its firmware.\n";

const char *const readHelp =
    "Usage: tavrinctl read [--port NAME | --device PATH]\n"
    "Reads the firmware version and all settings and prints them as one JSON object:\n"
    "  firmware, preamble, postamble, removeData (texts, control codes as [CR] etc.),\n"
    "  preambleEnabled, postambleEnabled, removeDataEnabled, autoReport, buzzer,\n"
    "  outputStart, outputLength (0..255), keyboardCountry (USB only).\n";

const char *const writeHelp =
    "Usage: tavrinctl write [--port NAME | --device PATH] [--no-verify] FILE\n"
    "Writes the settings in the JSON object in FILE (- for standard input; at most\n"
    "64 kB) with the same frames as the window's \"Set Status\". Fields left out keep\n"
    "the reader's current values, which are read first; \"firmware\" is ignored.\n"
    "Nothing is sent unless the whole file is valid. The settings are then read back\n"
    "and compared: a reader that does not hold what was sent, or does not answer,\n"
    "is exit code 1.\n"
    "  --no-verify    skip the read-back\n";

const char *helpFor(const QString &command)
{
    if (command == QLatin1String("list"))
        return listHelp;
    if (command == QLatin1String("read"))
        return readHelp;
    if (command == QLatin1String("write"))
        return writeHelp;
    if (command.isEmpty() || command == QLatin1String("help"))
        return usageText;
    return nullptr;
}

struct Options
{
    QString command;
    std::optional<QByteArray> port;   // as the system names it
    std::optional<QByteArray> device; // a hidraw path
    QByteArrayList positional;
    bool help = false;
    bool version = false;
    bool json = false;
    bool noVerify = false;
};

// Text of the user's to repeat in a message: quoted, escaped, cut.
QString shown(const QByteArray &raw)
{
    return quotedForMessage(QFile::decodeName(raw));
}

class Session
{
public:
    explicit Session(QTextStream &err)
        : err(err)
    {
    }

    int fail(int code, const QString &message)
    {
        err << "tavrinctl: " << message << '\n';
        err.flush();
        return code;
    }

    // Opens the reader the options name and reads every setting of its
    // transport; on failure returns the exit code.
    int openAndRead(const Options &options, ReaderSettings &settings)
    {
        if (options.port) {
            const QByteArray path = CtlFiles::serialPortPath(*options.port);
            if (const std::optional<QString> why = CtlFiles::notASerialPort(path))
                return fail(UsageError, QStringLiteral("%1 is no serial port: %2").arg(shown(path), *why));
            if (!link.open(ReaderLink::Transport::Serial, CtlFiles::portNameFor(path, links.path())))
                return fail(ReaderFailure, QStringLiteral("cannot open serial port %1").arg(link.errorString()));
            return readAll(settings);
        }
        QString device;
        if (const int chosen = chooseUsbReader(options, device); chosen != Success)
            return chosen;
        if (!link.open(ReaderLink::Transport::Hid, device))
            return fail(ReaderFailure, QStringLiteral("no USB reader could be opened (vendor 0416, product f100): %1")
                                           .arg(link.errorString()));
        return readAll(settings);
    }

    int write(const SettingsWriteRequest &request, bool verify)
    {
        const bool serial = link.transport() == ReaderLink::Transport::Serial;
        const SettingsWriteSequence sequence(request, serial ? WriteTransport::Serial : WriteTransport::Hid);
        if (!sequence.overlongTexts().isEmpty())
            return fail(UsageError, sequence.refusalText());
        const int sent = sequence.run([this](const QByteArray &frame) { return link.send(frame); });
        if (sent != sequence.count())
            return fail(ReaderFailure, QStringLiteral("the reader took %1 of %2 frames; its settings may be "
                                                      "partly written (%3)")
                                           .arg(sent)
                                           .arg(sequence.count())
                                           .arg(link.errorString()));
        if (!link.drain())
            return fail(ReaderFailure, link.errorString());
        if (!verify)
            return Success;
        // Frames handed over prove nothing: the reader must hold them.
        const SettingsVerify::Outcome outcome = SettingsVerify::readBack(link, sequence.expected());
        if (!outcome.confirmed()) {
            for (const QString &line : SettingsVerify::message(outcome).split(QLatin1Char('\n')))
                fail(ReaderFailure, line);
            return ReaderFailure;
        }
        return Success;
    }

private:
    // The reader --device names, or the only one attached: with several and
    // no choice, nothing is opened.
    int chooseUsbReader(const Options &options, QString &device)
    {
        const QList<HidDeviceInfo> readers = HidDevice::enumerate(ReaderLink::VendorId, ReaderLink::ProductId);
        if (options.device) {
            const bool attached = std::any_of(readers.begin(), readers.end(),
                                              [&](const HidDeviceInfo &r) { return r.path == *options.device; });
            if (!attached)
                return fail(ReaderFailure, QStringLiteral("no USB reader at %1 ('tavrinctl list' shows the readers "
                                                          "attached)")
                                               .arg(shown(*options.device)));
            device = QFile::decodeName(*options.device);
            return Success;
        }
        if (readers.size() > 1) {
            QStringList paths;
            for (const HidDeviceInfo &r : readers)
                paths << QFile::decodeName(r.path);
            return fail(UsageError, QStringLiteral("%1 USB readers are attached (%2): choose one with --device PATH")
                                        .arg(readers.size())
                                        .arg(paths.join(QStringLiteral(", "))));
        }
        return Success;
    }

    int readAll(ReaderSettings &settings)
    {
        QString why;
        const std::optional<ReaderSettings> read = SettingsRead::everySetting(link, &why);
        if (!read)
            return fail(ReaderFailure, why);
        settings = *read;
        return Success;
    }

    QTextStream &err;
    // Where a link to a port whose name is not valid text is made.
    QTemporaryDir links;
    ReaderLink link;
};

int usageError(QTextStream &err, const QString &message)
{
    err << "tavrinctl: " << message << '\n';
    return UsageError;
}

int parse(const QByteArrayList &arguments, Options &options, QTextStream &err)
{
    // An option's value must be there, and must not be the next option: a
    // script's empty variable must not fall back to USB, nor "--help" be
    // taken for a port.
    const auto value = [&](qsizetype &i, const QByteArray &a, const QByteArray &name,
                           std::optional<QByteArray> &into) {
        QByteArray v;
        if (a == name) {
            if (i + 1 < arguments.size())
                v = arguments.at(++i);
        } else {
            v = a.mid(name.size() + 1);
        }
        if (v.isEmpty() || v.startsWith("--"))
            return usageError(err, QStringLiteral("%1 needs a %2")
                                       .arg(QString::fromLatin1(name),
                                            name == "--port" ? QStringLiteral("port name") : QStringLiteral("device path")));
        into = v;
        return int(Success);
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QByteArray &a = arguments.at(i);
        if (a == "--help" || a == "-h") {
            options.help = true;
        } else if (a == "--version") {
            options.version = true;
        } else if (a == "--json") {
            options.json = true;
        } else if (a == "--no-verify") {
            options.noVerify = true;
        } else if (a == "--verbose") {
            // The trace lines of the link and the settings, on standard error.
            QLoggingCategory::setFilterRules(QStringLiteral("tavrin.*.debug=true"));
        } else if (a == "--port" || a.startsWith("--port=")) {
            if (const int failed = value(i, a, "--port", options.port); failed != Success)
                return failed;
        } else if (a == "--device" || a.startsWith("--device=")) {
            if (const int failed = value(i, a, "--device", options.device); failed != Success)
                return failed;
        } else if (a.startsWith('-') && a != "-") {
            return usageError(err, QStringLiteral("unknown option %1").arg(shown(a)));
        } else if (options.command.isEmpty()) {
            options.command = QFile::decodeName(a);
        } else {
            options.positional.append(a);
        }
    }
    if (options.port && options.device)
        return usageError(err, QStringLiteral("--port and --device name two different readers; give one"));
    return Success;
}

QJsonArray listJson()
{
    QJsonArray list;
    for (const HidDeviceInfo &d : HidDevice::enumerate(ReaderLink::VendorId, ReaderLink::ProductId)) {
        QJsonObject reader{{QStringLiteral("kind"), QStringLiteral("usb")},
                           {QStringLiteral("path"), QFile::decodeName(d.path)},
                           {QStringLiteral("serialNumber"), d.serialNumber}};
        ReaderLink link;
        if (link.open(ReaderLink::Transport::Hid, QFile::decodeName(d.path))) {
            if (const std::optional<QByteArray> reply = link.exchange(commandFrame(CmdGetStatus))) {
                if (const std::optional<QByteArray> version = decodeHidStatus(*reply).firmwareVersion)
                    reader.insert(QStringLiteral("firmware"), TextCodec::cStringToText(*version));
            }
        }
        list.append(reader);
    }
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts())
        list.append(QJsonObject{{QStringLiteral("kind"), QStringLiteral("serial")},
                                {QStringLiteral("path"), port.systemLocation()}});
    return list;
}

int list(const Options &options, QTextStream &out)
{
    if (options.json) {
        out << QJsonDocument(listJson()).toJson(QJsonDocument::Indented);
        return Success;
    }
    out << "USB HID readers (0416:f100):\n";
    const QList<HidDeviceInfo> readers = HidDevice::enumerate(ReaderLink::VendorId, ReaderLink::ProductId);
    for (const HidDeviceInfo &d : readers) {
        out << "  " << QFile::decodeName(d.path);
        if (!d.product.isEmpty())
            out << "  " << d.product;
        if (!d.serialNumber.isEmpty())
            out << "  serial " << d.serialNumber;
        out << '\n';
    }
    if (readers.isEmpty())
        out << "  (none)\n";

    out << "Serial ports:\n";
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports) {
        out << "  " << port.systemLocation();
        if (!port.description().isEmpty())
            out << "  " << port.description();
        out << '\n';
    }
    if (ports.isEmpty())
        out << "  (none)\n";
    return Success;
}

int readCommand(const Options &options, QTextStream &out, QTextStream &err)
{
    Session session(err);
    ReaderSettings settings;
    if (const int failed = session.openAndRead(options, settings); failed != Success)
        return failed;
    out << QJsonDocument(settingsToJson(settings)).toJson(QJsonDocument::Indented);
    return Success;
}

int writeCommand(const Options &options, QTextStream &err, QIODevice &in)
{
    if (options.positional.size() != 1)
        return usageError(err, QStringLiteral("write needs exactly one FILE (- for standard input)"));

    // Read with a limit: a settings file is small, and /dev/zero is not one.
    QByteArray json;
    const QByteArray path = options.positional.first();
    if (path == "-") {
        json = CtlFiles::readBounded(in, MaxSettingsFileBytes);
    } else {
        QString why;
        const std::optional<QByteArray> read = CtlFiles::readSettingsFile(path, MaxSettingsFileBytes, &why);
        if (!read)
            return usageError(err, QStringLiteral("cannot read %1: %2").arg(shown(path), why));
        json = *read;
    }

    // The whole file must be right before the reader hears anything.
    const WriteTransport transport = options.port ? WriteTransport::Serial : WriteTransport::Hid;
    QStringList errors;
    const std::optional<SettingsPatch> patch = parseSettingsPatch(json, transport, &errors);
    if (!patch) {
        for (const QString &error : errors)
            usageError(err, error);
        return UsageError;
    }

    Session session(err);
    ReaderSettings current;
    if (const int failed = session.openAndRead(options, current); failed != Success)
        return failed;
    return session.write(mergedWriteRequest(current, *patch), !options.noVerify);
}

} // namespace

int run(const QByteArrayList &arguments, QTextStream &out, QTextStream &err, QIODevice &in)
{
    Options options;
    if (const int failed = parse(arguments, options, err); failed != Success)
        return failed;

    const auto help = [&out](const char *text) {
        out << text;
        return int(Success);
    };
    if (options.version) {
        out << "tavrinctl " << TAVRIN_VERSION << '\n';
        return Success;
    }
    if (options.command.isEmpty()) {
        if (options.help)
            return help(usageText);
        err << usageText;
        return UsageError;
    }
    if (options.command == QLatin1String("help")) {
        if (options.positional.size() > 1)
            return usageError(err, QStringLiteral("help takes at most one COMMAND"));
        const QString about = options.positional.isEmpty() ? QString() : QFile::decodeName(options.positional.first());
        if (const char *text = helpFor(about))
            return help(text);
        return usageError(err, QStringLiteral("no command %1; 'tavrinctl help' lists them").arg(quotedForMessage(about)));
    }
    const char *const commandHelp = helpFor(options.command);
    if (!commandHelp)
        return usageError(err, QStringLiteral("unknown command %1; 'tavrinctl help' lists them")
                                   .arg(quotedForMessage(options.command)));
    if (options.help)
        return help(commandHelp);
    if (options.json && options.command != QLatin1String("list"))
        return usageError(err, QStringLiteral("--json belongs to list"));

    if (options.command == QLatin1String("list")) {
        if (options.port || options.device || !options.positional.isEmpty() || options.noVerify)
            return usageError(err, QStringLiteral("list takes no arguments but --json"));
        return list(options, out);
    }
    if (options.command == QLatin1String("read")) {
        if (!options.positional.isEmpty() || options.noVerify)
            return usageError(err, QStringLiteral("read takes no FILE"));
        return readCommand(options, out, err);
    }
    return writeCommand(options, err, in);
}

int run(const QStringList &arguments, QTextStream &out, QTextStream &err, QIODevice &in)
{
    QByteArrayList raw;
    for (const QString &a : arguments)
        raw << QFile::encodeName(a);
    return run(raw, out, err, in);
}

} // namespace Tavrinctl

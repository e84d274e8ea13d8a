#include "ctl.h"


#include "link/hiddevice.h"
#include "link/readerlink.h"
#include "settings/settingsfile.h"
#include "settings/settingsread.h"
#include "settings/settingsverify.h"
#include "settings/settingswrite.h"

#include <QFile>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QSerialPortInfo>
#include <QTextStream>

namespace Tavrinctl {
namespace {

const char *const usageText =
    "Usage: tavrinctl COMMAND [OPTIONS]\n"
    "Reads, backs up and writes the settings of an iButton reader.\n"
    "\n"
    "Commands:\n"
    "  list                       readers and serial ports this computer sees\n"
    "  read [--port NAME]         print the reader's settings as one JSON object\n"
    "  write [--port NAME] FILE   write the settings in FILE (- for standard input)\n"
    "\n"
    "Without --port the reader is reached over USB HID; with it, over that serial\n"
    "port (COM1 is /dev/ttyS0; a name or a path is taken as it is).\n"
    "--verbose prints the trace lines of every frame and reply on standard error.\n"
    "Exit codes: 0 success, 1 reader or I/O failure, 2 usage or input error.\n"
    "'tavrinctl COMMAND --help' tells more about a command.\n";

const char *const listHelp =
    "Usage: tavrinctl list\n"
    "Lists the USB HID readers (vendor 0416, product f100) with their device paths,\n"
    "and the serial ports the system knows.\n";

const char *const readHelp =
    "Usage: tavrinctl read [--port NAME]\n"
    "Reads the firmware version and all settings and prints them as one JSON object:\n"
    "  firmware, preamble, postamble, removeData (texts, control codes as [CR] etc.),\n"
    "  preambleEnabled, postambleEnabled, removeDataEnabled, autoReport, buzzer,\n"
    "  outputStart, outputLength (0..255), keyboardCountry (USB only).\n";

const char *const writeHelp =
    "Usage: tavrinctl write [--port NAME] [--no-verify] FILE\n"
    "Writes the settings in the JSON object in FILE (- for standard input) with the\n"
    "same frames as the window's \"Set Status\". Fields left out keep the reader's\n"
    "current values, which are read first; \"firmware\" is ignored. Nothing is sent\n"
    "unless the whole file is valid. The settings are then read back and compared:\n"
    "a reader that does not hold what was sent, or does not answer, is exit code 1.\n"
    "  --no-verify    skip the read-back\n";

struct Options
{
    QString command;
    QString port;
    QStringList positional;
    bool help = false;
    bool noVerify = false;
};

class Session
{
public:
    Session(QTextStream &out, QTextStream &err)
        : out(out)
        , err(err)
    {
    }

    int fail(int code, const QString &message)
    {
        err << "tavrinctl: " << message << '\n';
        err.flush();
        return code;
    }

    // Opens the reader and reads every setting of the transport; on
    // failure returns the exit code.
    int openAndRead(const QString &port, ReaderSettings &settings)
    {
        const bool serial = !port.isEmpty();
        if (!link.open(serial ? ReaderLink::Transport::Serial : ReaderLink::Transport::Hid, port))
            return fail(ReaderFailure, serial ? QStringLiteral("cannot open serial port %1").arg(link.errorString())
                                              : QStringLiteral("no USB reader could be opened (vendor 0416, "
                                                               "product f100): %1")
                                                    .arg(link.errorString()));
        return serial ? readSerial(settings) : readHid(settings);
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
    int readHid(ReaderSettings &settings)
    {
        const SettingsRead::HidResult result = SettingsRead::overHid(link);
        if (!result.ok())
            return fail(ReaderFailure, QStringLiteral("the reader did not answer the %1 request: %2")
                                           .arg(stepName(*result.failedAt), link.errorString()));
        settings = result.settings;
        for (const auto &[codes, name] : {std::pair{&settings.preAmble, "preamble"},
                                          std::pair{&settings.postAmble, "postamble"},
                                          std::pair{&settings.removeData, "removeData"}}) {
            if (!*codes)
                return fail(ReaderFailure,
                            QStringLiteral("the reader's %1 block was damaged (count or checksum)").arg(name));
        }
        return Success;
    }

    int readSerial(ReaderSettings &settings)
    {
        // The reply may arrive in pieces and behind unsolicited token output.
        const std::optional<QByteArray> reply = SettingsRead::overSerial(link);
        if (!reply) {
            if (!link.isOpen())
                return fail(ReaderFailure, QStringLiteral("the serial port failed: %1").arg(link.errorString()));
            return fail(ReaderFailure, QStringLiteral("no complete settings reply within %1 ms")
                                           .arg(SettingsRead::SerialReplyTimeoutMs));
        }
        settings = decodeSerialReply(*reply).value_or(ReaderSettings());
        if (const std::optional<SettingsRead::Step> missing = SettingsRead::firstMissingBlock(settings))
            return fail(ReaderFailure,
                        QStringLiteral("the reader's %1 block was damaged (count above 31)").arg(stepName(*missing)));
        return Success;
    }

    static QString stepName(SettingsRead::Step step)
    {
        switch (step) {
        case SettingsRead::Step::Status: return QStringLiteral("status");
        case SettingsRead::Step::PreAmble: return QStringLiteral("preamble");
        case SettingsRead::Step::PostAmble: return QStringLiteral("postamble");
        case SettingsRead::Step::RemoveData: return QStringLiteral("remove-data");
        }
        return QString();
    }

    QTextStream &out;
    QTextStream &err;
    ReaderLink link;
};

int parse(const QStringList &arguments, Options &options, QTextStream &err)
{
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            options.help = true;
        } else if (a == QLatin1String("--port")) {
            if (i + 1 >= arguments.size()) {
                err << "tavrinctl: --port needs a port name\n";
                return UsageError;
            }
            options.port = arguments.at(++i);
        } else if (a.startsWith(QLatin1String("--port="))) {
            options.port = a.mid(7);
        } else if (a == QLatin1String("--no-verify")) {
            options.noVerify = true;
        } else if (a == QLatin1String("--verbose")) {
            // The trace lines of the link and the settings, on standard error.
            QLoggingCategory::setFilterRules(QStringLiteral("tavrin.*.debug=true"));
        } else if (a.startsWith(QLatin1String("--"))) {
            err << "tavrinctl: unknown option " << a << '\n';
            return UsageError;
        } else if (options.command.isEmpty()) {
            options.command = a;
        } else {
            options.positional.append(a);
        }
    }
    return Success;
}

int list(QTextStream &out)
{
    out << "USB HID readers (0416:f100):\n";
    const QList<HidDeviceInfo> readers = HidDevice::enumerate(ReaderLink::VendorId, ReaderLink::ProductId);
    for (const HidDeviceInfo &d : readers) {
        out << "  " << QString::fromLocal8Bit(d.path);
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
    Session session(out, err);
    ReaderSettings settings;
    if (const int failed = session.openAndRead(options.port, settings); failed != Success)
        return failed;
    out << QJsonDocument(settingsToJson(settings)).toJson(QJsonDocument::Indented);
    return Success;
}

int writeCommand(const Options &options, QTextStream &out, QTextStream &err, QIODevice &in)
{
    const auto usage = [&err](const QString &message) {
        err << "tavrinctl: " << message << '\n';
        return int(UsageError);
    };
    if (options.positional.size() != 1)
        return usage(QStringLiteral("write needs exactly one FILE (- for standard input)"));

    QByteArray json;
    const QString path = options.positional.first();
    if (path == QLatin1String("-")) {
        json = in.readAll();
    } else {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return usage(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        json = file.readAll();
    }

    // The whole file must be right before the reader hears anything.
    const WriteTransport transport = options.port.isEmpty() ? WriteTransport::Hid : WriteTransport::Serial;
    QStringList errors;
    const std::optional<SettingsPatch> patch = parseSettingsPatch(json, transport, &errors);
    if (!patch) {
        for (const QString &error : errors)
            usage(error);
        return UsageError;
    }

    Session session(out, err);
    ReaderSettings current;
    if (const int failed = session.openAndRead(options.port, current); failed != Success)
        return failed;
    return session.write(mergedWriteRequest(current, *patch), !options.noVerify);
}

} // namespace

int run(const QStringList &arguments, QTextStream &out, QTextStream &err, QIODevice &in)
{
    Options options;
    if (const int failed = parse(arguments, options, err); failed != Success)
        return failed;

    const auto help = [&out](const char *text) {
        out << text;
        return int(Success);
    };
    if (options.command.isEmpty()) {
        if (options.help)
            return help(usageText);
        err << usageText;
        return UsageError;
    }
    if (options.command == QLatin1String("list")) {
        if (options.help)
            return help(listHelp);
        if (!options.port.isEmpty() || !options.positional.isEmpty()) {
            err << "tavrinctl: list takes no arguments\n";
            return UsageError;
        }
        return list(out);
    }
    if (options.command == QLatin1String("read")) {
        if (options.help)
            return help(readHelp);
        if (!options.positional.isEmpty()) {
            err << "tavrinctl: read takes no FILE\n";
            return UsageError;
        }
        return readCommand(options, out, err);
    }
    if (options.command == QLatin1String("write")) {
        if (options.help)
            return help(writeHelp);
        return writeCommand(options, out, err, in);
    }
    err << "tavrinctl: unknown command " << options.command << "\n" << usageText;
    return UsageError;
}

} // namespace Tavrinctl

#include "ctloptions.h"

#include "ctl.h"

#include "settings/settingsfile.h"

#include <QFile>
#include <QLoggingCategory>
#include <QTextStream>

namespace Tavrinctl {

std::optional<QByteArray> Options::port() const
{
    return ports.isEmpty() ? std::nullopt : std::optional<QByteArray>(ports.first());
}

std::optional<QByteArray> Options::device() const
{
    return devices.isEmpty() ? std::nullopt : std::optional<QByteArray>(devices.first());
}

QString shown(const QByteArray &raw)
{
    return quotedForMessage(QFile::decodeName(raw));
}

int complain(QTextStream &err, int code, const QString &message)
{
    err << "tavrinctl: " << message << '\n';
    err.flush();
    return code;
}

namespace {

struct ValueOption
{
    const char *name;
    const char *shortName; // or null
    const char *what;      // what the value is, for "needs a ..."
};

const ValueOption valueOptions[] = {
    {"--port", nullptr, "port name"}, {"--device", nullptr, "device path"}, {"--output", "-o", "file name"},
    {"--log", nullptr, "file name"},  {"--count", nullptr, "number"},     {"--run", nullptr, "run id"},
};

} // namespace

int parse(const QByteArrayList &arguments, Options &options, QTextStream &err)
{
    // An option's value must be there, and must not be the next option: a
    // script's empty variable must not fall back to USB, nor "--help" be
    // taken for a port.
    const auto valueOf = [&](qsizetype &i, const QByteArray &a, const ValueOption &o, QByteArray &into) {
        const QByteArray name(o.name);
        QByteArray v;
        if (a == name || (o.shortName && a == o.shortName)) {
            if (i + 1 < arguments.size())
                v = arguments.at(++i);
        } else {
            v = a.mid(name.size() + 1);
        }
        if (v.isEmpty() || v.startsWith("--"))
            return complain(err, UsageError,
                            QStringLiteral("%1 needs a %2").arg(QString::fromLatin1(name), QLatin1String(o.what)));
        into = v;
        return int(Success);
    };
    const auto matches = [](const QByteArray &a, const ValueOption &o) {
        const QByteArray name(o.name);
        return a == name || a.startsWith(name + '=') || (o.shortName && a == o.shortName);
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QByteArray &a = arguments.at(i);
        const ValueOption *valued = nullptr;
        for (const ValueOption &o : valueOptions) {
            if (matches(a, o))
                valued = &o;
        }
        if (valued) {
            QByteArray v;
            if (const int failed = valueOf(i, a, *valued, v); failed != Success)
                return failed;
            const QByteArray name(valued->name);
            if (name == "--port") {
                options.ports << v;
            } else if (name == "--device") {
                options.devices << v;
            } else if (name == "--output") {
                options.output = v;
            } else if (name == "--log") {
                options.log = v;
            } else if (name == "--run") {
                options.run = v;
            } else {
                bool ok = false;
                const int n = v.toInt(&ok);
                if (!ok || n < 1)
                    return complain(err, UsageError, QStringLiteral("--count needs a number above 0"));
                options.count = n;
            }
        } else if (a == "--help" || a == "-h") {
            options.help = true;
        } else if (a == "--version") {
            options.version = true;
        } else if (a == "--json") {
            options.json = true;
        } else if (a == "--no-verify") {
            options.noVerify = true;
        } else if (a == "--no-history") {
            options.noHistory = true;
        } else if (a == "--all") {
            options.all = true;
        } else if (a == "--watch") {
            options.watch = true;
        } else if (a == "--strict") {
            options.strict = true;
        } else if (a == "--dry-run") {
            options.dryRun = true;
        } else if (a == "--verbose") {
            // The trace lines of the link and the settings, on standard error.
            QLoggingCategory::setFilterRules(QStringLiteral("tavrin.*.debug=true"));
        } else if (a.startsWith('-') && a != "-") {
            return complain(err, UsageError, QStringLiteral("unknown option %1").arg(shown(a)));
        } else if (options.command.isEmpty()) {
            options.command = QFile::decodeName(a);
        } else {
            options.positional.append(a);
        }
    }
    if (!options.ports.isEmpty() && !options.devices.isEmpty())
        return complain(err, UsageError, QStringLiteral("--port and --device name two different readers; give one"));
    return Success;
}

} // namespace Tavrinctl

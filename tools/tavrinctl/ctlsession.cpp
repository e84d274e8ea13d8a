#include "ctlsession.h"

#include "ctl.h"
#include "ctlfiles.h"

#include "link/hiddevice.h"
#include "provision/history.h"
#include "settings/settingsread.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>

#include <algorithm>

namespace Tavrinctl {

QString fileText(const QJsonValue &value)
{
    if (value.isUndefined())
        return QStringLiteral("(none)");
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

WriteTransport transportOf(const Options &options)
{
    return options.ports.isEmpty() ? WriteTransport::Hid : WriteTransport::Serial;
}

int loadPatch(const QByteArray &path, const Options &options, Io &io, SettingsPatch &patch, QByteArray *bytes)
{
    // Read with a limit: a settings file is small, and /dev/zero is not one.
    QByteArray json;
    if (path == "-") {
        json = CtlFiles::readBounded(io.in, MaxSettingsFileBytes);
    } else {
        QString why;
        const std::optional<QByteArray> read = CtlFiles::readSettingsFile(path, MaxSettingsFileBytes, &why);
        if (!read)
            return complain(io.err, UsageError, QStringLiteral("cannot read %1: %2").arg(shown(path), why));
        json = *read;
    }
    // The whole file must be right before any reader hears anything.
    QStringList errors;
    const std::optional<SettingsPatch> parsed =
        parseSettingsPatch(json, transportOf(options), &errors, options.strict,
                           path == "-" ? QStringLiteral("standard input") : QFile::decodeName(path));
    if (!parsed) {
        for (const QString &error : errors)
            complain(io.err, UsageError, error);
        return UsageError;
    }
    patch = *parsed;
    if (bytes)
        *bytes = json;
    return Success;
}

QStringList sayLeftOut(const SettingsPatch &patch, const Options &options, Io &io)
{
    QStringList notes = leftOutOver(patch, transportOf(options));
    for (const QString &note : notes)
        complain(io.err, Success, note);
    return notes;
}

int serialPortTarget(const QByteArray &port, const QString &linkDir, QTextStream &err, ProvisionTarget &target)
{
    const QByteArray path = CtlFiles::serialPortPath(port);
    if (const std::optional<QString> why = CtlFiles::notASerialPort(path))
        return complain(err, UsageError, QStringLiteral("%1 is no serial port: %2").arg(shown(path), *why));
    target.transport = ReaderLink::Transport::Serial;
    target.where = CtlFiles::portNameFor(path, linkDir);
    target.identity = serialReaderIdentity(QFile::decodeName(path));
    return Success;
}

int Session::choose(const Options &options, ProvisionTarget &chosen)
{
    if (const std::optional<QByteArray> port = options.port())
        return serialPortTarget(*port, links.path(), io.err, chosen);

    // The reader --device names, or the only one attached: with several and
    // no choice, nothing is opened.
    const QList<ProvisionTarget> readers = attachedUsbReaders();
    if (const std::optional<QByteArray> device = options.device()) {
        const QString path = QFile::decodeName(*device);
        const auto found = std::find_if(readers.begin(), readers.end(),
                                        [&](const ProvisionTarget &r) { return r.where == path; });
        if (found == readers.end())
            return fail(ReaderFailure, QStringLiteral("no USB reader at %1 ('tavrinctl list' shows the readers "
                                                      "attached)")
                                           .arg(shown(*device)));
        chosen = *found;
        return Success;
    }
    if (readers.size() > 1) {
        QStringList paths;
        for (const ProvisionTarget &r : readers)
            paths << r.where;
        return fail(UsageError, QStringLiteral("%1 USB readers are attached (%2): choose one with --device PATH")
                                    .arg(readers.size())
                                    .arg(paths.join(QStringLiteral(", "))));
    }
    chosen = readers.value(0);
    chosen.transport = ReaderLink::Transport::Hid;
    return Success;
}

int Session::openAndRead(const Options &options, ReaderSettings &settings, bool toWrite)
{
    if (const int chosen = choose(options, target); chosen != Success)
        return chosen;
    return openAndRead(settings, toWrite);
}

int Session::openAndRead(ReaderSettings &settings, bool toWrite)
{
    if (toWrite && !target.identity.id.isEmpty()) {
        lock = std::make_unique<ReaderLock>(target.identity);
        if (!lock->held())
            return fail(ReaderFailure, lock->refusal());
    }
    if (target.transport == ReaderLink::Transport::Serial) {
        if (!link.open(ReaderLink::Transport::Serial, target.where))
            return fail(ReaderFailure, QStringLiteral("cannot open serial port %1").arg(link.errorString()));
    } else if (!link.open(ReaderLink::Transport::Hid, target.where)) {
        return fail(ReaderFailure, QStringLiteral("no USB reader could be opened (vendor 0416, product f100): %1")
                                       .arg(link.errorString()));
    }
    if (target.where.isEmpty())
        target.where = link.location();
    QString why;
    const std::optional<ReaderSettings> read = SettingsRead::everySetting(link, &why);
    if (!read)
        return fail(ReaderFailure, why);
    settings = *read;
    return Success;
}

ProvisionRecord Session::record(const ReaderSettings &held) const
{
    ProvisionRecord r;
    r.reader = target.identity;
    if (r.reader.id.isEmpty())
        r.reader = {link.location(), ReaderIdentity::Basis::DevicePath};
    r.path = link.location();
    r.transport = link.transport();
    r.firmware = settingsToJson(held).value(QStringLiteral("firmware")).toString();
    return r;
}

std::unique_ptr<History> Session::history(const Options &options) const
{
    return options.noHistory ? nullptr : std::make_unique<History>();
}

int Session::write(const Options &options, const ReaderSettings &held, const SettingsWriteRequest &request,
                   const QStringList &notes, const QString &undoes)
{
    const SettingsWriteSequence sequence(request, target.transport == ReaderLink::Transport::Serial
                                                      ? WriteTransport::Serial
                                                      : WriteTransport::Hid);
    if (!sequence.overlongTexts().isEmpty())
        return fail(UsageError, sequence.refusalText());

    const std::unique_ptr<History> kept = history(options);
    QString historyError;
    WriteOptions writeOptions;
    writeOptions.verify = !options.noVerify;
    writeOptions.history = kept.get();
    writeOptions.notes = notes;
    writeOptions.writeWithoutHistory = [&historyError](const QString &why) {
        historyError = why;
        return false;
    };
    ProvisionRecord start = record(held);
    start.undoes = undoes;
    const ProvisionRecord outcome = guardedWrite(link, start, held, request, writeOptions);
    if (!historyError.isEmpty())
        return fail(ReaderFailure, QStringLiteral("the settings the reader holds now could not be saved (%1); "
                                                  "nothing was written (--no-history writes without saving them)")
                                       .arg(historyError));
    const bool good = outcome.result == ProvisionResult::Confirmed
        || (outcome.result == ProvisionResult::Unconfirmed && options.noVerify);
    // The reader took it, but the history does not say so: a success only
    // in part, and an undo would not find it.
    if (good && !outcome.historyError.isEmpty())
        return fail(ReaderFailure,
                    QStringLiteral("the reader took the settings, but the outcome could not be saved to the "
                                   "history (%1)")
                        .arg(outcome.historyError));
    if (good)
        return Success;
    for (const QString &line : outcome.reason.split(QLatin1Char('\n')))
        fail(ReaderFailure, line);
    return ReaderFailure;
}

void Session::warnDamaged(const QString &path, int damagedLines)
{
    if (damagedLines > 0)
        fail(Success, QStringLiteral("warning: %1 damaged line(s) of %2 skipped").arg(damagedLines).arg(path));
}

} // namespace Tavrinctl

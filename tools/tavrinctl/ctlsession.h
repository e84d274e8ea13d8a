#pragma once

#include "ctloptions.h"

#include "link/readerlink.h"
#include "provision/provisionjob.h"
#include "provision/readerlock.h"
#include "settings/readersettings.h"
#include "settings/settingsfile.h"

#include <QJsonValue>
#include <QTemporaryDir>

#include <memory>
#include <optional>

class History;

namespace Tavrinctl {

// The settings file a command names (- for standard input), checked whole
// for a write over the options' transport (--strict: refusing what it cannot
// carry); on failure every problem is said and the exit code returned.
// bytes: the file as read, for a report's digest.
int loadPatch(const QByteArray &path, const Options &options, Io &io, SettingsPatch &patch,
              QByteArray *bytes = nullptr);

// Says on standard error what a write of patch over the options' transport
// leaves out; the notes, for the record.
QStringList sayLeftOut(const SettingsPatch &patch, const Options &options, Io &io);

// A value as a settings file holds it: texts quoted, so that an empty one
// or one with spaces is seen; "(none)" for a field that is not there.
QString fileText(const QJsonValue &value);

// The transport the options name: serial with --port, else USB.
WriteTransport transportOf(const Options &options);

// A port name as the options give it, checked to be a serial port, as the
// bench takes it: on failure, the exit code.
int serialPortTarget(const QByteArray &port, const QString &linkDir, QTextStream &err, ProvisionTarget &target);

class Session;

// The readers the options name (--all: every USB reader attached; each
// --port and --device), checked before any is sent anything.
int namedTargets(const Options &options, Session &session, QList<ProvisionTarget> &targets);

// One reader, as read, write, diff and undo reach it.
class Session
{
public:
    explicit Session(Io &io)
        : io(io)
    {
    }

    int fail(int code, const QString &message) { return complain(io.err, code, message); }

    // The reader the options name (the port, the device, or the only USB
    // reader attached), not yet opened.
    int choose(const Options &options, ProvisionTarget &target);
    // Chooses, opens and reads every setting of its transport; on failure
    // returns the exit code. toWrite: the reader is this process's alone
    // from here until the session ends (or another reader is read for a
    // write), or nothing is read.
    int openAndRead(const Options &options, ReaderSettings &settings, bool toWrite = false);
    // The same for the target already chosen.
    int openAndRead(ReaderSettings &settings, bool toWrite = false);

    // What is known of the reader before a write: who, where, its firmware.
    ProvisionRecord record(const ReaderSettings &held) const;

    // The history writes are kept in, unless --no-history.
    std::unique_ptr<History> history(const Options &options) const;
    // A write of request over the open link through the guarded write, as
    // `write` and `undo` make it (an undo names the entry it takes back),
    // its outcome said; the exit code. notes: what the write leaves out, for
    // its record.
    int write(const Options &options, const ReaderSettings &held, const SettingsWriteRequest &request,
              const QStringList &notes = {}, const QString &undoes = QString());

    // Says once that lines of the history were skipped.
    void warnDamaged(const QString &path, int damagedLines);

    Io &io;
    ProvisionTarget target;
    // Where a link to a port whose name is not valid text is made.
    QTemporaryDir links;
    ReaderLink link;
    std::unique_ptr<ReaderLock> lock;
};

} // namespace Tavrinctl

#pragma once

#include "ctloptions.h"

#include "link/readerlink.h"
#include "provision/provisionjob.h"
#include "settings/readersettings.h"
#include "settings/settingsfile.h"

#include <QJsonValue>
#include <QTemporaryDir>

#include <memory>
#include <optional>

class History;

namespace Tavrinctl {

// The settings file a command names (- for standard input), checked whole
// for a write over transport; on failure every problem is said and the exit
// code returned.
int loadPatch(const QByteArray &path, WriteTransport transport, Io &io, SettingsPatch &patch,
              QByteArray *bytes = nullptr);

// A value as a settings file holds it: texts quoted, so that an empty one
// or one with spaces is seen; "(none)" for a field that is not there.
QString fileText(const QJsonValue &value);

// The transport the options name: serial with --port, else USB.
WriteTransport transportOf(const Options &options);

// A port name as the options give it, checked to be a serial port, as the
// bench takes it: on failure, the exit code.
int serialPortTarget(const QByteArray &port, const QString &linkDir, QTextStream &err, ProvisionTarget &target);

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
    // returns the exit code.
    int openAndRead(const Options &options, ReaderSettings &settings);

    // What is known of the reader before a write: who, where, its firmware.
    ProvisionRecord record(const ReaderSettings &held) const;

    // The history writes are kept in, unless --no-history.
    std::unique_ptr<History> history(const Options &options) const;
    // A write of request over the open link through the guarded write, as
    // `write` and `undo` make it, its outcome said; the exit code.
    int write(const Options &options, const ReaderSettings &held, const SettingsWriteRequest &request);

    // Says once that lines of the history were skipped.
    void warnDamaged(const QString &path, int damagedLines);

    Io &io;
    ProvisionTarget target;
    // Where a link to a port whose name is not valid text is made.
    QTemporaryDir links;
    ReaderLink link;
};

} // namespace Tavrinctl

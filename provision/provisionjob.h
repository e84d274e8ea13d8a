#pragma once

#include "provision/readerrecord.h"
#include "settings/settingsfile.h"
#include "settings/settingswrite.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class History;
class QThread;

// One setting a write would change, as a settings file names it.
struct SettingChange
{
    QString name;    // the file's field name: "preamble", "outputStart", ...
    QString held;    // settings-file text of what the reader holds
    QString wouldBe; // ... and of what the write would leave it holding
};

// What writing patch over held would change, in the file's field order;
// empty when the reader holds it all already.
QList<SettingChange> plannedChanges(const ReaderSettings &held, const SettingsPatch &patch);
// The same between two settings objects as settingsToJson makes them (a
// history entry's before and written); a field only one of them has counts.
QList<SettingChange> settingChanges(const QJsonObject &held, const QJsonObject &wouldBe);

// What the reader holds once patch is written over held (held's transport).
ReaderSettings settingsAfterWrite(const ReaderSettings &held, const SettingsPatch &patch);

// An entry's before as a file to write back over transport; nothing, and
// why in *errors, when it has none or it does not parse.
std::optional<SettingsPatch> beforeAsPatch(const ProvisionRecord &entry, WriteTransport transport,
                                           QStringList *errors = nullptr);

struct WriteOptions
{
    bool verify = true;
    // Where `before` is kept; null: no history (tavrinctl --no-history).
    History *history = nullptr;
    // Asked when the history cannot be written, with the reason: true goes
    // on without it. Unset: nothing is sent. Called on the thread that
    // writes (a runner's reader thread, for a bench).
    std::function<bool(const QString &reason)> writeWithoutHistory;
    // Set on every record written with these options (ProvisionRecord::runId).
    QString runId;
    // What the write leaves out of what was asked (leftOutOver), told
    // first in the record's reason.
    QStringList notes;
    // A reader plugged in again is tried again at once (a bench that watches
    // for readers): a failure's advice says so; otherwise it says to run again.
    bool retriedOnReplug = false;
};

// The one write every path shares (the window's Set Status, an undo,
// tavrinctl write and apply, the bench): held is what was just read from the
// open link; its record goes to the history before the first frame, then the
// frames of request, the read-back and the outcome's record. Fills the
// record's time, entryId, before, written, result and reason; the caller's
// reader, path, transport and firmware are kept.
ProvisionRecord guardedWrite(ReaderLink &link, ProvisionRecord record, const ReaderSettings &held,
                             const SettingsWriteRequest &request, const WriteOptions &options);

// An undo that found the reader holding entry's before already: nothing is
// sent, but the undo is recorded (when history is set), so that the next
// undo of the reader steps past entry. Fills what guardedWrite fills.
ProvisionRecord noteUndoneAlready(ProvisionRecord record, const ReaderSettings &held, const ProvisionRecord &entry,
                                  History *history);

// A reader a bench works on.
struct ProvisionTarget
{
    ReaderLink::Transport transport = ReaderLink::Transport::Hid;
    QString where; // hidraw path or port name
    ReaderIdentity identity;
};

// Every USB reader attached, with its identity. Any thread may call it.
QList<ProvisionTarget> attachedUsbReaders();
// The USB reader at the hidraw path, when one is attached there.
std::optional<ProvisionTarget> attachedUsbReader(const QString &path);
// A reader on the serial port named as the user typed it.
ProvisionTarget serialTarget(const QString &port);

// One reader from start to record: opens its own link, reads, compares,
// writes only what differs (guardedWrite), reads back. What its interface
// cannot carry is left out and noted in the record. Never throws; every
// failure is a record whose reason ends with what to do about it. Runs on
// any thread.
ProvisionRecord provisionReader(const ProvisionTarget &target, const SettingsPatch &patch,
                                const WriteOptions &options);

// Readers worked on side by side, one thread each; finished() is delivered
// on the runner's thread as each one ends.
class ProvisionRunner : public QObject
{
    Q_OBJECT

public:
    ProvisionRunner(const SettingsPatch &patch, WriteOptions options, QObject *parent = nullptr);
    ~ProvisionRunner() override; // waits for the readers in hand

    void start(const ProvisionTarget &target);
    int running() const { return m_running; }

signals:
    void finished(const ProvisionRecord &record);
    // The last reader in hand has ended.
    void idle();

private:
    SettingsPatch m_patch;
    WriteOptions m_options;
    int m_running = 0;
    QList<QThread *> m_threads;
};

#include "provisionjob.h"

#include "link/hiddevice.h"
#include "link/platform.h"
#include "provision/history.h"
#include "provision/readerlock.h"
#include "settings/settingsread.h"
#include "settings/settingsverify.h"

#include <QFile>
#include <QJsonDocument>
#include <QThread>
#include <QUuid>

namespace {

// The fields of a settings file in the order the file's reference gives
// them; "firmware" is the reader's, never written.
const char *const fieldOrder[] = {
    "preamble",   "postamble", "removeData",  "preambleEnabled", "postambleEnabled", "removeDataEnabled",
    "autoReport", "buzzer",    "outputStart", "outputLength",    "keyboardCountry", "unnamedFlags",
};

QString valueText(const QJsonValue &value)
{
    if (value.isBool())
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    if (value.isDouble())
        return QString::number(value.toInt());
    return value.toString();
}

WriteTransport writeTransport(const ReaderLink &link)
{
    return link.transport() == ReaderLink::Transport::Serial ? WriteTransport::Serial : WriteTransport::Hid;
}

WriteTransport writeTransport(const ReaderSettings &settings)
{
    return settings.source == SettingsSource::Serial ? WriteTransport::Serial : WriteTransport::Hid;
}

ProvisionRecord failedRecord(ProvisionRecord record, const QString &reason)
{
    record.result = ProvisionResult::Failed;
    record.reason = reason;
    return record;
}

// A record of a reader nothing was written to, kept for the audit trail. It
// changes no reader, so a history that cannot take it stops nothing.
// The run goes on without it, but says so at its end.
void note(const WriteOptions &options, ProvisionRecord &record)
{
    if (options.history)
        options.history->append(record, &record.historyError);
}

// What the user does about a reader that failed, after what went wrong.
enum class Stage { Reach, Write, Keep, Refused };

ProvisionRecord advised(ProvisionRecord record, Stage stage, const WriteOptions &options)
{
    if (record.result != ProvisionResult::Failed
        && !(record.result == ProvisionResult::Unconfirmed && options.verify))
        return record;
    const QString again = options.retriedOnReplug
        ? QStringLiteral("Pull the reader out and plug it in again: it is tried again at once.")
        : QStringLiteral("Check the reader and its cable, then apply again: readers already right are left alone.");
    QString advice;
    switch (stage) {
    case Stage::Reach:
        advice = again;
        break;
    case Stage::Write:
        advice = record.result == ProvisionResult::Unconfirmed
            ? QStringLiteral("It may hold the settings; try it again to confirm it. ") + again
            : QStringLiteral("Its settings may be partly written: try it again before it leaves the bench. ") + again;
        break;
    case Stage::Keep:
        advice = QStringLiteral("Nothing was written to it: make the history writable, then try it again.");
        break;
    case Stage::Refused:
        advice = QStringLiteral("Nothing was written to it: shorten the texts in the settings.");
        break;
    }
    QString reason = record.reason.trimmed();
    if (!reason.isEmpty() && !reason.endsWith(QLatin1Char('.')))
        reason += QLatin1Char('.');
    record.reason = reason.isEmpty() ? advice : reason + QLatin1Char(' ') + advice;
    return record;
}

} // namespace

QList<SettingChange> settingChanges(const QJsonObject &held, const QJsonObject &wouldBe)
{
    QList<SettingChange> changes;
    for (const char *field : fieldOrder) {
        const QString name = QLatin1String(field);
        // Unnamed flag bits are written only when set.
        const QJsonValue none = name == QLatin1String("unnamedFlags") ? QJsonValue(0) : QJsonValue();
        const QJsonValue a = held.value(name).isUndefined() ? none : held.value(name);
        const QJsonValue b = wouldBe.value(name).isUndefined() ? none : wouldBe.value(name);
        if (a != b)
            changes.append({name, valueText(a), valueText(b)});
    }
    return changes;
}

ReaderSettings settingsAfterWrite(const ReaderSettings &held, const SettingsPatch &patch)
{
    return SettingsWriteSequence(mergedWriteRequest(held, patch), writeTransport(held)).expected();
}

QList<SettingChange> plannedChanges(const ReaderSettings &held, const SettingsPatch &patch)
{
    QJsonObject now = settingsToJson(held);
    now.remove(QStringLiteral("firmware"));
    // Compared as the file would name them: a field the transport does not
    // have (the keyboard country over serial) is absent on both sides.
    return settingChanges(now, settingsToJson(settingsAfterWrite(held, patch)));
}

std::optional<SettingsPatch> beforeAsPatch(const ProvisionRecord &entry, WriteTransport transport,
                                           QStringList *errors)
{
    if (!entry.before) {
        if (errors)
            *errors << QStringLiteral("the entry holds no settings from before its write");
        return std::nullopt;
    }
    QStringList problems;
    std::optional<SettingsPatch> patch =
        parseSettingsPatch(QJsonDocument(*entry.before).toJson(QJsonDocument::Compact), transport, &problems);
    if (errors)
        *errors << problems;
    return patch;
}

ProvisionRecord guardedWrite(ReaderLink &link, ProvisionRecord record, const ReaderSettings &held,
                             const SettingsWriteRequest &request, const WriteOptions &options)
{
    record.entryId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    record.time = QDateTime::currentDateTimeUtc();
    record.runId = options.runId;
    record.before = settingsToJson(held);
    record.written.reset();

    const SettingsWriteSequence sequence(request, writeTransport(link));
    if (!sequence.overlongTexts().isEmpty())
        return failedRecord(record, sequence.refusalText());

    // What the reader held is on disk before the first frame leaves.
    const ReaderSettings expected = sequence.expected();
    record.written = settingsToJson(expected);
    record.result = ProvisionResult::Pending;
    bool kept = false;
    if (options.history) {
        QString why;
        kept = options.history->append(record, &why);
        record.historyError = why;
        if (!kept && !(options.writeWithoutHistory && options.writeWithoutHistory(why))) {
            record.written.reset();
            return failedRecord(record,
                                QStringLiteral("The settings the reader holds now could not be saved (%1).").arg(why));
        }
    }

    const int sent = sequence.run([&link](const QByteArray &frame) { return link.send(frame); });
    if (sent == 0) {
        // The pending line is closed, and says the reader was not touched.
        record.written.reset();
        record = failedRecord(record, QStringLiteral("the reader took none of the %1 frames; nothing was written (%2)")
                                          .arg(sequence.count())
                                          .arg(link.errorString()));
    } else if (sent != sequence.count()) {
        record = failedRecord(record, QStringLiteral("the reader took %1 of %2 frames; its settings may be partly "
                                                     "written (%3)")
                                          .arg(sent)
                                          .arg(sequence.count())
                                          .arg(link.errorString()));
    } else if (!link.drain()) {
        record = failedRecord(record, link.errorString());
    } else if (!options.verify) {
        record.result = ProvisionResult::Unconfirmed;
        record.reason = QStringLiteral("The settings were sent; they were not read back.");
    } else {
        // Frames handed over prove nothing: the reader must hold them.
        const SettingsVerify::Outcome outcome = SettingsVerify::readBack(link, expected);
        record.result = outcome.confirmed() ? ProvisionResult::Confirmed
                        : outcome.answered  ? ProvisionResult::Failed
                                            : ProvisionResult::Unconfirmed;
        record.reason = SettingsVerify::message(outcome);
    }
    if (!options.notes.isEmpty()) {
        QStringList lines = options.notes;
        if (!record.reason.isEmpty())
            lines << record.reason;
        record.reason = lines.join(QLatin1Char('\n'));
    }
    if (kept) {
        QString why;
        if (!options.history->append(record, &why)) {
            record.historyError = why;
            record.reason += QStringLiteral("%1The outcome could not be saved to the history (%2).")
                                 .arg(record.reason.isEmpty() ? QString() : QStringLiteral("\n"), why);
        }
    }
    return record;
}

ProvisionRecord noteUndoneAlready(ProvisionRecord record, const ReaderSettings &held, const ProvisionRecord &entry,
                                  History *history)
{
    record.entryId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    record.time = QDateTime::currentDateTimeUtc();
    record.before = settingsToJson(held);
    record.written.reset();
    record.result = ProvisionResult::AlreadySet;
    record.undoes = entry.entryId;
    WriteOptions options;
    options.history = history;
    note(options, record);
    return record;
}

QList<ProvisionTarget> attachedUsbReaders()
{
    QList<ProvisionTarget> targets;
    for (const HidDeviceInfo &info : HidDevice::enumerate(ReaderLink::VendorId, ReaderLink::ProductId))
        targets.append({ReaderLink::Transport::Hid, QFile::decodeName(info.path), usbReaderIdentity(info)});
    return targets;
}

std::optional<ProvisionTarget> attachedUsbReader(const QString &path)
{
    for (const ProvisionTarget &target : attachedUsbReaders()) {
        if (target.where == path)
            return target;
    }
    return std::nullopt;
}

ProvisionTarget serialTarget(const QString &port)
{
    const QString location = Platform::serialPortLocation(Platform::serialPortSystemName(port));
    return {ReaderLink::Transport::Serial, port, serialReaderIdentity(location)};
}

ProvisionRecord provisionReader(const ProvisionTarget &target, const SettingsPatch &patch,
                                const WriteOptions &options)
{
    ProvisionRecord record;
    record.entryId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    record.time = QDateTime::currentDateTimeUtc();
    record.runId = options.runId;
    record.reader = target.identity;
    record.transport = target.transport;
    // A serial port as the user named it; its real path is the identity.
    record.path = target.transport != ReaderLink::Transport::Serial ? target.where
                  : target.identity.typed.isEmpty()                 ? target.identity.id
                                                                    : target.identity.typed;

    // Held until the read-back: no other process's frames in between.
    const ReaderLock lock(target.identity);
    if (!lock.held()) {
        record = failedRecord(record, lock.refusal());
        note(options, record);
        return record;
    }
    ReaderLink link;
    if (!link.open(target.transport, target.where)) {
        record = advised(failedRecord(record, QStringLiteral("cannot open %1: %2").arg(record.path, link.errorString())),
                         Stage::Reach, options);
        note(options, record);
        return record;
    }
    QString why;
    const std::optional<ReaderSettings> held = SettingsRead::everySetting(link, &why);
    if (!held) {
        record = advised(failedRecord(record, why), Stage::Reach, options);
        note(options, record);
        return record;
    }
    record.firmware = settingsToJson(*held).value(QStringLiteral("firmware")).toString();
    WriteOptions noted = options;
    noted.notes << leftOutOver(patch, writeTransport(link));
    const SettingsWriteRequest request = mergedWriteRequest(*held, patch);
    const SettingsWriteSequence sequence(request, writeTransport(link));
    if (sequence.overlongTexts().isEmpty() && SettingsVerify::compare(sequence.expected(), *held).isEmpty()) {
        record.before = settingsToJson(*held);
        record.result = ProvisionResult::AlreadySet;
        record.reason = noted.notes.join(QLatin1Char('\n'));
        note(options, record);
        return record;
    }
    const ProvisionRecord written = guardedWrite(link, record, *held, request, noted);
    const Stage stage = !sequence.overlongTexts().isEmpty() ? Stage::Refused
                        : !written.written                  ? Stage::Keep
                                                            : Stage::Write;
    // The outcome is in the history already; the advice is for the user.
    return advised(written, stage, options);
}

ProvisionRunner::ProvisionRunner(const SettingsPatch &patch, WriteOptions options, QObject *parent)
    : QObject(parent)
    , m_patch(patch)
    , m_options(std::move(options))
{
}

ProvisionRunner::~ProvisionRunner()
{
    for (QThread *thread : std::as_const(m_threads)) {
        thread->wait();
        delete thread;
    }
}

void ProvisionRunner::start(const ProvisionTarget &target)
{
    ++m_running;
    // Each reader its own thread and its own link: a reader that takes its
    // time (or never answers) holds up no other.
    QThread *thread = QThread::create([this, target] {
        const ProvisionRecord record = provisionReader(target, m_patch, m_options);
        QMetaObject::invokeMethod(
            this,
            [this, record, self = QThread::currentThread()] {
                self->wait();
                m_threads.removeOne(self);
                delete self;
                --m_running;
                emit finished(record);
                if (m_running == 0)
                    emit idle();
            },
            Qt::QueuedConnection);
    });
    m_threads.append(thread);
    thread->start();
}

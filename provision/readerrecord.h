#pragma once

#include "link/readerlink.h"

#include <QDateTime>
#include <QJsonObject>
#include <QMetaType>
#include <QString>

#include <optional>

struct HidDeviceInfo;

// Which reader a record is about. A reader that reports a serial number is
// known by it wherever it is plugged in; one that does not is known only by
// the USB port it sits in, so a record of it may belong to another reader
// later plugged into that port: the user is told so before an undo.
struct ReaderIdentity
{
    enum class Basis {
        SerialNumber, // the reader's own USB serial number
        UsbPort,      // udev's ID_PATH of its hidraw node
        DevicePath,   // the hidraw path, when udev knows no ID_PATH
        SerialPort,   // a serial port's system location
    };
    ReaderIdentity() = default;
    ReaderIdentity(QString id, Basis basis, QString typed = QString())
        : id(std::move(id))
        , basis(basis)
        , typed(std::move(typed))
    {
    }

    QString id;
    Basis basis = Basis::SerialNumber;
    // A serial port's name as the user gave it, when it is known: id is the
    // port's real path (links resolved), so that a reader written through a
    // link is found by the path the link points to; entries written before
    // ports were resolved are known by this name.
    QString typed;

    // Known by where it is plugged in rather than by itself.
    bool byPlace() const { return basis != Basis::SerialNumber; }
    friend bool operator==(const ReaderIdentity &a, const ReaderIdentity &b) { return a.id == b.id; }
};

// The serial number when the reader reports a non-empty one, else ID_PATH,
// else the path. Asks udev: call on one thread at a time, with enumeration.
ReaderIdentity usbReaderIdentity(const HidDeviceInfo &reader);
// The port's real path (links resolved) when it is there, else the name.
ReaderIdentity serialReaderIdentity(const QString &systemLocation);

enum class ProvisionResult {
    // The history's first line of a write: `before` is safe on disk, the
    // frames are about to go out. Never a bench's final word.
    Pending,
    Confirmed,   // written, read back, the reader holds what was sent
    AlreadySet,  // the reader held every setting already; nothing was sent
    Failed,      // the read, the write or the read-back failed, or it differed
    Unconfirmed, // written, the read-back got no answer (or was skipped)
};
// "pending", "confirmed", "already set", "failed", "unconfirmed".
QString resultText(ProvisionResult result);
std::optional<ProvisionResult> resultFromText(const QString &text);

// What a bench, a write or an undo did to one reader: a bench row, one
// element of tavrinctl's JSON, one history entry. before and written are
// settings objects as `tavrinctl read` prints them (settingsToJson), which
// restore exactly through parseSettingsPatch.
struct ProvisionRecord
{
    // Ties the history's lines of one write together (a UUID without braces).
    QString entryId;
    QDateTime time; // UTC
    ReaderIdentity reader;
    QString path; // hidraw path or port's system location
    ReaderLink::Transport transport = ReaderLink::Transport::Hid;
    QString firmware;
    std::optional<QJsonObject> before;  // null when the first read failed
    std::optional<QJsonObject> written; // null when nothing was written
    ProvisionResult result = ProvisionResult::Failed;
    QString reason; // empty: null; a mismatch in the words of the window's box
    // The bench run (one `apply`, one bench window) the write belongs to, so
    // that a run can be undone as a whole; empty for a write of its own.
    QString runId;
    // The entry an undo wrote back the settings from before; empty for any
    // other write.
    QString undoes;
    // Why the history could not take this record; never saved itself.
    QString historyError;

    // Whether the entry is of that reader: by identity, or, for a serial
    // port, an older entry's by the port's name as typed.
    bool isOf(const ReaderIdentity &other) const;
    // The write left the reader other than it found it (or may have): not a
    // refusal, a failure that sent nothing, nor a write of what it held.
    bool changedReader() const;

    // {"id", "time" (ISO 8601 UTC), "reader", "readerBasis", "path",
    //  "transport" ("usb"|"serial"), "firmware", "before", "written",
    //  "result", "reason", "run" (only when runId is set), "undoes" (only
    //  when set)}
    QJsonObject toJson() const;
    // Nothing when a required field is missing or of the wrong type.
    static std::optional<ProvisionRecord> fromJson(const QJsonObject &json);
};
Q_DECLARE_METATYPE(ProvisionRecord)

// "usb" or "serial".
QString transportText(ReaderLink::Transport transport);

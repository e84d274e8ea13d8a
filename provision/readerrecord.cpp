#include "readerrecord.h"

#include "link/hiddevice.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonValue>

#ifdef TAVRIN_HAVE_LIBUDEV
#include <libudev.h>
#include <sys/stat.h>
#endif

namespace {

struct BasisName
{
    ReaderIdentity::Basis basis;
    const char *name;
};

const BasisName basisNames[] = {
    {ReaderIdentity::Basis::SerialNumber, "serialNumber"},
    {ReaderIdentity::Basis::UsbPort, "usbPort"},
    {ReaderIdentity::Basis::DevicePath, "devicePath"},
    {ReaderIdentity::Basis::SerialPort, "serialPort"},
};

struct ResultName
{
    ProvisionResult result;
    const char *name;
};

const ResultName resultNames[] = {
    {ProvisionResult::Pending, "pending"},         {ProvisionResult::Confirmed, "confirmed"},
    {ProvisionResult::AlreadySet, "already set"},  {ProvisionResult::Failed, "failed"},
    {ProvisionResult::Unconfirmed, "unconfirmed"},
};

#ifdef TAVRIN_HAVE_LIBUDEV
// udev's ID_PATH of the hidraw node at path, or of the nearest device above
// it that has one: the USB port the reader sits in.
QString usbPortOf(const QByteArray &path)
{
    struct stat node = {};
    if (stat(path.constData(), &node) != 0 || !S_ISCHR(node.st_mode))
        return QString();
    udev *context = udev_new();
    if (!context)
        return QString();
    QString found;
    udev_device *device = udev_device_new_from_devnum(context, 'c', node.st_rdev);
    for (udev_device *d = device; d && found.isEmpty(); d = udev_device_get_parent(d)) {
        if (const char *id = udev_device_get_property_value(d, "ID_PATH"))
            found = QString::fromLocal8Bit(id);
    }
    if (device)
        udev_device_unref(device);
    udev_unref(context);
    return found;
}
#else
QString usbPortOf(const QByteArray &)
{
    return QString();
}
#endif

std::optional<QJsonObject> settingsOrNull(const QJsonValue &value, bool *ok)
{
    if (value.isObject())
        return value.toObject();
    if (!value.isNull() && !value.isUndefined())
        *ok = false;
    return std::nullopt;
}

} // namespace

ReaderIdentity usbReaderIdentity(const HidDeviceInfo &reader)
{
    if (!reader.serialNumber.trimmed().isEmpty())
        return {reader.serialNumber, ReaderIdentity::Basis::SerialNumber};
    const QString port = usbPortOf(reader.path);
    if (!port.isEmpty())
        return {port, ReaderIdentity::Basis::UsbPort};
    return {QFile::decodeName(reader.path), ReaderIdentity::Basis::DevicePath};
}

ReaderIdentity serialReaderIdentity(const QString &systemLocation)
{
    const QString real = QFileInfo(systemLocation).canonicalFilePath();
    return {real.isEmpty() ? systemLocation : real, ReaderIdentity::Basis::SerialPort, systemLocation};
}

bool ProvisionRecord::isOf(const ReaderIdentity &other) const
{
    if (reader == other)
        return true;
    return other.basis == ReaderIdentity::Basis::SerialPort && reader.basis == ReaderIdentity::Basis::SerialPort
        && !other.typed.isEmpty() && reader.id == other.typed;
}

bool ProvisionRecord::changedReader() const
{
    if (!before || !written || result == ProvisionResult::AlreadySet)
        return false;
    for (auto it = written->begin(); it != written->end(); ++it) {
        if (it.key() != QLatin1String("firmware") && before->value(it.key()) != it.value())
            return true;
    }
    return false;
}

QString resultText(ProvisionResult result)
{
    for (const ResultName &r : resultNames) {
        if (r.result == result)
            return QLatin1String(r.name);
    }
    return QString();
}

std::optional<ProvisionResult> resultFromText(const QString &text)
{
    for (const ResultName &r : resultNames) {
        if (text == QLatin1String(r.name))
            return r.result;
    }
    return std::nullopt;
}

QString transportText(ReaderLink::Transport transport)
{
    return transport == ReaderLink::Transport::Serial ? QStringLiteral("serial") : QStringLiteral("usb");
}

QJsonObject ProvisionRecord::toJson() const
{
    QString basis;
    for (const BasisName &b : basisNames) {
        if (b.basis == reader.basis)
            basis = QLatin1String(b.name);
    }
    const auto nullable = [](const std::optional<QJsonObject> &settings) {
        return settings ? QJsonValue(*settings) : QJsonValue(QJsonValue::Null);
    };
    QJsonObject json{
        {QStringLiteral("id"), entryId},
        {QStringLiteral("time"), time.toUTC().toString(Qt::ISODateWithMs)},
        {QStringLiteral("reader"), reader.id},
        {QStringLiteral("readerBasis"), basis},
        {QStringLiteral("path"), path},
        {QStringLiteral("transport"), transportText(transport)},
        {QStringLiteral("firmware"), firmware},
        {QStringLiteral("before"), nullable(before)},
        {QStringLiteral("written"), nullable(written)},
        {QStringLiteral("result"), resultText(result)},
        {QStringLiteral("reason"), reason.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(reason)},
    };
    if (!runId.isEmpty())
        json.insert(QStringLiteral("run"), runId);
    if (!undoes.isEmpty())
        json.insert(QStringLiteral("undoes"), undoes);
    return json;
}

std::optional<ProvisionRecord> ProvisionRecord::fromJson(const QJsonObject &json)
{
    const auto text = [&json](const char *key) { return json.value(QLatin1String(key)); };
    for (const char *key : {"id", "time", "reader", "path", "transport", "result"}) {
        if (!text(key).isString())
            return std::nullopt;
    }
    ProvisionRecord record;
    record.entryId = text("id").toString();
    record.time = QDateTime::fromString(text("time").toString(), Qt::ISODateWithMs).toUTC();
    const std::optional<ProvisionResult> result = resultFromText(text("result").toString());
    const QString transport = text("transport").toString();
    if (!record.time.isValid() || !result
        || (transport != QLatin1String("usb") && transport != QLatin1String("serial")))
        return std::nullopt;
    record.result = *result;
    record.transport = transport == QLatin1String("serial") ? ReaderLink::Transport::Serial
                                                            : ReaderLink::Transport::Hid;
    record.reader.id = text("reader").toString();
    // A record without its basis is of a reader known by its serial number
    // only when it says so; otherwise it is taken to be known by its place.
    record.reader.basis = record.transport == ReaderLink::Transport::Serial ? ReaderIdentity::Basis::SerialPort
                                                                             : ReaderIdentity::Basis::DevicePath;
    for (const BasisName &b : basisNames) {
        if (text("readerBasis").toString() == QLatin1String(b.name))
            record.reader.basis = b.basis;
    }
    record.path = text("path").toString();
    record.firmware = text("firmware").toString();
    bool ok = true;
    record.before = settingsOrNull(text("before"), &ok);
    record.written = settingsOrNull(text("written"), &ok);
    if (!ok || record.entryId.isEmpty() || record.reader.id.isEmpty())
        return std::nullopt;
    if (text("reason").isString())
        record.reason = text("reason").toString();
    if (text("run").isString())
        record.runId = text("run").toString();
    if (text("undoes").isString())
        record.undoes = text("undoes").toString();
    return record;
}

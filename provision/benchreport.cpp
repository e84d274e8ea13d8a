#include "benchreport.h"

#include <QCryptographicHash>
#include <QHash>
#include <QJsonDocument>
#include <QSysInfo>

QString ReaderTally::text() const
{
    QString text = QStringLiteral("%1 confirmed, %2 already set, %3 failed").arg(confirmed).arg(alreadySet).arg(failed);
    // Written but never read back is no success: it is counted on its own.
    if (unconfirmed > 0)
        text += QStringLiteral(", %1 unconfirmed").arg(unconfirmed);
    return text;
}

bool isRight(ProvisionResult result)
{
    return result == ProvisionResult::Confirmed || result == ProvisionResult::AlreadySet;
}

ReaderTally tallyReaders(const QList<ProvisionRecord> &records)
{
    QHash<QString, ProvisionResult> latest;
    for (const ProvisionRecord &r : records) {
        if (r.result != ProvisionResult::Pending)
            latest.insert(r.reader.id, r.result);
    }
    ReaderTally tally;
    for (const ProvisionResult result : std::as_const(latest)) {
        tally.confirmed += result == ProvisionResult::Confirmed ? 1 : 0;
        tally.alreadySet += result == ProvisionResult::AlreadySet ? 1 : 0;
        tally.failed += result == ProvisionResult::Failed ? 1 : 0;
        tally.unconfirmed += result == ProvisionResult::Unconfirmed ? 1 : 0;
    }
    return tally;
}

QJsonObject benchReportHeader(const QString &settingsPath, const QByteArray &settings, const QDateTime &started)
{
    return {
        {QStringLiteral("report"), QStringLiteral("bench")},
        {QStringLiteral("settings"), settingsPath.isEmpty() ? QStringLiteral("form") : settingsPath},
        {QStringLiteral("sha256"),
         QString::fromLatin1(QCryptographicHash::hash(settings, QCryptographicHash::Sha256).toHex())},
        {QStringLiteral("host"), QSysInfo::machineHostName()},
        {QStringLiteral("version"), QStringLiteral(TAVRIN_VERSION)},
        {QStringLiteral("started"), started.toUTC().toString(Qt::ISODateWithMs)},
    };
}

QJsonObject benchReportSummary(const QList<ProvisionRecord> &records, const QDateTime &ended)
{
    const ReaderTally tally = tallyReaders(records);
    return {
        {QStringLiteral("summary"), tally.text()},
        {QStringLiteral("readers"), tally.readers()},
        {QStringLiteral("confirmed"), tally.confirmed},
        {QStringLiteral("alreadySet"), tally.alreadySet},
        {QStringLiteral("failed"), tally.failed},
        {QStringLiteral("unconfirmed"), tally.unconfirmed},
        {QStringLiteral("ended"), ended.toUTC().toString(Qt::ISODateWithMs)},
    };
}

QByteArray benchReport(const QJsonObject &header, const QList<ProvisionRecord> &records, const QDateTime &ended)
{
    const auto line = [](const QJsonObject &json) { return QJsonDocument(json).toJson(QJsonDocument::Compact) + '\n'; };
    QByteArray text = line(header);
    for (const ProvisionRecord &r : records)
        text += line(r.toJson());
    return text + line(benchReportSummary(records, ended));
}

QString defaultReportName(const QDateTime &when)
{
    return when.toString(QStringLiteral("'tavrin-bench-'yyyyMMdd-HHmmss'.jsonl'"));
}

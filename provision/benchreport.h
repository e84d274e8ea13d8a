#pragma once

#include "provision/readerrecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

// The readers of a bench run, each counted once by its latest result: a
// reader tried again is one reader, however many attempts it took.
struct ReaderTally
{
    int confirmed = 0;
    int alreadySet = 0;
    int failed = 0;
    int unconfirmed = 0;

    int readers() const { return confirmed + alreadySet + failed + unconfirmed; }
    // Confirmed or already set.
    int right() const { return confirmed + alreadySet; }
    // "2 confirmed, 1 already set, 1 failed", with ", N unconfirmed" when any:
    // the window's count line and tavrinctl's summary alike.
    QString text() const;
};

// Records in the order they ended; a later record of a reader replaces its
// earlier one (Pending records are no result and are skipped).
ReaderTally tallyReaders(const QList<ProvisionRecord> &records);

// Confirmed or already set: a reader the run need not touch again.
bool isRight(ProvisionResult result);

// The first and last lines of a bench report (the window's Save Report and
// tavrinctl apply --log), around one record a line: what was applied
// (settingsPath empty: the window's form), from where, by which program.
QJsonObject benchReportHeader(const QString &settingsPath, const QByteArray &settings, const QDateTime &started);
QJsonObject benchReportSummary(const QList<ProvisionRecord> &records, const QDateTime &ended);
// The header, the records and the summary, one compact JSON document a line.
QByteArray benchReport(const QJsonObject &header, const QList<ProvisionRecord> &records, const QDateTime &ended);

// "tavrin-bench-20261209-231500.jsonl" for the local time given.
QString defaultReportName(const QDateTime &when);

// tavrinctl's bench, history and undo against several simulated readers at
// once, and the history file on its own.
#include "ctl.h"

#include "link/commandframe.h"
#include "provision/history.h"

#include "support/fakedeviceevents.h"
#include "support/fakehid.h"
#include "support/faultcheck.h"
#include "support/readertestcase.h"

#include "ptyreader.h"
#include "readermodel.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <memory>
#include <vector>

namespace {

struct Outcome
{
    int code = -1;
    QString out;
    QString err;
};

Outcome tavrinctl(const QStringList &arguments, const QByteArray &input = {})
{
    QBuffer in;
    in.setData(input);
    in.open(QIODevice::ReadOnly);
    Outcome o;
    QTextStream out(&o.out);
    QTextStream err(&o.err);
    o.code = Tavrinctl::run(arguments, out, err, in);
    out.flush();
    err.flush();
    return o;
}

QString describe(const ReaderState &s)
{
    return QStringLiteral("flags %1 start %2 length %3 kb %4 pre %5 post %6 remove %7")
        .arg(s.flags)
        .arg(s.outputStart)
        .arg(s.outputLength)
        .arg(s.kbCountry)
        .arg(QString::fromLatin1(s.preAmble.toHex(' ')), QString::fromLatin1(s.postAmble.toHex(' ')),
             QString::fromLatin1(s.removeData.toHex(' ')));
}

ProvisionRecord entry(int n, const QString &reader)
{
    ProvisionRecord r;
    r.entryId = QStringLiteral("id-%1").arg(n);
    r.time = QDateTime::currentDateTimeUtc();
    r.reader = {reader, ReaderIdentity::Basis::SerialNumber};
    r.path = QStringLiteral("/dev/hidraw-sim0");
    r.before = QJsonObject{{QStringLiteral("buzzer"), n % 2 == 0}};
    r.written = QJsonObject{{QStringLiteral("buzzer"), n % 2 != 0}};
    r.result = ProvisionResult::Confirmed;
    return r;
}

const QByteArray settingsFile = R"({"preamble": "[ESC]X", "buzzer": false, "outputLength": 9})";

} // namespace

class ProvisionTest : public ReaderTestCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void applyNamesTheReaderThatNeverAnswers();
    void aReaderThatMatchesGetsNoSettingsFrame();
    void anInterruptedApplyEndsWithItsSummary();
    void applyTakesSerialPortsSideBySide();
    void diffListsWhatWouldChange_data();
    void diffListsWhatWouldChange();
    void aBadFileReachesNoReader();
    void watchLeavesAttachedReadersAlone_data();
    void watchLeavesAttachedReadersAlone();
    void undoRestoresTheReader_data();
    void undoRestoresTheReader();
    void undoNeverTakesAnotherReadersEntry();
    void aHistoryThatCannotBeSavedStopsTheWrite();
    void tornAndDamagedLinesAreSkipped();
    void theCapDropsTheOldestEntriesOnly();
    void aFailedBackupKeepsTheOldFile();

private:
    // Readers beside the one of the case, each with its own model.
    int addReader(bool plugged = true);
    QString settingsPath();

    std::vector<std::unique_ptr<ReaderModel>> m_models;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void ProvisionTest::init()
{
    startCase(Boxes::NotCaught);
    m_dir = std::make_unique<QTemporaryDir>();
    // Each case its own history.
    qputenv("XDG_STATE_HOME", QFile::encodeName(m_dir->filePath(QStringLiteral("state"))));
    Tavrinctl::setDeviceEvents({});
}

void ProvisionTest::cleanup()
{
    endCase();
    m_models.clear();
    m_dir.reset();
}

int ProvisionTest::addReader(bool plugged)
{
    m_models.push_back(std::make_unique<ReaderModel>());
    m_models.back()->setReplyLatencyMs(2);
    const int n = FakeHid::addReader(m_models.back().get());
    if (!plugged)
        FakeHid::unplugReader(n);
    return n;
}

QString ProvisionTest::settingsPath()
{
    const QString path = m_dir->filePath(QStringLiteral("settings.json"));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(settingsFile);
    return path;
}

void ProvisionTest::applyNamesTheReaderThatNeverAnswers()
{
    QList<int> readers;
    for (int i = 0; i < 4; ++i)
        readers << addReader();
    FakeHid::setReaderSilent(readers[2], true);

    const Outcome o = tavrinctl({"apply", settingsPath(), "--all"});
    QCOMPARE(o.code, 1);
    QStringList lines = o.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.takeLast(), QStringLiteral("3 confirmed, 0 already set, 1 failed"));
    lines.sort();
    for (int i = 0; i < 4; ++i) {
        const QString head = QStringLiteral("%1 %2: ").arg(FakeHid::readerSerialNumber(readers[i]),
                                                         FakeHid::readerPath(readers[i]));
        QVERIFY2(lines[i].startsWith(head + (i == 2 ? "failed: " : "confirmed")), qPrintable(lines[i]));
        if (i != 2) {
            QCOMPARE(m_models[size_t(i)]->state().preAmble, QByteArray("\x1bX"));
            QCOMPARE(m_models[size_t(i)]->settingsDoneCount(), 1);
        }
    }
}

void ProvisionTest::aReaderThatMatchesGetsNoSettingsFrame()
{
    const int same = addReader();
    const int other = addReader();
    ReaderState &held = m_models[0]->state();
    held.preAmble = "\x1bX";
    held.flags &= ~0x10;
    held.outputLength = 9;
    const QString log = m_dir->filePath("bench.jsonl");

    const Outcome o = tavrinctl({"apply", settingsPath(), "--device", FakeHid::readerPath(same), "--device",
                                 FakeHid::readerPath(other), "--json", "--log", log});
    QCOMPARE(o.code, 0);
    const QJsonArray records = QJsonDocument::fromJson(o.out.toUtf8()).array();
    QCOMPARE(records.size(), 2);
    QCOMPARE(records[0].toObject().value("result").toString(), QStringLiteral("already set"));
    QCOMPARE(records[0].toObject().value("written"), QJsonValue(QJsonValue::Null));
    QCOMPARE(records[1].toObject().value("result").toString(), QStringLiteral("confirmed"));
    QCOMPARE(records[1].toObject().value("reader").toString(), FakeHid::readerSerialNumber(other));
    QVERIFY(FaultCheck::nonReadFrames(m_models[0]->framesReceived()).isEmpty());
    QCOMPARE(m_models[1]->settingsDoneCount(), 1);
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().count('\n'), 4); // header, two records, summary
}

void ProvisionTest::anInterruptedApplyEndsWithItsSummary()
{
    addReader();
    FakeHid::setReaderSilent(addReader(), true);
    const QString log = m_dir->filePath("bench.jsonl");
    // Ctrl+C while the silent reader waits for its answer.
    QTimer::singleShot(300, [] { ::raise(SIGINT); });

    const Outcome o = tavrinctl({"apply", settingsPath(), "--all", "--log", log});
    QCOMPARE(o.code, 1);
    QVERIFY2(o.err.contains("stopping once the readers in hand are done"), qPrintable(o.err));
    QVERIFY(o.out.endsWith("1 confirmed, 0 already set, 1 failed\n"));
    for (const ProvisionRecord &r : History().read().entries)
        QVERIFY(r.result != ProvisionResult::Pending);
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 5); // header, two records, summary, the end of the last line
    const QJsonObject header = QJsonDocument::fromJson(lines[0]).object();
    QCOMPARE(header.value("settings").toString(), settingsPath());
    QCOMPARE(header.value("sha256").toString(),
             QString::fromLatin1(QCryptographicHash::hash(settingsFile, QCryptographicHash::Sha256).toHex()));
    QVERIFY(!header.value("host").toString().isEmpty() && !header.value("started").toString().isEmpty());
    const QJsonObject summary = QJsonDocument::fromJson(lines[3]).object();
    QCOMPARE(summary.value("summary").toString(), QStringLiteral("1 confirmed, 0 already set, 1 failed"));
    QVERIFY(!summary.value("ended").toString().isEmpty());
}

void ProvisionTest::applyTakesSerialPortsSideBySide()
{
    // Two readers on two ports, each answering from its own model; a USB
    // reader attached meanwhile is not taken.
    FakeHid::attach(model.get());
    ReaderModel second;
    openPty();
    PtyReader other(&second);
    QVERIFY(other.isOpen());

    const Outcome o = tavrinctl({"apply", settingsPath(), "--port", pty->portName(), "--port", other.portName()});
    QVERIFY2(o.code == 0, qPrintable(o.out + o.err));
    QVERIFY(o.out.endsWith("2 confirmed, 0 already set, 0 failed\n"));
    QVERIFY(o.out.contains(QStringLiteral("%1 %1: confirmed").arg(other.portName())));
    QCOMPARE(model->state().outputLength, 9);
    QCOMPARE(second.state().outputLength, 9);
    QVERIFY(FakeHid::writtenReports().isEmpty());
}

void ProvisionTest::diffListsWhatWouldChange_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("code");
    QTest::newRow("every field of the file") << settingsFile
                                             << QStringList{"preamble: \"\" -> \"[ESC]X\"", "buzzer: true -> false",
                                                            "outputLength: 16 -> 9"}
                                             << 3;
    QTest::newRow("what it holds already") << QByteArray(R"({"buzzer": true, "outputStart": 0})") << QStringList()
                                           << 0;
    QTest::newRow("one of two") << QByteArray(R"({"keyboardCountry": "Italy", "postamble": ""})")
                                << QStringList{"keyboardCountry: \"USA\" -> \"Italy\""} << 3;
    QTest::newRow("a bad field") << QByteArray(R"({"buzzer": 3})") << QStringList() << 2;
}

void ProvisionTest::diffListsWhatWouldChange()
{
    QFETCH(QByteArray, json);
    QFETCH(QStringList, lines);
    QFETCH(int, code);
    FakeHid::attach(model.get());
    const Outcome o = tavrinctl({"diff", "-"}, json);
    QCOMPARE(o.code, code);
    QCOMPARE(o.out.split('\n', Qt::SkipEmptyParts), lines);
    QVERIFY(FaultCheck::nonReadFrames(model->framesReceived()).isEmpty());
}

void ProvisionTest::aBadFileReachesNoReader()
{
    addReader();
    addReader();
    const Outcome o = tavrinctl({"apply", "-", "--all"}, R"({"buzzer": false, "preamble": "[FOO]"})");
    QCOMPARE(o.code, 2);
    QVERIFY(o.err.contains("[FOO]"));
    QCOMPARE(FakeHid::openCount(), 0);
    QVERIFY(FakeHid::attemptedWrites().isEmpty());
}

void ProvisionTest::watchLeavesAttachedReadersAlone_data()
{
    QTest::addColumn<bool>("pullFirst");
    QTest::newRow("two plugged in") << false;
    QTest::newRow("the first pulled out during its read and plugged in again") << true;
}

void ProvisionTest::watchLeavesAttachedReadersAlone()
{
    QFETCH(bool, pullFirst);
    const int attached = addReader();
    const int first = addReader(false);
    const int second = addReader(false);
    auto *events = new FakeDeviceEvents;
    Tavrinctl::setDeviceEvents([events] { return std::unique_ptr<DeviceEventSource>(events); });
    const auto plugIn = [events](int reader, bool pulledDuringRead = false) {
        FakeHid::plugInReader(reader);
        if (pulledDuringRead)
            FakeHid::unplugReaderAfterWrites(reader, 2);
        events->send(DeviceEvent::Action::Added, DeviceEvent::Kind::UsbReader, FakeHid::readerPath(reader));
    };
    QTimer::singleShot(50, [&] { plugIn(first, pullFirst); });
    QTimer::singleShot(400, [&] { plugIn(second); });
    // Plugged in again while its first attempt still waits for an answer.
    if (pullFirst)
        QTimer::singleShot(800, [&] { plugIn(first); });

    const Outcome o = tavrinctl({"apply", settingsPath(), "--watch", "--count", "2"});
    QCOMPARE(o.code, 0);
    QVERIFY(o.err.contains("left alone, attached at the start: SIM0002 /dev/hidraw-sim1"));
    QStringList lines = o.out.split('\n', Qt::SkipEmptyParts);
    // A reader pulled out is given up only when its exchange times out, then
    // tried again; the count is of readers, and a failed one is none.
    QCOMPARE(lines.size(), pullFirst ? 4 : 3);
    if (pullFirst) {
        QCOMPARE(lines[0], QStringLiteral("SIM0004 /dev/hidraw-sim3: confirmed"));
        QVERIFY2(lines[1].startsWith(QStringLiteral("SIM0003 /dev/hidraw-sim2: failed: the reader did not answer")),
                 qPrintable(lines[1]));
        QVERIFY2(lines[1].endsWith(QStringLiteral("Pull the reader out and plug it in again: it is tried again at "
                                                  "once.")),
                 qPrintable(lines[1]));
        QCOMPARE(lines[2], QStringLiteral("SIM0003 /dev/hidraw-sim2: confirmed"));
    } else {
        std::sort(lines.begin(), lines.end() - 1);
        QCOMPARE(lines[0], QStringLiteral("SIM0003 /dev/hidraw-sim2: confirmed"));
        QCOMPARE(lines[1], QStringLiteral("SIM0004 /dev/hidraw-sim3: confirmed"));
    }
    QCOMPARE(lines.last(), QStringLiteral("2 confirmed, 0 already set, 0 failed"));
    QCOMPARE(m_models[size_t(first) - 1]->state().outputLength, 9);
    QVERIFY(m_models[size_t(attached)  - 1]->framesReceived().isEmpty());
    QCOMPARE(m_models[size_t(second) - 1]->state().outputLength, 9);
}

void ProvisionTest::undoRestoresTheReader_data()
{
    addTransportRows();
}

void ProvisionTest::undoRestoresTheReader()
{
    QFETCH(bool, serial);
    loadTypicalSettings(model->state());
    model->state().removeData = QByteArray("\x00\x80\xA4", 3);
    const ReaderState before = model->state();
    QStringList port;
    if (serial) {
        openPty();
        port << "--port" << pty->portName();
    } else {
        FakeHid::attach(model.get());
    }
    const Outcome write = tavrinctl(QStringList{"write"} + port + QStringList{settingsPath()});
    QVERIFY2(write.code == 0, qPrintable(write.err));
    QCOMPARE(model->state().outputLength, 9);

    const Outcome undo = tavrinctl(QStringList{"undo"} + port);
    QVERIFY2(undo.code == 0, qPrintable(undo.err));
    QVERIFY(undo.out.contains("outputLength: 9 -> 16"));
    QVERIFY2(describe(model->state()) == describe(before), qPrintable(describe(model->state())));
    QCOMPARE(model->settingsDoneCount(), 2);

    const Outcome history = tavrinctl(QStringList{"history", "--json"} + port);
    QCOMPARE(history.code, 0);
    const QJsonArray entries = QJsonDocument::fromJson(history.out.toUtf8()).array();
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries[0].toObject().value("result").toString(), QStringLiteral("confirmed"));
    QCOMPARE(entries[1].toObject().value("before").toObject().value("outputLength").toInt(), 16);
}

void ProvisionTest::undoNeverTakesAnotherReadersEntry()
{
    const int written = addReader();
    const int other = addReader();
    QCOMPARE(tavrinctl({"write", "--device", FakeHid::readerPath(written), settingsPath()}).code, 0);

    const Outcome o = tavrinctl({"undo", "--device", FakeHid::readerPath(other)});
    QCOMPARE(o.code, 1);
    QVERIFY2(o.err.contains(QStringLiteral("no write to %1 in the history").arg(FakeHid::readerSerialNumber(other))),
             qPrintable(o.err));
    QVERIFY(FaultCheck::nonReadFrames(m_models[1]->framesReceived()).isEmpty());
}

void ProvisionTest::aHistoryThatCannotBeSavedStopsTheWrite()
{
    FakeHid::attach(model.get());
    // The history's folder is a file.
    const QString blocked = m_dir->filePath("blocked");
    QFile file(blocked);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    qputenv("XDG_STATE_HOME", QFile::encodeName(blocked));

    Outcome o = tavrinctl({"write", settingsPath()});
    QCOMPARE(o.code, 1);
    QVERIFY2(o.err.startsWith("tavrinctl: the settings the reader holds now could not be saved ("), qPrintable(o.err));
    QVERIFY(FaultCheck::nonReadFrames(model->framesReceived()).isEmpty());

    o = tavrinctl({"apply", settingsPath(), "--all"});
    QCOMPARE(o.code, 1);
    QVERIFY(o.out.contains("could not be saved"));
    QVERIFY(FaultCheck::nonReadFrames(model->framesReceived()).isEmpty());

    o = tavrinctl({"write", "--no-history", settingsPath()});
    QVERIFY2(o.code == 0, qPrintable(o.err));
    QCOMPARE(model->state().outputLength, 9);
}

void ProvisionTest::tornAndDamagedLinesAreSkipped()
{
    History history(m_dir->filePath("history.jsonl"));
    QVERIFY(history.append(entry(1, "A")));
    QVERIFY(history.append(entry(2, "B")));
    {
        QFile file(history.path());
        QVERIFY(file.open(QIODevice::Append));
        file.write("not json\n{\"id\": \"id-3\", \"time\": \"2026-");
    }
    History::Listing listing = history.read();
    QCOMPARE(listing.entries.size(), 2);
    QCOMPARE(listing.damagedLines, 2);
    // A line after the torn one is whole.
    QVERIFY(history.append(entry(4, "A")));
    listing = history.read();
    QCOMPARE(listing.entries.size(), 3);
    QCOMPARE(history.newestFor({"A", ReaderIdentity::Basis::SerialNumber})->entryId, QStringLiteral("id-4"));
    QVERIFY(!history.newestFor({"C", ReaderIdentity::Basis::SerialNumber}));
}

void ProvisionTest::theCapDropsTheOldestEntriesOnly()
{
    constexpr qint64 Cap = 8000;
    History history(m_dir->filePath("history.jsonl"), Cap);
    for (int n = 0; n < 60; ++n) {
        QVERIFY(history.append(entry(n, "A")));
        ProvisionRecord outcome = entry(n, "A");
        outcome.reason = "second line";
        QVERIFY(history.append(outcome));
        QVERIFY(QFileInfo(history.path()).size() <= Cap);
    }
    const History::Listing listing = history.read();
    QCOMPARE(listing.damagedLines, 0);
    QVERIFY(listing.entries.size() > 10 && listing.entries.size() < 60);
    // The newest, in order and each whole; none of the oldest.
    const qsizetype first = 60 - listing.entries.size();
    for (qsizetype i = 0; i < listing.entries.size(); ++i) {
        QCOMPARE(listing.entries[i].entryId, QStringLiteral("id-%1").arg(first + i));
        QCOMPARE(listing.entries[i].reason, QStringLiteral("second line"));
    }
}

void ProvisionTest::aFailedBackupKeepsTheOldFile()
{
    FakeHid::attach(model.get());
    const QString backup = m_dir->filePath("reader.json");
    QVERIFY(tavrinctl({"read", "-o", backup}).code == 0);
    QFile file(backup);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray good = file.readAll();
    file.close();
    QVERIFY(good.contains("\"outputLength\": 16"));

    model->faults().silent = true;
    const Outcome o = tavrinctl({"read", "--output", backup});
    QCOMPARE(o.code, 1);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), good);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"reader.json"});
}

QTEST_MAIN(ProvisionTest)
#include "tst_provision.moc"

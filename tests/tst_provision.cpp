// tavrinctl's bench, history and undo against several simulated readers at
// once, and the history file on its own.
#include "ctl.h"

#include "link/commandframe.h"
#include "provision/history.h"
#include "provision/provisionjob.h"
#include "provision/readerlock.h"

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
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A disk that takes no more than bytes in any one file, for as long as it
// lives: writes past it fail with EFBIG instead of ending the process.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        const rlimit limit{bytes, m_old.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
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
    void aUsbBackupServesASerialReader_data();
    void aUsbBackupServesASerialReader();
    void aReaderNamedTwiceIsWrittenOnce();
    void watchLeavesAttachedReadersAlone_data();
    void watchLeavesAttachedReadersAlone();
    void undoRestoresTheReader_data();
    void undoRestoresTheReader();
    void undoNeverTakesAnotherReadersEntry();
    void aHistoryThatCannotBeSavedStopsTheWrite();
    void tornAndDamagedLinesAreSkipped();
    void theCapDropsTheOldestEntriesOnly();
    void aFailedBackupKeepsTheOldFile();
    void diffAllSaysEachReader_data();
    void diffAllSaysEachReader();
    void undoAllPreviewsThenTakesBackTheRun();
    void undoStepsBackOneWriteAtATime();
    void aSerialWriteThroughALinkIsFoundByTheRealPort();
    void anUnreadableHistoryIsSaid();
    void undoTakesTheNewestWriteNotTakenBack_data();
    void undoTakesTheNewestWriteNotTakenBack();
    void aFullDiskLeavesEveryFileAsItWas();
    void outputThatCannotBeWrittenFails();
    void twoWritersShareOneHistoryPastTheCap();
    void aHistoryThatIsNoRegularFileIsRefused_data();
    void aHistoryThatIsNoRegularFileIsRefused();
    void aSecondWriterOfAReaderWritesNothing();
    void bytesWithoutANameSurviveWriteAndUndo();

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
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir->filePath(QStringLiteral("runtime"))));
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
                                             << QStringList{"Preamble: \"\" -> \"[ESC]X\"", "Buzzer Enable: true -> false",
                                                            "Output length: 16 -> 9"}
                                             << 3;
    QTest::newRow("what it holds already") << QByteArray(R"({"buzzer": true, "outputStart": 0})") << QStringList()
                                           << 0;
    QTest::newRow("one of two") << QByteArray(R"({"keyboardCountry": "Italy", "postamble": ""})")
                                << QStringList{"KB Country: \"USA\" -> \"Italy\""} << 3;
    // Named as the window labels it, its value 0..255 as in the window.
    QTest::newRow("above 127") << QByteArray(R"({"outputLength": 200})") << QStringList{"Output length: 16 -> 200"}
                               << 3;
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

void ProvisionTest::aUsbBackupServesASerialReader_data()
{
    QTest::addColumn<QStringList>("arguments"); // after the command: FILE, then --port PORT
    QTest::addColumn<int>("code");
    QTest::newRow("write") << QStringList{"write"} << 0;
    QTest::newRow("diff") << QStringList{"diff"} << 3;
    QTest::newRow("apply") << QStringList{"apply", "--json"} << 0;
    QTest::newRow("write --strict") << QStringList{"write", "--strict"} << 2;
    QTest::newRow("apply --strict") << QStringList{"apply", "--strict"} << 2;
}

void ProvisionTest::aUsbBackupServesASerialReader()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    ReaderModel usb;
    usb.state().kbCountry = 4;
    usb.state().outputLength = 9;
    FakeHid::attach(&usb);
    const QString backup = m_dir->filePath(QStringLiteral("usb.json"));
    QCOMPARE(tavrinctl({"read", "-o", backup}).code, 0);
    FakeHid::attach(nullptr);
    openPty();
    const ReaderState before = model->state();

    const Outcome o = tavrinctl(arguments << backup << "--port" << pty->portName());
    QVERIFY2(o.code == code, qPrintable(o.out + o.err));
    const QString note = QStringLiteral("keyboardCountry is not written over a serial port");
    QVERIFY(o.err.startsWith(code == 2 ? "tavrinctl: \"keyboardCountry\" cannot be written" : "tavrinctl: " + note));
    QCOMPARE(model->state().outputLength, code == 0 ? 9 : before.outputLength);
    QCOMPARE(model->state().kbCountry, before.kbCountry);
    if (code == 0) // the reader's record keeps the note
        QCOMPARE(History().read().entries.last().reason, note);
}

void ProvisionTest::aReaderNamedTwiceIsWrittenOnce()
{
    openPty();
    const QString link = m_dir->filePath(QStringLiteral("reader-port"));
    QVERIFY(QFile::link(pty->portName(), link));
    const QString port = pty->portName();
    const Outcome o = tavrinctl({"apply", settingsPath(), "--port", port, "--port", port, "--port", link});
    QVERIFY2(o.code == 0, qPrintable(o.out + o.err));
    QVERIFY(o.out.endsWith("1 confirmed, 0 already set, 0 failed\n"));
    QCOMPARE(model->settingsDoneCount(), 1);
    QCOMPARE(o.err, QStringLiteral("tavrinctl: \"%1\" is named more than once: it is one reader, written once\n"
                                   "tavrinctl: \"%1\" and \"%2\" are one reader: it is written once\n")
                        .arg(port, link));
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
    QVERIFY(undo.out.contains("Output length: 9 -> 16"));
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

void ProvisionTest::diffAllSaysEachReader_data()
{
    QTest::addColumn<int>("matching"); // readers holding the file already, of three
    QTest::addColumn<bool>("silent");  // the third never answers
    QTest::addColumn<int>("code");
    QTest::newRow("none differs") << 3 << false << 0;
    QTest::newRow("one differs") << 2 << false << 3;
    QTest::newRow("one silent") << 2 << true << 1;
}

void ProvisionTest::diffAllSaysEachReader()
{
    QFETCH(int, matching);
    QFETCH(bool, silent);
    QFETCH(int, code);
    QList<int> readers;
    for (int i = 0; i < 3; ++i)
        readers << addReader();
    const QString file = settingsPath();
    for (int i = 0; i < matching; ++i)
        QCOMPARE(tavrinctl({"write", "--device", FakeHid::readerPath(readers[i]), file}).code, 0);
    FakeHid::setReaderSilent(readers[2], silent);
    const QList<int> written = {m_models[0]->settingsDoneCount(), m_models[1]->settingsDoneCount()};

    const Outcome o = tavrinctl({"diff", file, "--all"});
    QCOMPARE(o.code, code);
    const QStringList lines = o.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines[0].endsWith(": nothing would change"), qPrintable(lines[0]));
    QVERIFY2(silent ? lines[2].contains(": failed: ")
                    : lines[2].endsWith(code == 3 ? ": Preamble: \"\" -> \"[ESC]X\"; Buzzer Enable: true -> false; "
                                                    "Output length: 16 -> 9"
                                                  : ": nothing would change"),
             qPrintable(lines[2]));
    const QJsonArray records = QJsonDocument::fromJson(tavrinctl({"diff", file, "--all", "--json"}).out.toUtf8()).array();
    QCOMPARE(records.size(), 3);
    QCOMPARE(records[2].toObject().value("changes").isNull(), silent);
    QCOMPARE(QList<int>({m_models[0]->settingsDoneCount(), m_models[1]->settingsDoneCount()}), written);
}

void ProvisionTest::undoAllPreviewsThenTakesBackTheRun()
{
    for (int i = 0; i < 3; ++i)
        addReader();
    QCOMPARE(tavrinctl({"write", "--device", FakeHid::readerPath(2), settingsPath()}).code, 0);
    const ReaderState before = m_models[2]->state();
    QCOMPARE(tavrinctl({"apply", settingsPath(), "--all"}).code, 0);
    const int frames = int(FaultCheck::nonReadFrames(m_models[2]->framesReceived()).size());

    const Outcome preview = tavrinctl({"undo", "--all", "--dry-run"});
    QVERIFY2(preview.code == 0, qPrintable(preview.err));
    QVERIFY(preview.out.startsWith("run "));
    QCOMPARE(preview.out.count("would go back to the settings"), 2); // the reader already set is not of it
    QVERIFY(preview.out.contains("  Output length: 9 -> 16"));
    QCOMPARE(FaultCheck::nonReadFrames(m_models[2]->framesReceived()).size(), frames);

    const Outcome undo = tavrinctl({"undo", "--all"});
    QVERIFY2(undo.code == 0, qPrintable(undo.out + undo.err));
    QCOMPARE(describe(m_models[2]->state()), describe(before));
    QCOMPARE(m_models[1]->state().outputLength, 9); // its write was before the run
    QVERIFY(tavrinctl({"undo", "--all"}).out.contains("taken back already; nothing was written"));
    const QString run = undo.out.section(' ', 1, 1).left(8);
    QVERIFY(tavrinctl({"undo", "--run", run}).out.contains("taken back already; nothing was written"));
}

void ProvisionTest::undoStepsBackOneWriteAtATime()
{
    FakeHid::attach(model.get());
    const ReaderState original = model->state();
    QCOMPARE(tavrinctl({"write", settingsPath()}).code, 0);
    const ReaderState first = model->state();
    QCOMPARE(tavrinctl({"write", "-"}, R"({"outputLength": 4})").code, 0);
    // Written again with what it holds: passed over by an undo.
    QCOMPARE(tavrinctl({"write", "-"}, R"({"outputLength": 4})").code, 0);

    QVERIFY(tavrinctl({"undo"}).out.contains("Output length: 4 -> 9"));
    QCOMPARE(describe(model->state()), describe(first));
    QVERIFY(tavrinctl({"undo"}).out.contains("Output length: 9 -> 16"));
    QCOMPARE(describe(model->state()), describe(original));
    QVERIFY(tavrinctl({"undo"}).err.contains("is taken back already; nothing was written"));

    const QStringList lines = tavrinctl({"history"}).out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 5);
    QVERIFY2(lines[0].contains("  confirmed  undo of ") && lines[1].contains("  undo of "), qPrintable(lines[0]));
    QVERIFY2(lines[2].endsWith("nothing changed"), qPrintable(lines[2]));
}

void ProvisionTest::aSerialWriteThroughALinkIsFoundByTheRealPort()
{
    openPty();
    const QString link = m_dir->filePath("by-id-reader");
    QVERIFY(QFile::link(pty->portName(), link));
    const ReaderState before = model->state();
    QCOMPARE(tavrinctl({"write", "--port", link, settingsPath()}).code, 0);

    const QJsonArray entries =
        QJsonDocument::fromJson(tavrinctl({"history", "--json", "--port", pty->portName()}).out.toUtf8()).array();
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries[0].toObject().value("reader").toString(), QFileInfo(pty->portName()).canonicalFilePath());
    const Outcome undo = tavrinctl({"undo", "--port", pty->portName()});
    QVERIFY2(undo.code == 0, qPrintable(undo.err));
    QCOMPARE(describe(model->state()), describe(before));
}

void ProvisionTest::anUnreadableHistoryIsSaid()
{
    FakeHid::attach(model.get());
    // A folder where the file should be: unreadable even to root.
    QVERIFY(QDir().mkpath(m_dir->filePath("state/tavrin/history.jsonl")));

    Outcome o = tavrinctl({"undo"});
    QCOMPARE(o.code, 1);
    QVERIFY2(o.err.startsWith("tavrinctl: cannot read the history (") && o.err.endsWith("): nothing can be undone\n"),
             qPrintable(o.err));
    QVERIFY(model->framesReceived().isEmpty());
    QCOMPARE(tavrinctl({"history", "--all"}).code, 1);

    // Every reader right, but its record lost: not a success.
    QCOMPARE(tavrinctl({"write", "--no-history", settingsPath()}).code, 0);
    o = tavrinctl({"apply", settingsPath(), "--all"});
    QCOMPARE(o.code, 1);
    QVERIFY2(o.out.contains(": already set") && o.err.contains("could not be saved to the history"), qPrintable(o.err));
}

void ProvisionTest::undoTakesTheNewestWriteNotTakenBack_data()
{
    // Entries oldest first: wN a write that changed reader A, uN! an undo of
    // it (failed with !), xN a write that sent nothing, sN one of what A
    // held, bN a write to reader B.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("taken");
    QTest::newRow("a write taken back") << QStringList{"w1", "u1"} << QString();
    QTest::newRow("a stack") << QStringList{"w1", "w2", "u2", "w3", "u3"} << "id-1";
    QTest::newRow("a failed undo is tried again") << QStringList{"w1", "u1!"} << "id-1";
    QTest::newRow("nothing sent, nothing changed") << QStringList{"w1", "x2", "s3"} << "id-1";
    QTest::newRow("another reader's") << QStringList{"b1"} << QString();
}

void ProvisionTest::undoTakesTheNewestWriteNotTakenBack()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, taken);
    QList<ProvisionRecord> entries;
    for (const QString &step : std::as_const(steps)) {
        ProvisionRecord r = entry(step.mid(1, 1).toInt(), step.startsWith('b') ? "B" : "A");
        if (step.startsWith('u')) {
            r.undoes = r.entryId;
            r.entryId += "-undo";
            r.result = step.endsWith('!') ? ProvisionResult::Failed : ProvisionResult::Confirmed;
        } else if (step.startsWith('x')) {
            r.written.reset();
            r.result = ProvisionResult::Failed;
        } else if (step.startsWith('s')) {
            r.written = r.before;
        }
        entries << r;
    }
    const std::optional<ProvisionRecord> found = entryToUndo(entries, {"A", ReaderIdentity::Basis::SerialNumber});
    QCOMPARE(found ? found->entryId : QString(), taken);
}

void ProvisionTest::aFullDiskLeavesEveryFileAsItWas()
{
    FakeHid::attach(model.get());
    const QString backup = m_dir->filePath("reader.json");
    const QString log = m_dir->filePath("bench.log");
    const QString settings = settingsPath();
    QCOMPARE(tavrinctl({"read", "-o", backup}).code, 0);
    const QByteArray good = contentOf(backup);
    {
        QFile file(log);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(good);
    }
    model->state().outputLength = 42;
    {
        const FileSizeLimit full(rlim_t(good.size() - 10));
        Outcome o = tavrinctl({"read", "-o", backup});
        QCOMPARE(o.code, 1);
        QVERIFY2(o.err.startsWith("tavrinctl: cannot write") && o.err.contains("File too large"), qPrintable(o.err));
        // The reader is written; the log that should say so cannot be.
        o = tavrinctl({"apply", settings, "--all", "--no-history", "--log", log});
        QCOMPARE(o.code, 1);
        QVERIFY2(o.err.contains("cannot write") && o.err.contains("bench.log"), qPrintable(o.err));
        QCOMPARE(model->state().outputLength, 9);
    }
    QCOMPARE(contentOf(backup), good);
    QCOMPARE(contentOf(log), good);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"bench.log", "reader.json", "settings.json"}));
}

void ProvisionTest::outputThatCannotBeWrittenFails()
{
    FakeHid::attach(model.get());
    for (const QStringList &command : {QStringList{"read"}, QStringList{"list", "--json"}, QStringList{"history"}}) {
        QFile full("/dev/full");
        QVERIFY(full.open(QIODevice::WriteOnly));
        QBuffer in;
        in.open(QIODevice::ReadOnly);
        QString err;
        QTextStream out(&full);
        QTextStream errStream(&err);
        QCOMPARE(Tavrinctl::run(command, out, errStream, in), 1);
        errStream.flush();
        QVERIFY2(err.contains("tavrinctl: cannot write the output: No space left on device"), qPrintable(err));
    }
}

void ProvisionTest::twoWritersShareOneHistoryPastTheCap()
{
    const QString path = m_dir->filePath("history.jsonl");
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a record, but not ours to drop\n");
    }
    // Each its own History, as two processes have: only the lock on the
    // file keeps the one's trim from losing the other's lines.
    constexpr int Each = 300;
    const auto writer = [&path](const QString &reader) {
        History history(path, 6000);
        for (int n = 0; n < Each; ++n) {
            ProvisionRecord record = entry(n, reader);
            record.entryId = QStringLiteral("%1-%2").arg(reader).arg(n, 3, 10, QLatin1Char('0'));
            QVERIFY(history.append(record));
        }
    };
    std::thread a(writer, QStringLiteral("A"));
    std::thread b(writer, QStringLiteral("B"));
    a.join();
    b.join();

    const History::Listing listing = History(path).read();
    QCOMPARE(listing.damagedLines, 1);
    QVERIFY(QFileInfo(path).size() <= 6000 + 200);
    // The file ends with the last append of whichever writer ended last, and
    // what each writer kept is its newest entries without a gap (possibly
    // none, when the other's fill the cap).
    QVERIFY(listing.entries.last().entryId.endsWith(QStringLiteral("-%1").arg(Each - 1)));
    for (const QString &reader : {QStringLiteral("A"), QStringLiteral("B")}) {
        QList<int> kept;
        for (const ProvisionRecord &r : listing.entries) {
            if (r.reader.id == reader)
                kept << r.entryId.mid(2).toInt();
        }
        for (qsizetype i = 0; i < kept.size(); ++i)
            QCOMPARE(kept[i], Each - kept.size() + i);
    }
    // Read with a cap far below the file: only its newest part, whole lines.
    const History::Listing tail = History(path, 500).read();
    QCOMPARE(tail.damagedLines, 0);
    QVERIFY(!tail.entries.isEmpty() && tail.entries.size() < listing.entries.size());
    QCOMPARE(tail.entries.last().entryId, listing.entries.last().entryId);
}

void ProvisionTest::aHistoryThatIsNoRegularFileIsRefused_data()
{
    QTest::addColumn<bool>("fifo");
    QTest::newRow("symbolic link") << false;
    QTest::newRow("FIFO") << true;
}

void ProvisionTest::aHistoryThatIsNoRegularFileIsRefused()
{
    QFETCH(bool, fifo);
    const QString path = m_dir->filePath("history.jsonl");
    const QString elsewhere = m_dir->filePath("elsewhere");
    QFile(elsewhere).open(QIODevice::WriteOnly);
    QVERIFY(fifo ? mkfifo(QFile::encodeName(path).constData(), 0600) == 0
                 : QFile::link(elsewhere, path));
    History history(path, 100);
    QString why;
    QVERIFY(!history.append(entry(1, "A"), &why));
    QVERIFY2(why.contains(fifo ? "not a regular file" : "symbolic link"), qPrintable(why));
    // Read at once, not waiting for a writer that never comes.
    QVERIFY(history.read().error.contains(fifo ? "not a regular file" : "symbolic link"));
    QCOMPARE(contentOf(elsewhere), QByteArray());
}

void ProvisionTest::aSecondWriterOfAReaderWritesNothing()
{
    FakeHid::attach(model.get());
    const QList<ProvisionTarget> readers = attachedUsbReaders();
    QCOMPARE(readers.size(), 1);
    const ReaderLock first(readers.first().identity);
    QVERIFY(first.held());
    const QString said = QStringLiteral("%1 is being written by another process (PID %2)")
                             .arg(readers.first().identity.id)
                             .arg(::getpid());
    Outcome o = tavrinctl({"write", settingsPath()});
    QCOMPARE(o.code, 1);
    QCOMPARE(o.err, "tavrinctl: " + said + "\n");
    o = tavrinctl({"apply", settingsPath(), "--all"});
    QCOMPARE(o.code, 1);
    QVERIFY2(o.out.contains(said) && o.out.contains("0 confirmed"), qPrintable(o.out));
    QVERIFY(FaultCheck::nonReadFrames(model->framesReceived()).isEmpty());
}

void ProvisionTest::bytesWithoutANameSurviveWriteAndUndo()
{
    FakeHid::attach(model.get());
    model->state().flags |= 0xE0;
    model->state().kbCountry = 9;
    const ReaderState before = model->state();
    QVERIFY(tavrinctl({"read"}).out.contains("\"keyboardCountry\": 9"));

    Outcome o = tavrinctl({"write", settingsPath()});
    QVERIFY2(o.code == 0, qPrintable(o.err));
    QCOMPARE(model->state().flags & 0xE0, 0xE0);
    QCOMPARE(model->state().kbCountry, 9);

    // Someone else's write since then cleared them; the undo brings them back.
    model->state().flags &= 0x1F;
    model->state().kbCountry = 2;
    o = tavrinctl({"undo"});
    QVERIFY2(o.code == 0, qPrintable(o.err));
    QCOMPARE(describe(model->state()), describe(before));
}

QTEST_MAIN(ProvisionTest)
#include "tst_provision.moc"

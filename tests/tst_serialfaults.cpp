// Faults on the serial side, through the window: the adapter vanishing while
// the reader talks or while the window writes, noise on the line, replies
// that come twice or in pieces, and a firmware writer that cannot run or
// fails. Whatever happens, the window must not hang or spin, must show the
// connection as it is, and must send the reader nothing it was not asked to.
#include "app/mainwindow.h"
#include "settings/textcodec.h"
#include "link/commandframe.h"
#include "link/readerlink.h"

#include "support/faultcheck.h"
#include "support/readertestcase.h"
#include "support/traces.h"
#include "support/windowdriver.h"

#include "ptyreader.h"
#include "readermodel.h"
#include "readerreplies.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <QTextEdit>
#include <QTimer>

#include <functional>

namespace {

const QByteArray TokenLine = QByteArrayLiteral("01000017A5C3E2B9\r\n");

QString label(const MainWindow &w)
{
    return widget<QLabel>(w, "FWLbl")->text();
}

QString edit(const MainWindow &w, const char *name)
{
    return widget<QLineEdit>(w, name)->text();
}

QString scannerText(const MainWindow &w)
{
    return widget<QTextEdit>(w, "ScannerEdit")->toPlainText();
}

QByteArray randomBytes(QRandomGenerator &random, int count)
{
    QByteArray bytes(count, '\0');
    for (char &b : bytes)
        b = char(random.bounded(256));
    return bytes;
}

// Collects the program's traces and runs an action, once, at the first
// trace that starts with a prefix: a way into the middle of a sequence of
// writes that has no other seam.
class TraceHook
{
public:
    TraceHook(const QString &prefix, std::function<void()> action)
        : prefix(prefix), action(std::move(action))
    {
        current = this;
        enableTraces();
        previous = qInstallMessageHandler(handle);
    }
    ~TraceHook()
    {
        qInstallMessageHandler(previous);
        current = nullptr;
    }
    TraceHook(const TraceHook &) = delete;
    TraceHook &operator=(const TraceHook &) = delete;

    QStringList lines;
    bool fired = false;

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        TraceHook *hook = current;
        if (!hook || type != QtDebugMsg || qstrcmp(context.category, "tavrin.wire") == 0)
            return;
        hook->lines << message;
        if (!hook->fired && !hook->prefix.isEmpty() && message.startsWith(hook->prefix)) {
            hook->fired = true;
            hook->action();
        }
    }

    static inline TraceHook *current = nullptr;
    QString prefix;
    std::function<void()> action;
    QtMessageHandler previous = nullptr;
};

// Runs an action, once, when a widget is switched off.
class DisableHook : public QObject
{
public:
    explicit DisableHook(std::function<void()> action) : action(std::move(action)) {}
    bool fired = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!fired && event->type() == QEvent::EnabledChange && !static_cast<QWidget *>(watched)->isEnabled()) {
            fired = true;
            action();
        }
        return false;
    }

private:
    std::function<void()> action;
};

} // namespace

class SerialFaultsTest : public ReaderTestCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void adapterGoneWhileReceiving_data();
    void adapterGoneWhileReceiving();
    void adapterGoneWhileWriting_data();
    void adapterGoneWhileWriting();
    void noiseOnTheLine_data();
    void noiseOnTheLine();
    void repeatedAndLateReplies_data();
    void repeatedAndLateReplies();
    void firmwareWriterFails_data();
    void firmwareWriterFails();

private:
    // Connected to the model over the pseudo-terminal, its read answered.
    void connectSerial(MainWindow &w);
};

void SerialFaultsTest::init()
{
    startCase(); // no USB reader: the window starts on the serial side
    openPty();
}

void SerialFaultsTest::cleanup()
{
    endCase();
}

void SerialFaultsTest::connectSerial(MainWindow &w)
{
    connectOverSerial(w, *pty);
    QVERIFY(connectedOverSerial(w) && w.link().isOpen());
    QTRY_COMPARE(label(w), QStringLiteral("F/W Version: 1BT V2.0"));
    QTRY_VERIFY(pty->isIdle());
    boxes->boxes.clear();
}

void SerialFaultsTest::adapterGoneWhileReceiving_data()
{
    QTest::addColumn<QString>("when");
    QTest::addColumn<QString>("requests"); // command codes the reader got from the fault on

    QTest::newRow("bytes waiting, polled before the port noticed") << "poll first" << "";
    QTest::newRow("between two timer polls") << "timer" << "";
    QTest::newRow("half-way through the reply to a settings read") << "split reply" << "00 02 10 20 24 28";
    QTest::newRow("before the reply to a settings read") << "silent" << "00 02 10 20 24 28";
    QTest::newRow("while the connect's box is open") << "connect box" << "00 02 10 20 24 28";
}

void SerialFaultsTest::adapterGoneWhileReceiving()
{
    QFETCH(QString, when);
    QFETCH(QString, requests);

    MainWindow w;
    if (when != QLatin1String("connect box"))
        connectSerial(w);
    const int framesBefore = int(model->framesReceived().size());
    const QString shownBefore = scannerText(w);

    if (when == QLatin1String("poll first")) {
        // The poll comes from here, right after the far end went.
        pollTimer(w)->stop();
        QVERIFY(arriveAtPort(w, *pty, TokenLine));
        pty->closeMaster();
        pollPort(w);
        if (connectedOverSerial(w))
            pollTimer(w)->start(100);
        QCOMPARE(scannerText(w), shownBefore + QStringLiteral("01000017A5C3E2B9\n"));
    } else if (when == QLatin1String("timer")) {
        pty->inject(TokenLine);
        pty->closeMaster();
    } else if (when == QLatin1String("split reply")) {
        model->faults().splitReply = true;
        pty->setSplitPause(250);
        // Not from inside the bridge's own write loop.
        connect(pty.get(), &PtyReader::bytesSent, this,
                [this] { QTimer::singleShot(0, pty.get(), [this] { pty->closeMaster(); }); },
                Qt::SingleShotConnection);
        click(w, "GetIBTStatusBut");
        // Half a reply is no reply.
        QCOMPARE(boxes->texts(), QStringList{StatusFail});
    } else if (when == QLatin1String("silent")) {
        model->faults().silent = true;
        QTimer::singleShot(200, pty.get(), [this] { pty->closeMaster(); });
        QElapsedTimer clock;
        clock.start();
        click(w, "GetIBTStatusBut");
        // The read ends with the port, not at its time limit.
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(boxes->texts(), QStringList{StatusFail});
    } else {
        selectSerialPort(w, pty->portName());
        boxes->onBox = [this](const SeenBox &) {
            (void)QTest::qWaitFor([this] { return model->framesReceived().size() >= 6; }, 1000);
            pty->closeMaster();
            QTest::qWait(200);
        };
        click(w, "ConnectBut");
        QCOMPARE(boxes->texts(), QStringList{ReadOk});
    }

    QTRY_VERIFY_WITH_TIMEOUT(shownDisconnected(w), 2000);
    QCOMPARE(widget<QPushButton>(w, "ConnectBut")->text(), QStringLiteral("Connect Device"));
    VERIFY_AFTER_FAULT(w);
    const QByteArrayList frames = model->framesReceived().mid(framesBefore);
    QCOMPARE(FaultCheck::codesOf(frames), requests);
    QVERIFY(FaultCheck::nonReadFrames(frames).isEmpty());
    QVERIFY(scannerText(w).startsWith(shownBefore));
    // No reconnect here: the freed pseudo-terminal's name may already
    // belong to another process.
}

void SerialFaultsTest::adapterGoneWhileWriting_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("hook");   // the trace that marks the moment; empty: KB_cmb switched off
    QTest::addColumn<QString>("arrived"); // command codes that reached the reader
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QStringList>("absent"); // traces of frames that must never be built

    QTest::newRow("settings read, after 3 of 6 requests")
        << "read" << "" << "00 02 10" << StatusFail << "Unable to write settings request 3 to the serial port\n" << QStringList{};
    // A write starts with a read of what the reader holds (kept before any
    // frame of the write goes out).
    QTest::newRow("settings write, after the flags frame")
        << "write" << "t1num:" << "00 02 10 20 24 28 02" << WriteFail << "Serial write failed"
        << QStringList{"PreVal="};
    QTest::newRow("settings write, after 2 of 6 frames")
        << "write" << "PreVal=" << "00 02 10 20 24 28 02 10" << WriteFail << "Serial write failed" << QStringList{};
}

void SerialFaultsTest::adapterGoneWhileWriting()
{
    QFETCH(QString, action);
    QFETCH(QString, hook);
    QFETCH(QString, arrived);
    QFETCH(QString, box);
    QFETCH(QString, failure);
    QFETCH(QStringList, absent);

    MainWindow w;
    connectSerial(w);
    // The read before a write gets its answer; nothing else does.
    model->faults().silent = action == QLatin1String("read");
    widget<QLineEdit>(w, "PreAmbleEdit")->setText(QStringLiteral("P"));
    const int framesBefore = int(model->framesReceived().size());
    const int arriving = int(arrived.split(' ').size());

    // What was written so far reaches the reader before the adapter goes.
    const auto pull = [&] {
        (void)QTest::qWaitFor([&] { return model->framesReceived().size() >= framesBefore + arriving; }, 1000);
        pty->closeMaster();
    };
    TraceHook traces(hook, pull);
    DisableHook kbOff(pull);
    auto *kb = widget<QComboBox>(w, "KB_cmb");
    if (hook.isEmpty()) {
        kb->setEnabled(true);
        kb->installEventFilter(&kbOff);
    }
    QElapsedTimer clock;
    clock.start();
    click(w, action == QLatin1String("read") ? "GetIBTStatusBut" : "SetIBTStatusBut");
    const qint64 took = clock.elapsed();
    kb->removeEventFilter(&kbOff);

    QVERIFY(traces.fired || kbOff.fired);
    QVERIFY2(took < 2000, qPrintable(QString::number(took)));
    // The typed "P" is asked about before a read replaces it.
    QCOMPARE(boxes->texts(), (action == QLatin1String("read") ? QStringList{ReplaceWithRead, box} : QStringList{box}));
    QVERIFY2(std::count_if(traces.lines.cbegin(), traces.lines.cend(),
                           [&failure](const QString &line) { return line.startsWith(failure); })
                 == 1,
             qPrintable(traces.lines.join("|")));
    for (const QString &line : absent)
        QVERIFY2(traces.lines.filter(line).isEmpty(), qPrintable(traces.lines.join(',')));
    QTRY_VERIFY_WITH_TIMEOUT(shownDisconnected(w), 2000);
    VERIFY_AFTER_FAULT(w);

    const QByteArrayList frames = model->framesReceived().mid(framesBefore);
    QCOMPARE(FaultCheck::codesOf(frames), arrived);
    if (action == QLatin1String("read"))
        QVERIFY(FaultCheck::nonReadFrames(frames).isEmpty());
    QCOMPARE(model->settingsDoneCount(), 0);
}

void SerialFaultsTest::noiseOnTheLine_data()
{
    QTest::addColumn<QByteArrayList>("chunks"); // what the line carries before the reply, a piece at a time
    QTest::addColumn<bool>("duringTheRead");        // else before it was asked for

    QRandomGenerator random(20240611);
    QByteArrayList noise;
    for (int i = 0; i < 64; ++i)
        noise << randomBytes(random, 64);
    QByteArrayList runs;
    for (int i = 0; i < 32; ++i)
        runs << "1BT" + randomBytes(random, int(random.bounded(120))) + "\r";
    QByteArrayList zeros;
    for (int i = 0; i < 16; ++i)
        zeros << QByteArray(64, '\0');
    ReaderState state;
    state.firmware = "1BT V7.7";
    const QByteArray impossible = ReaderReplies::serialVersion(state) + ReaderReplies::serialFlags(state)
        + ReaderReplies::serialOutput(state) + QByteArray::fromHex("1B4220FF") + "abc\r";

    QTest::newRow("random bytes") << noise << true;
    QTest::newRow("zero bytes") << zeros << true;
    QTest::newRow("token output") << QByteArrayList{TokenLine, TokenLine, TokenLine} << true;
    // A "1BT" whose count announces more than ever comes holds nothing up.
    QTest::newRow("settings reply with an impossible block count") << QByteArrayList{impossible} << true;
    // What came before the request is no answer to it, however it looks.
    QTest::newRow("random runs from 1BT to CR") << runs << false;
}

void SerialFaultsTest::noiseOnTheLine()
{
    QFETCH(QByteArrayList, chunks);
    QFETCH(bool, duringTheRead);

    MainWindow w;
    connectSerial(w);
    pty->clearRecords();
    ReaderState later;
    later.firmware = "1BT V3.1";
    later.outputStart = 7;
    later.preAmble = "[";
    const auto sendNoise = [&] {
        for (const QByteArray &chunk : chunks) {
            pty->inject(chunk);
            QTest::qWait(5);
        }
    };

    // The reader answers the read late, after whatever else was on the line.
    model->faults().silent = true;
    if (!duringTheRead) {
        sendNoise();
        QTRY_VERIFY(pty->isIdle() && w.link().bytesWaiting() == 0);
    }
    QTimer::singleShot(0, pty.get(), [&] {
        if (duringTheRead)
            sendNoise();
        pty->inject(ReaderReplies::serialSettingsRun(later));
    });
    click(w, "GetIBTStatusBut");

    QCOMPARE(boxes->texts(), QStringList{ReadOk});
    QCOMPARE((QStringList{label(w), edit(w, "IBTOutStartEdit"), edit(w, "PreAmbleEdit")}),
             (QStringList{"F/W Version: 1BT V3.1", "7", "["}));
    // Noise is no reason to drop the connection, nor to send anything more.
    QVERIFY(w.link().isOpen());
    VERIFY_AFTER_FAULT(w);
    QCOMPARE(pty->received().size(), 6 * 8);
}

void SerialFaultsTest::repeatedAndLateReplies_data()
{
    QTest::addColumn<QString>("how");

    QTest::newRow("the same reply twice in one chunk") << "one chunk";
    QTest::newRow("the same reply twice in two chunks") << "two chunks";
    QTest::newRow("a reply in two polls") << "split";
    QTest::newRow("a reply in a byte a poll") << "bytes";
}

void SerialFaultsTest::repeatedAndLateReplies()
{
    QFETCH(QString, how);

    MainWindow w;
    connectSerial(w);
    pty->clearRecords();
    ReaderState state;
    state.firmware = "1BT V4.2";
    state.outputStart = 7;
    state.outputLength = 9;
    state.preAmble = "[";
    const QByteArray run = ReaderReplies::serialSettingsRun(state);

    QByteArrayList chunks;
    if (how == QLatin1String("one chunk")) {
        chunks << run + run;
    } else if (how == QLatin1String("two chunks")) {
        chunks << run << run;
    } else if (how == QLatin1String("split")) {
        chunks << run.left(20) << run.mid(20);
    } else {
        for (const char byte : run)
            chunks << QByteArray(1, byte);
    }
    model->faults().silent = true;
    QTimer::singleShot(0, pty.get(), [&] {
        for (const QByteArray &chunk : chunks) {
            pty->inject(chunk);
            QTest::qWait(how == QLatin1String("bytes") ? 2 : 120);
        }
    });
    click(w, "GetIBTStatusBut");

    QCOMPARE(boxes->texts(), QStringList{ReadOk});
    QCOMPARE((QStringList{label(w), edit(w, "IBTOutStartEdit"), edit(w, "IBTOutLengthEdit"), edit(w, "PreAmbleEdit")}),
             (QStringList{"F/W Version: 1BT V4.2", "7", "9", "["}));
    QVERIFY(w.link().isOpen());
    VERIFY_AFTER_FAULT(w);
    QCOMPARE(pty->received().size(), 6 * 8);
}

void SerialFaultsTest::firmwareWriterFails_data()
{
    QTest::addColumn<QByteArray>("writer"); // script body; empty: no writer at all
    QTest::addColumn<bool>("executable");
    QTest::addColumn<QString>("box"); // what the box says in part; empty: the writer ran

    // Without a writer that can run, the reader is not told to wait for one.
    QTest::newRow("missing") << QByteArray() << true << "(No such file)";
    QTest::newRow("not executable") << QByteArray("exit 0\n") << false << "(Not executable)";
    QTest::newRow("ends with code 3") << QByteArray("exit 3\n") << true << "";
    // The adapter goes as the programming-mode frame leaves: no writer runs.
    QTest::newRow("programming-mode frame lost") << QByteArray("touch ran\n") << true << "Can't send ISP mode";
}

void SerialFaultsTest::firmwareWriterFails()
{
    QFETCH(QByteArray, writer);
    QFETCH(bool, executable);
    QFETCH(QString, box);

    QTemporaryDir workDir;
    QVERIFY(workDir.isValid());
    const QString previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(workDir.path()));
    const auto restore = qScopeGuard([&] { QDir::setCurrent(previousDir); });
    if (!writer.isEmpty()) {
        QFile file(QStringLiteral("tolmarwriter"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n" + writer);
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner
                                    | (executable ? QFile::ExeOwner : QFile::Permissions())));
    }

    MainWindow w;
    w.show();
    connectSerial(w);
    const int framesBefore = int(model->framesReceived().size());

    const bool lost = box.startsWith(QLatin1String("Can't"));
    TraceHook traces(lost ? QStringLiteral("serial_buf:") : QString(), [this] { pty->closeMaster(); });
    QElapsedTimer clock;
    clock.start();
    click(w, "FWUpdateBut");
    const qint64 took = clock.elapsed();

    QVERIFY(w.isVisible());
    if (lost) {
        QVERIFY(!QFile::exists(QStringLiteral("ran")));
        QVERIFY(traces.lines.filter("FWUpdate").isEmpty());
        QCOMPARE(boxes->boxes.size(), 2);
        QCOMPARE(boxes->boxes.last().title, QStringLiteral("ISP Mode"));
        QVERIFY2(boxes->boxes.last().text.contains(box) && boxes->boxes.last().text.endsWith(')'),
                 qPrintable(boxes->boxes.last().text));
        QCOMPARE(model->ispModeCount(), 0);
        return;
    }
    if (!box.isEmpty()) {
        QVERIFY2(took < 1000, qPrintable(QString::number(took)));
        QCOMPARE(traces.lines, QStringList{"FWUpdate fail"});
        QCOMPARE(boxes->boxes.size(), 1);
        QVERIFY2(boxes->boxes.first().text.contains(box), qPrintable(boxes->boxes.first().text));
        QVERIFY2(boxes->boxes.first().text.contains(QDir(workDir.path()).filePath("tolmarwriter")),
                 qPrintable(boxes->boxes.first().text));
        // Nothing was sent and the reader is still there to be used.
        QTest::qWait(50);
        QCOMPARE(int(model->framesReceived().size()), framesBefore);
        QCOMPARE(model->ispModeCount(), 0);
        QCOMPARE(widget<QPushButton>(w, "ConnectBut")->text(), QStringLiteral("Disconnect"));
        VERIFY_AFTER_FAULT(w);
        return;
    }
    // One pause of a second before the writer, nothing that waits longer.
    QVERIFY2(took >= 1000 && took < 2500, qPrintable(QString::number(took)));
    QCOMPARE(traces.lines, (QStringList{"serial_buf: aa 55", "Pasq_Device disconnect", "FWUpdate fail"}));
    // Asked first, then told how the writer ended.
    QCOMPARE(boxes->boxes.size(), 2);
    QCOMPARE(boxes->boxes.last().title, QStringLiteral("FW Update"));
    QVERIFY2(boxes->boxes.last().text.contains(QStringLiteral("exit status 3")), qPrintable(boxes->boxes.last().text));
    QCOMPARE(widget<QPushButton>(w, "ConnectBut")->text(), QStringLiteral("Connect Device"));
    VERIFY_AFTER_FAULT(w);

    // The reader was told to take new firmware, once, and nothing after.
    QCOMPARE(FaultCheck::codesOf(model->framesReceived().mid(framesBefore)), QStringLiteral("FF"));
    QCOMPARE(model->ispModeCount(), 1);
}

QTEST_MAIN(SerialFaultsTest)
#include "tst_serialfaults.moc"

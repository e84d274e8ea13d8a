// The window's bench, its history and its undo, against simulated readers.
#include "app/mainwindow.h"
#include "app/provisionwindow.h"
#include "provision/history.h"

#include "support/fakedeviceevents.h"
#include "support/fakehid.h"
#include "support/faultcheck.h"
#include "support/readertestcase.h"
#include "support/windowdriver.h"

#include "ptyreader.h"
#include "readermodel.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QCryptographicHash>
#include <QInputDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

namespace {

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

QString cell(const ProvisionWindow &bench, int row, int column)
{
    const QTableWidgetItem *item = bench.findChild<QTableWidget *>(QStringLiteral("readersTable"))->item(row, column);
    return item ? item->text() : QString();
}

void trigger(const MainWindow &w, const char *action)
{
    w.findChild<QAction *>(QString::fromLatin1(action))->trigger();
}

// Answers the reader chooser Connect opens (-1: Cancel); the entries it listed.
std::shared_ptr<QStringList> answerChooser(int pick)
{
    auto listed = std::make_shared<QStringList>();
    QTimer::singleShot(50, [listed, pick] {
        if (auto *chooser = qobject_cast<QInputDialog *>(QApplication::activeModalWidget())) {
            *listed = chooser->comboBoxItems();
            chooser->setTextValue(listed->value(pick));
            pick < 0 ? chooser->reject() : chooser->accept();
        }
    });
    return listed;
}

} // namespace

class BenchWindowTest : public ReaderTestCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void benchTakesPluggedReadersAndWaitsWithAttachedOnes();
    void benchOpenedBeforeTheMonitorHearsReadersPluggedIn();
    void aReaderPluggedAgainDuringItsAttemptIsTriedAfterIt();
    void theFormIsOfferedOnlyOnceChosenAndFit();
    void connectAsksWhichOfSeveralReaders();
    void setStatusKeepsWhatTheReaderHeldFirst_data();
    void setStatusKeepsWhatTheReaderHeldFirst();
    void writeThenUndoLeavesTheReaderAsItWas_data();
    void writeThenUndoLeavesTheReaderAsItWas();
    void historyLoadsAnEntryIntoTheFormWithoutWriting();
    void unwrittenEditsAreReplacedOnlyWhenTheUserSaysSo_data();
    void unwrittenEditsAreReplacedOnlyWhenTheUserSaysSo();
    void ownBoxesAndTheStatusBarSayWhatTheyMean();
    void quitWhileTheBenchWorksWaitsAndEnds();

private:
    int addReader(bool plugged);
    QString writeSettings(const QByteArray &json);

    std::vector<std::unique_ptr<ReaderModel>> m_models;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void BenchWindowTest::init()
{
    startCase();
    m_dir = std::make_unique<QTemporaryDir>();
    qputenv("XDG_STATE_HOME", QFile::encodeName(m_dir->filePath(QStringLiteral("state"))));
}

void BenchWindowTest::cleanup()
{
    endCase();
    m_models.clear();
    m_dir.reset();
}

int BenchWindowTest::addReader(bool plugged)
{
    m_models.push_back(std::make_unique<ReaderModel>());
    const int n = FakeHid::addReader(m_models.back().get());
    if (!plugged)
        FakeHid::unplugReader(n);
    return n;
}

QString BenchWindowTest::writeSettings(const QByteArray &json)
{
    const QString path = m_dir->filePath(QStringLiteral("settings.json"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size())
        qFatal("cannot write %s", qPrintable(path));
    return file.fileName();
}

void BenchWindowTest::benchTakesPluggedReadersAndWaitsWithAttachedOnes()
{
    FakeHid::attach(model.get());
    const int attached = addReader(true);
    const int pulled = addReader(false);
    const int plugged = addReader(false);
    MainWindow w;
    auto *events = new FakeDeviceEvents;
    w.watchDevices(std::unique_ptr<DeviceEventSource>(events));
    answerChooser(0);
    QVERIFY(connectOverUsb(w));
    model->clearLog();
    const int framesBefore = int(model->framesReceived().size());
    boxes->boxes.clear();

    ProvisionWindow *bench = w.openProvisionWindow(writeSettings(R"({"outputLength": 9, "buzzer": false})"));
    QCOMPARE(bench->windowTitle(), QStringLiteral("Provision Readers"));
    // The set is named as the form labels it, the length 0..255 as written.
    QStringList set;
    for (const QListWidgetItem *item : bench->findChild<QListWidget *>(QStringLiteral("settingsList"))->findItems(
             QStringLiteral("*"), Qt::MatchWildcard))
        set << item->text();
    QCOMPARE(set, (QStringList{QStringLiteral("Buzzer Enable: off"), QStringLiteral("Output length: 9")}));
    // The main window lets go of the reader while the bench is open.
    QVERIFY(!w.link().isOpen());
    QCOMPARE(cell(*bench, 0, 3), QStringLiteral("attached"));
    QCOMPARE(cell(*bench, 1, 3), QStringLiteral("attached"));

    // One pulled out in the middle of its read, the next plugged in after it.
    FakeHid::plugInReader(pulled);
    FakeHid::unplugReaderAfterWrites(pulled, 2);
    events->send(DeviceEvent::Action::Added, DeviceEvent::Kind::UsbReader, FakeHid::readerPath(pulled));
    QTest::qWait(50);
    FakeHid::plugInReader(plugged);
    events->send(DeviceEvent::Action::Added, DeviceEvent::Kind::UsbReader, FakeHid::readerPath(plugged));
    QTRY_COMPARE_WITH_TIMEOUT(bench->records().size(), 2, 10000);
    QVERIFY(boxes->boxes.isEmpty());
    QCOMPARE(cell(*bench, 2, 0), FakeHid::readerSerialNumber(pulled));
    QCOMPARE(cell(*bench, 2, 3), QStringLiteral("failed"));
    QVERIFY2(cell(*bench, 2, 4).endsWith(QLatin1String("Pull the reader out and plug it in again: it is tried again "
                                                       "at once.")),
             qPrintable(cell(*bench, 2, 4)));
    QVERIFY(!bench->findChild<QTableWidget *>()->item(2, 3)->icon().isNull());
    QCOMPARE(cell(*bench, 3, 3), QStringLiteral("confirmed"));
    QCOMPARE(m_models[size_t(plugged) - 1]->state().outputLength, 9);
    QCOMPARE(bench->countText(), QStringLiteral("1 confirmed, 0 already set, 1 failed"));
    // The README's picture of a bench run.
    if (const QString shot = qEnvironmentVariable("TAVRIN_BENCH_SCREENSHOT"); !shot.isEmpty())
        QVERIFY(bench->grab().save(shot));
    QAccessibleInterface *count = QAccessible::queryAccessibleInterface(bench->findChild<QLabel *>("countLabel"));
    QCOMPARE(count->role(), QAccessible::StatusBar);
    QCOMPARE(count->text(QAccessible::Name), bench->countText());
    // The attached readers were left alone.
    QCOMPARE(model->framesReceived().size(), framesBefore);
    QVERIFY(m_models[size_t(attached) - 1]->framesReceived().isEmpty());

    events->send(DeviceEvent::Action::Removed, DeviceEvent::Kind::OtherHid, FakeHid::readerPath(pulled));
    QTest::qWait(50);

    // The reader pulled out is not there to be written; the others are.
    auto *provision = bench->findChild<QPushButton *>(QStringLiteral("provisionAttached"));
    auto *retry = bench->findChild<QPushButton *>(QStringLiteral("retryFailed"));
    QVERIFY(!retry->isEnabled());
    provision->click();
    QTRY_COMPARE_WITH_TIMEOUT(bench->records().size(), 4, 10000);
    QTRY_COMPARE(bench->countText(), QStringLiteral("3 confirmed, 0 already set, 1 failed"));
    QCOMPARE(model->state().outputLength, 9);
    QCOMPARE(m_models[size_t(attached) - 1]->state().outputLength, 9);
    // Nothing left that is attached and not right.
    QVERIFY(!provision->isEnabled());

    // Plugged in again, the failed reader is tried in its own row.
    FakeHid::plugInReader(pulled);
    events->send(DeviceEvent::Action::Added, DeviceEvent::Kind::UsbReader, FakeHid::readerPath(pulled));
    QTRY_COMPARE_WITH_TIMEOUT(bench->countText(), QStringLiteral("4 confirmed, 0 already set, 0 failed"), 10000);
    QCOMPARE(bench->findChild<QTableWidget *>()->rowCount(), 4);
    QCOMPARE(cell(*bench, 2, 3), QStringLiteral("confirmed"));
    QCOMPARE(m_models[size_t(pulled) - 1]->state().outputLength, 9);

    const QString report = m_dir->filePath(QStringLiteral("report.jsonl"));
    QVERIFY(bench->saveReportTo(report, nullptr));
    QFile saved(report);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = saved.readAll().split('\n');
    QCOMPARE(lines.size(), 8); // header, five attempts, summary, the end of the last line
    const QJsonObject header = QJsonDocument::fromJson(lines[0]).object();
    QCOMPARE(header.value("settings").toString(), m_dir->filePath(QStringLiteral("settings.json")));
    QCOMPARE(header.value("sha256").toString(),
             QString::fromLatin1(QCryptographicHash::hash(R"({"outputLength": 9, "buzzer": false})",
                                                          QCryptographicHash::Sha256)
                                     .toHex()));
    for (const char *key : {"host", "version", "started"})
        QVERIFY2(!header.value(QLatin1String(key)).toString().isEmpty(), key);
    // In the order they ended: the pulled one's failure among the first,
    // its confirmation last.
    QCOMPARE(int(lines.mid(1, 2).join().count(R"("result":"failed")")), 1);
    QVERIFY(lines[5].contains(R"("result":"confirmed")"));
    const QJsonObject summary = QJsonDocument::fromJson(lines[6]).object();
    QCOMPARE(summary.value("summary").toString(), bench->countText());
    QCOMPARE(summary.value("readers").toInt(), 4);
    QVERIFY(!summary.value("ended").toString().isEmpty());
    // Every write went to the history too: a pending line and its outcome.
    QCOMPARE(History().read().entries.size(), 5);

    // Closing the bench gives the main window its connection back.
    bench->close();
    QTRY_VERIFY(!w.provisionWindow());
    QVERIFY(w.link().isOpen());
    QCOMPARE(boxes->texts(), QStringList{ReadOk});
}

void BenchWindowTest::quitWhileTheBenchWorksWaitsAndEnds()
{
    FakeHid::attach(model.get());
    MainWindow w;
    w.show();
    QVERIFY(connectOverUsb(w));
    ProvisionWindow *bench = w.openProvisionWindow(writeSettings(R"({"outputLength": 9})"));
    model->setReplyLatencyMs(40);
    bench->findChild<QPushButton *>(QStringLiteral("provisionAttached"))->click();
    QVERIFY(bench->busy() > 0);
    boxes->boxes.clear();

    // Asked, then the window stays until the reader in hand is done.
    QVERIFY(!w.close());
    QCOMPARE(boxes->boxes.size(), 1);
    QCOMPARE(boxes->boxes.first().title, QStringLiteral("Quit"));
    QVERIFY(w.isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 10000);
    QCOMPARE(model->state().outputLength, 9);
    // Nothing connected again, no box left without a window behind it.
    QTest::qWait(50);
    QVERIFY(!w.link().isOpen());
    QCOMPARE(boxes->boxes.size(), 1);
    const QWidgetList windows = QApplication::topLevelWidgets();
    QVERIFY(std::none_of(windows.cbegin(), windows.cend(), [](const QWidget *x) { return x->isVisible(); }));
}

void BenchWindowTest::benchOpenedBeforeTheMonitorHearsReadersPluggedIn()
{
    const int plugged = addReader(false);
    MainWindow w;
    // As --provision does: the bench opens before the window's start-up
    // work, which sets up the window's monitor.
    ProvisionWindow *bench = w.openProvisionWindow(writeSettings(R"({"outputLength": 9})"));
    auto *events = new FakeDeviceEvents;
    w.watchDevices(std::unique_ptr<DeviceEventSource>(events));
    FakeHid::plugInReader(plugged);
    events->send(DeviceEvent::Action::Added, DeviceEvent::Kind::UsbReader, FakeHid::readerPath(plugged));
    QTRY_COMPARE_WITH_TIMEOUT(bench->countText(), QStringLiteral("1 confirmed, 0 already set, 0 failed"), 10000);
    QCOMPARE(m_models[0]->state().outputLength, 9);
    // Other settings: the reader right by the old ones is to be written again.
    QVERIFY(bench->useFile(writeSettings(R"({"outputLength": 7})")));
    QCOMPARE(bench->countText(), QStringLiteral("0 confirmed, 0 already set, 0 failed"));
    bench->provisionAttached();
    QTRY_COMPARE_WITH_TIMEOUT(m_models[0]->state().outputLength, 7, 10000);
}

void BenchWindowTest::aReaderPluggedAgainDuringItsAttemptIsTriedAfterIt()
{
    const int silent = addReader(true);
    const int again = addReader(false);
    MainWindow w;
    auto *events = new FakeDeviceEvents;
    w.watchDevices(std::unique_ptr<DeviceEventSource>(events));
    ProvisionWindow *bench = w.openProvisionWindow(writeSettings(R"({"outputLength": 9})"));
    auto *retry = bench->findChild<QPushButton *>(QStringLiteral("retryFailed"));
    FakeHid::setReaderSilent(silent, true);
    bench->provisionAttached();

    // Pulled out and plugged in again while its read waits for an answer.
    FakeHid::plugInReader(again);
    FakeHid::setReaderSilent(again, true);
    events->send(DeviceEvent::Action::Added, DeviceEvent::Kind::UsbReader, FakeHid::readerPath(again));
    QTRY_COMPARE(cell(*bench, 1, 3), QStringLiteral("in progress"));
    events->send(DeviceEvent::Action::Removed, DeviceEvent::Kind::OtherHid, FakeHid::readerPath(again));
    events->send(DeviceEvent::Action::Added, DeviceEvent::Kind::UsbReader, FakeHid::readerPath(again));
    QTRY_VERIFY(cell(*bench, 1, 4).startsWith(QLatin1String("Plugged in again")));
    // Its first request is lost before it may answer again.
    QTRY_VERIFY(!m_models[1]->framesReceived().isEmpty());
    FakeHid::setReaderSilent(again, false);

    // The silent one failed; the other, tried again, is right: one row each.
    QTRY_COMPARE_WITH_TIMEOUT(bench->countText(), QStringLiteral("1 confirmed, 0 already set, 1 failed"), 15000);
    QCOMPARE(bench->findChild<QTableWidget *>()->rowCount(), 2);
    QCOMPARE(m_models[1]->state().outputLength, 9);
    QVERIFY(retry->isEnabled());

    FakeHid::setReaderSilent(silent, false);
    retry->click();
    QTRY_COMPARE_WITH_TIMEOUT(bench->countText(), QStringLiteral("2 confirmed, 0 already set, 0 failed"), 10000);
    QCOMPARE(m_models[0]->state().outputLength, 9);
    QVERIFY(!retry->isEnabled());
    // Two failed attempts and two that worked, each in the history.
    QCOMPARE(History().read().entries.size(), 4);
}

void BenchWindowTest::theFormIsOfferedOnlyOnceChosenAndFit()
{
    FakeHid::attach(model.get());
    auto w = std::make_unique<MainWindow>();
    auto *fromForm = w->openProvisionWindow()->findChild<QRadioButton *>(QStringLiteral("fromForm"));
    QVERIFY(!fromForm->isEnabled());
    QVERIFY(fromForm->toolTip().contains(QLatin1String("neither read from a reader nor loaded from a file")));

    w = std::make_unique<MainWindow>();
    connectTo(*w, false);
    model->clearLog();
    widget<QLineEdit>(*w, "IBTOutStartEdit")->setText(QStringLiteral("abc"));
    ProvisionWindow *bench = w->openProvisionWindow();
    fromForm = bench->findChild<QRadioButton *>(QStringLiteral("fromForm"));
    auto *provision = bench->findChild<QPushButton *>(QStringLiteral("provisionAttached"));
    auto *list = bench->findChild<QListWidget *>(QStringLiteral("settingsList"));
    fromForm->click();
    QCOMPARE(list->item(0)->text(), QStringLiteral("The settings in the form are not used:"));
    QVERIFY(!provision->isEnabled());

    widget<QLineEdit>(*w, "IBTOutStartEdit")->setText(QStringLiteral("5"));
    fromForm->click();
    QVERIFY(!list->findItems(QStringLiteral("Output start: 5"), Qt::MatchExactly).isEmpty());
    QVERIFY(FaultCheck::nonReadFrames(model->framesReceived()).isEmpty());
    provision->click();
    QTRY_COMPARE_WITH_TIMEOUT(bench->countText(), QStringLiteral("1 confirmed, 0 already set, 0 failed"), 10000);
    QCOMPARE(model->state().outputStart, 5);
}

void BenchWindowTest::connectAsksWhichOfSeveralReaders()
{
    FakeHid::attach(model.get());
    const int second = addReader(true);
    MainWindow w;
    model->clearLog();
    std::shared_ptr<QStringList> listed = answerChooser(-1);
    QVERIFY(!connectOverUsb(w));
    QCOMPARE(listed->size(), 2);
    listed = answerChooser(1);
    QVERIFY(connectOverUsb(w));
    QCOMPARE(*listed, (QStringList{QStringLiteral("SIM0001 (/dev/hidraw-sim0)"),
                                   QStringLiteral("%1 (%2)").arg(FakeHid::readerSerialNumber(second),
                                                                 FakeHid::readerPath(second))}));
    QCOMPARE(w.link().location(), FakeHid::readerPath(second));
    QVERIFY(model->framesReceived().isEmpty());
}

void BenchWindowTest::setStatusKeepsWhatTheReaderHeldFirst_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<bool>("historyWritable");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    for (const bool serial : {false, true}) {
        const char *side = serial ? "serial" : "usb";
        QTest::addRow("%s", side) << serial << true << QMessageBox::Yes;
        QTest::addRow("%s, no history, No", side) << serial << false << QMessageBox::No;
        QTest::addRow("%s, no history, Yes", side) << serial << false << QMessageBox::Yes;
    }
}

void BenchWindowTest::setStatusKeepsWhatTheReaderHeldFirst()
{
    QFETCH(bool, serial);
    QFETCH(bool, historyWritable);
    QFETCH(QMessageBox::StandardButton, answer);
    if (!historyWritable) {
        // The history's folder is a file.
        const QString blocked = m_dir->filePath(QStringLiteral("blocked"));
        QFile file(blocked);
        QVERIFY(file.open(QIODevice::WriteOnly));
        qputenv("XDG_STATE_HOME", QFile::encodeName(blocked));
    }
    model->state().postAmble = "AB";
    MainWindow w;
    connectTo(w, serial);
    widget<QLineEdit>(w, "PostAmbleEdit")->setText(QStringLiteral("[CR]"));
    boxes->answer = answer;
    // What the history holds when the reader gets its first settings frame.
    QString pendingAtFirstFrame = QStringLiteral("no settings frame");
    model->setLogSink([&pendingAtFirstFrame](const QString &line) {
        if (line.startsWith(QLatin1String("rx 1B 42 02 01")) && pendingAtFirstFrame == QLatin1String("no settings frame")) {
            const History::Listing listing = History().read();
            pendingAtFirstFrame = listing.entries.isEmpty() ? QStringLiteral("nothing")
                                                            : resultText(listing.entries.last().result);
        }
    });
    click(w, "SetIBTStatusBut");
    model->setLogSink({});

    if (historyWritable) {
        QCOMPARE(pendingAtFirstFrame, QStringLiteral("pending"));
        QCOMPARE(boxes->texts(), QStringList{WriteOk});
        const QList<ProvisionRecord> entries = History().read().entries;
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries[0].result, ProvisionResult::Confirmed);
        QCOMPARE(entries[0].before->value(QStringLiteral("postamble")).toString(), QStringLiteral("AB"));
        return;
    }
    QCOMPARE(boxes->boxes.size(), answer == QMessageBox::Yes ? 2 : 1);
    const SeenBox question = boxes->boxes.first();
    QVERIFY2(question.text.startsWith(QLatin1String("The settings the reader holds now could not be saved (")),
             qPrintable(question.text));
    QVERIFY(question.text.endsWith(QLatin1String("). Write anyway?")));
    QCOMPARE(question.buttons, QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::No) {
        QCOMPARE(pendingAtFirstFrame, QStringLiteral("no settings frame"));
        QVERIFY(FaultCheck::nonReadFrames(model->framesReceived()).isEmpty());
        QCOMPARE(model->settingsDoneCount(), 0);
        QCOMPARE(model->state().postAmble, QByteArray("AB"));
    } else {
        QCOMPARE(boxes->boxes.last().text, WriteOk);
        QCOMPARE(model->state().postAmble, QByteArray("\r"));
    }
}

void BenchWindowTest::writeThenUndoLeavesTheReaderAsItWas_data()
{
    addTransportRows();
}

void BenchWindowTest::writeThenUndoLeavesTheReaderAsItWas()
{
    QFETCH(bool, serial);
    loadTypicalSettings(model->state());
    const ReaderState before = model->state();
    MainWindow w;
    connectTo(w, serial);

    trigger(w, "actionUndoLastWrite");
    QCOMPARE(boxes->boxes.size(), 1);
    QVERIFY2(boxes->boxes.value(0).text.startsWith(QLatin1String("The history holds no write to this reader")),
             qPrintable(boxes->boxes.value(0).text));
    QVERIFY(FaultCheck::nonReadFrames(model->framesReceived()).isEmpty());
    boxes->boxes.clear();

    widget<QLineEdit>(w, "IBTOutLengthEdit")->setText(QStringLiteral("9"));
    widget<QLineEdit>(w, "PostAmbleEdit")->setText(QStringLiteral("[CR]"));
    click(w, "SetIBTStatusBut");
    QCOMPARE(boxes->texts(), QStringList{WriteOk});
    QCOMPARE(model->state().outputLength, 9);
    boxes->boxes.clear();

    trigger(w, "actionUndoLastWrite");
    QCOMPARE(boxes->boxes.size(), 2);
    const QStringList lines = boxes->boxes.value(0).text.split(QLatin1Char('\n'));
    QCOMPARE(boxes->boxes.value(0).buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(lines.mid(1, 2), (QStringList{QStringLiteral("Output length: now 9, then 16"),
                                           QStringLiteral("PostAmble: now \"[CR]\" (0D), then \"AB\" (41 42)")}));
    // A serial port is a place, not a reader: the box says so.
    QCOMPARE(lines.last().contains(QLatin1String("known only by")), serial);
    QCOMPARE(boxes->boxes.value(1).text, WriteOk);
    QVERIFY2(describe(model->state()) == describe(before), qPrintable(describe(model->state())));
    QCOMPARE(model->settingsDoneCount(), 2);
    QCOMPARE(History().read().entries.size(), 2);

    // A second undo steps further back, past the write the first took back.
    boxes->boxes.clear();
    trigger(w, "actionUndoLastWrite");
    QVERIFY2(boxes->texts().value(0).startsWith(QLatin1String("The history holds no write to this reader")),
             qPrintable(boxes->texts().join('|')));
    QCOMPARE(model->settingsDoneCount(), 2);
}

void BenchWindowTest::historyLoadsAnEntryIntoTheFormWithoutWriting()
{
    model->state().postAmble = "AB";
    MainWindow w;
    connectTo(w, false);
    widget<QLineEdit>(w, "PostAmbleEdit")->setText(QStringLiteral("[CR]"));
    click(w, "SetIBTStatusBut");
    QCOMPARE(boxes->texts(), QStringList{WriteOk});
    // A write killed halfway leaves a torn line behind.
    QFile file(History().path());
    QVERIFY(file.open(QIODevice::Append));
    file.write(R"({"id": "torn", "time)");
    file.close();
    const int framesBefore = int(model->framesReceived().size());

    QStringList shown;
    QTimer::singleShot(100, [&shown] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        const auto *table = dialog->findChild<QTableWidget *>(QStringLiteral("historyTable"));
        for (int column = 1; column < table->columnCount(); ++column)
            shown << table->item(0, column)->text();
        dialog->findChild<QRadioButton *>(QStringLiteral("loadBefore"))->setChecked(true);
        // Enter presses Load into Form.
        QTest::keyClick(dialog, Qt::Key_Return);
    });
    trigger(w, "actionHistory");
    QCOMPARE(shown, (QStringList{QStringLiteral("SIM0001"), QStringLiteral("confirmed"), QStringLiteral("Postamble")}));
    QCOMPARE(widget<QLineEdit>(w, "PostAmbleEdit")->text(), QStringLiteral("AB"));
    QVERIFY2(w.statusText().contains(QLatin1String("1 damaged line")), qPrintable(w.statusText()));
    QVERIFY(FaultCheck::nonReadFrames(model->framesReceived().mid(framesBefore)).isEmpty());
    QCOMPARE(model->state().postAmble, QByteArray("\r"));
}

void BenchWindowTest::unwrittenEditsAreReplacedOnlyWhenTheUserSaysSo_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    for (const char *action : {"connect", "Get Status", "the bench closes", "Load Settings", "Load into Form"}) {
        QTest::addRow("%s, No", action) << QString::fromLatin1(action) << QMessageBox::No;
        QTest::addRow("%s, Yes", action) << QString::fromLatin1(action) << QMessageBox::Yes;
    }
}

void BenchWindowTest::unwrittenEditsAreReplacedOnlyWhenTheUserSaysSo()
{
    QFETCH(QString, action);
    QFETCH(QMessageBox::StandardButton, answer);
    model->state().preAmble = "AB";
    FakeHid::attach(model.get());
    MainWindow w;
    if (action != QLatin1String("connect"))
        QVERIFY(connectOverUsb(w));
    auto *preamble = widget<QLineEdit>(w, "PreAmbleEdit");
    preamble->setText(QStringLiteral("typed"));
    boxes->boxes.clear();
    boxes->answer = answer;

    if (action == QLatin1String("connect"))
        QVERIFY(connectOverUsb(w));
    else if (action == QLatin1String("Get Status"))
        click(w, "GetIBTStatusBut");
    else if (action == QLatin1String("the bench closes"))
        w.openProvisionWindow()->close();
    else if (action == QLatin1String("Load Settings"))
        w.loadSettingsFrom(writeSettings(R"({"preamble": "AB"})"));
    else
        w.loadIntoForm(QJsonObject{{"preamble", "AB"}}, QStringLiteral("from the test"));
    QTRY_VERIFY(!boxes->boxes.isEmpty() && w.link().isOpen()); // a connect told No connects all the same
    const SeenBox question = boxes->boxes.first();
    QVERIFY2(question.text.startsWith(QStringLiteral("The settings in the form were not written to the reader. "
                                                     "Replace them with the settings ")),
             qPrintable(question.text));
    QCOMPARE(question.icon, QMessageBox::Question);
    QCOMPARE(question.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(preamble->text(), answer == QMessageBox::Yes ? QStringLiteral("AB") : QStringLiteral("typed"));
    QCOMPARE(w.isWindowModified(), answer == QMessageBox::No);
}

void BenchWindowTest::ownBoxesAndTheStatusBarSayWhatTheyMean()
{
    MainWindow w;
    w.openProvisionWindow()->close();
    QTRY_VERIFY(!w.provisionWindow());
    QCOMPARE(w.statusText(), QStringLiteral("Not connected"));
    QVERIFY(w.statusBar()->currentMessage().isEmpty()); // not a second time beside the state
    w.undoLastWrite(); // nothing connected: a failure, told as one
    QCOMPARE(boxes->boxes.size(), 1);
    QCOMPARE(boxes->boxes.first().icon, QMessageBox::Warning);
    QCOMPARE(boxes->boxes.first().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

QTEST_MAIN(BenchWindowTest)
#include "tst_benchwindow.moc"

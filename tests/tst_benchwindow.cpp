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

} // namespace

class BenchWindowTest : public ReaderTestCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void benchTakesPluggedReadersAndWaitsWithAttachedOnes();
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
    QVERIFY(!cell(*bench, 2, 4).isEmpty());
    QVERIFY(!bench->findChild<QTableWidget *>()->item(2, 3)->icon().isNull());
    QCOMPARE(cell(*bench, 3, 3), QStringLiteral("confirmed"));
    QCOMPARE(m_models[size_t(plugged) - 1]->state().outputLength, 9);
    QCOMPARE(bench->countText(), QStringLiteral("1 confirmed, 1 failed, 0 already set"));
    // The README's picture of a bench run.
    if (const QString shot = qEnvironmentVariable("TAVRIN_BENCH_SCREENSHOT"); !shot.isEmpty())
        QVERIFY(bench->grab().save(shot));
    QAccessibleInterface *count = QAccessible::queryAccessibleInterface(bench->findChild<QLabel *>("countLabel"));
    QCOMPARE(count->role(), QAccessible::StatusBar);
    QCOMPARE(count->text(QAccessible::Name), bench->countText());
    // The attached readers were left alone.
    QCOMPARE(model->framesReceived().size(), framesBefore);
    QVERIFY(m_models[size_t(attached) - 1]->framesReceived().isEmpty());

    bench->findChild<QPushButton *>(QStringLiteral("provisionAttached"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(bench->records().size(), 4, 10000);
    QCOMPARE(bench->countText(), QStringLiteral("3 confirmed, 1 failed, 0 already set"));
    QCOMPARE(model->state().outputLength, 9);
    QCOMPARE(m_models[size_t(attached) - 1]->state().outputLength, 9);

    const QString report = m_dir->filePath(QStringLiteral("report.jsonl"));
    QVERIFY(bench->saveReportTo(report, nullptr));
    QFile saved(report);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = saved.readAll().split('\n');
    QCOMPARE(lines.size(), 5); // four records and the end of the last line
    // In the rows' order: the two attached ones, the pulled one, the last.
    QVERIFY(lines[2].contains(R"("result":"failed")"));
    QVERIFY(lines[3].contains(R"("result":"confirmed")"));
    // Every write went to the history too: a pending line and its outcome.
    QCOMPARE(History().read().entries.size(), 4);

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

// Reading the settings into the form over both transports, against the
// simulated reader.
#include "app/mainwindow.h"
#include "link/commandframe.h"
#include "link/readerlink.h"

#include "support/fakehid.h"
#include "support/readertestcase.h"
#include "support/tracecapture.h"
#include "support/windowdriver.h"

#include "ptyreader.h"
#include "readermodel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <functional>

namespace {

QString text(const MainWindow &w, const char *name)
{
    if (auto *label = w.findChild<QLabel *>(QString::fromLatin1(name)))
        return label->text();
    return widget<QLineEdit>(w, name)->text();
}

bool checked(const MainWindow &w, const char *name)
{
    return widget<QCheckBox>(w, name)->isChecked();
}

bool enabled(const MainWindow &w, const char *name)
{
    return widget(w, name)->isEnabled();
}

// The five boxes and the three edits they govern, named, in one line.
QString flagWidgets(const MainWindow &w)
{
    QStringList out;
    for (const char *box : {"RemoveDataChk", "PostAmbleChk", "PreAmbleChk", "AutoReportChk", "BuzzerEnableChk"})
        out << QString::fromLatin1(box) + (checked(w, box) ? "=1" : "=0");
    for (const char *edit : {"RemoveDataEdit", "PostAmbleEdit", "PreAmbleEdit"})
        out << QString::fromLatin1(edit) + (enabled(w, edit) ? "=on" : "=off");
    return out.join(' ');
}

QByteArray readRequest(quint8 code, quint8 seq)
{
    QByteArray r(65, '\0');
    r[1] = 0x1B;
    r[2] = 0x42;
    r[3] = char(code);
    r[8] = 0x0D;
    r[49] = char(seq);
    return r;
}

QByteArray frame(quint8 code)
{
    return QByteArray::fromHex("1B4200000000000D").replace(2, 1, QByteArray(1, char(code)));
}

QByteArray sixFrames()
{
    QByteArray all;
    for (const quint8 code : {0x00, 0x02, 0x10, 0x20, 0x24, 0x28})
        all += frame(code);
    return all;
}

// A HID link as a connect leaves it, without the connect's own read.
void openUsbWithoutRead(MainWindow &w)
{
    QVERIFY(w.link().open(ReaderLink::Transport::Hid));
    widget<QPushButton>(w, "ConnectBut")->setText(QStringLiteral("Disconnect"));
    w.SetIButtonControlsEnabled(true);
}

// Values no read would produce, to see which ones a read replaced.
void fillSentinels(MainWindow &w)
{
    for (const char *edit : {"IBTOutStartEdit", "IBTOutLengthEdit", "PreAmbleEdit", "PostAmbleEdit", "RemoveDataEdit"})
        widget<QLineEdit>(w, edit)->setText(QStringLiteral("old"));
    for (const char *box : {"RemoveDataChk", "PostAmbleChk", "PreAmbleChk", "AutoReportChk", "BuzzerEnableChk"})
        widget<QCheckBox>(w, box)->setChecked(false);
    widget<QComboBox>(w, "KB_cmb")->setCurrentIndex(1);
    widget<QComboBox>(w, "KB_cmb")->setEnabled(false);
}

class EnabledWatch : public QObject
{
public:
    std::function<void()> onDisabled;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::EnabledChange && !static_cast<QWidget *>(watched)->isEnabled()
            && onDisabled)
            onDisabled();
        return false;
    }
};

} // namespace

class SettingsReadTest : public ReaderTestCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void connectReadsEverythingOverHid();
    void failedExchangeEndsTheRead_data();
    void failedExchangeEndsTheRead();
    void damagedBlockKeepsItsEdit_data();
    void damagedBlockKeepsItsEdit();
    void serialReadEndsWhenTheReplyIsShown();
    void serialReadSwitchesKbCountryOffAfterThreeFrames();
    void serialWriteToAGonePortIsNotSuccess();
    void serialReplyFillsTheForm_data();
    void serialReplyFillsTheForm();
    void readStatusUsesItsOwnLayout();
};

void SettingsReadTest::init()
{
    startCase();
}

void SettingsReadTest::cleanup()
{
    endCase();
}

void SettingsReadTest::connectReadsEverythingOverHid()
{
    loadTypicalSettings(model->state());
    FakeHid::attach(model.get());
    MainWindow w;
    TraceCapture traces;
    click(w, "ConnectBut");

    QCOMPARE(FakeHid::writtenReports(),
             (QList<QByteArray>{readRequest(0x00, 2), readRequest(0x20, 3), readRequest(0x24, 4),
                                readRequest(0x28, 5)}));
    QCOMPARE(boxes->boxes.size(), 1);
    const SeenBox box = boxes->boxes.first();
    QCOMPARE(box.text, ReadOk);
    QCOMPARE(box.title, QStringLiteral("Read Status"));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Yes));
    QCOMPARE(box.icon, QMessageBox::Information);
    QVERIFY(!box.hasParent);

    QCOMPARE(text(w, "FWLbl"), QStringLiteral("F/W Version: 1BT V2.5"));
    QCOMPARE(text(w, "IBTOutStartEdit"), QStringLiteral("-56"));
    QCOMPARE(text(w, "IBTOutLengthEdit"), QStringLiteral("16"));
    QCOMPARE(widget<QComboBox>(w, "KB_cmb")->currentText(), QStringLiteral("German"));
    QVERIFY(enabled(w, "KB_cmb"));
    QCOMPARE(text(w, "PreAmbleEdit"), QStringLiteral("[CR][LF]"));
    QCOMPARE(text(w, "PostAmbleEdit"), QStringLiteral("AB"));
    QCOMPARE(text(w, "RemoveDataEdit"), QStringLiteral("\u20AC"));
    // The connect enables the three edits after the read, whatever the flags.
    QCOMPARE(flagWidgets(w), QStringLiteral("RemoveDataChk=1 PostAmbleChk=1 PreAmbleChk=0 AutoReportChk=1 "
                                            "BuzzerEnableChk=1 RemoveDataEdit=on PostAmbleEdit=on PreAmbleEdit=on"));
    const QStringList blockTraces = traces.startingWith(QStringLiteral("PreAmble Len="))
        + traces.startingWith(QStringLiteral("PostAmble Len="))
        + traces.startingWith(QStringLiteral("Revome data Len="));
    QCOMPARE(blockTraces, (QStringList{"PreAmble Len=2 d a 19 0", "PostAmble Len=2 41 42 85 0",
                                       "Revome data Len=1 b0 b1 0 0"}));

    // A later read: the edits follow the flags, KB_cmb is switched on again.
    widget<QComboBox>(w, "KB_cmb")->setEnabled(false);
    model->state().flags = 0x04;
    model->state().kbCountry = 0;
    click(w, "GetIBTStatusBut");
    QCOMPARE(FakeHid::writtenReports().size(), 8);
    QCOMPARE(FakeHid::writtenReports().at(4), readRequest(0x00, 6));
    QCOMPARE(FakeHid::writtenReports().at(7), readRequest(0x28, 9));
    QCOMPARE(flagWidgets(w), QStringLiteral("RemoveDataChk=0 PostAmbleChk=0 PreAmbleChk=1 AutoReportChk=0 "
                                            "BuzzerEnableChk=0 RemoveDataEdit=off PostAmbleEdit=off PreAmbleEdit=on"));
    QCOMPARE(widget<QComboBox>(w, "KB_cmb")->currentText(), QStringLiteral("USA"));
    QVERIFY(enabled(w, "KB_cmb"));
    QCOMPARE(boxes->texts(), (QStringList{ReadOk, ReadOk}));
}

void SettingsReadTest::failedExchangeEndsTheRead_data()
{
    QTest::addColumn<int>("answered");
    QTest::addColumn<QString>("box");

    QTest::newRow("status") << 0 << StatusFail;
    QTest::newRow("preamble") << 1 << PreAmbleFail;
    QTest::newRow("postamble") << 2 << PostAmbleFail;
    QTest::newRow("remove data") << 3 << RemoveDataFail;
}

void SettingsReadTest::failedExchangeEndsTheRead()
{
    QFETCH(int, answered);
    QFETCH(QString, box);

    loadTypicalSettings(model->state());
    FakeHid::attach(model.get());
    MainWindow w;
    openUsbWithoutRead(w);
    fillSentinels(w);

    // Once the reader has answered that many requests, the cable takes no
    // more writes: the next exchange fails at once.
    int replies = 0;
    model->setLogSink([&](const QString &line) {
        if (line.startsWith(QLatin1String("tx ")) && ++replies == answered)
            FakeHid::refuseAllWrites(true);
    });
    if (answered == 0)
        FakeHid::refuseAllWrites(true);

    click(w, "GetIBTStatusBut");
    model->setLogSink({});

    QCOMPARE(boxes->texts(), (QStringList{ReplaceWithRead, box}));
    const quint8 codes[] = {0x00, 0x20, 0x24, 0x28};
    QCOMPARE(FakeHid::writtenReports().size(), answered);
    const QList<QByteArray> attempts = FakeHid::attemptedWrites();
    QCOMPARE(attempts.size(), answered + 3);
    QCOMPARE(attempts.last(), readRequest(codes[answered], quint8(2 + answered)));

    const bool statusShown = answered >= 1;
    QCOMPARE(text(w, "FWLbl"), statusShown ? QStringLiteral("F/W Version: 1BT V2.5") : NotRead);
    QCOMPARE(text(w, "IBTOutStartEdit"), statusShown ? QStringLiteral("-56") : QStringLiteral("old"));
    QCOMPARE(text(w, "IBTOutLengthEdit"), statusShown ? QStringLiteral("16") : QStringLiteral("old"));
    QCOMPARE(checked(w, "BuzzerEnableChk"), statusShown);
    QCOMPARE(enabled(w, "PreAmbleEdit"), !statusShown); // flags 0x1B disable it
    QCOMPARE(widget<QComboBox>(w, "KB_cmb")->currentIndex(), statusShown ? 3 : 1);
    QCOMPARE(enabled(w, "KB_cmb"), statusShown);
    QCOMPARE(text(w, "PreAmbleEdit"), answered >= 2 ? QStringLiteral("[CR][LF]") : QStringLiteral("old"));
    QCOMPARE(text(w, "PostAmbleEdit"), answered >= 3 ? QStringLiteral("AB") : QStringLiteral("old"));
    QCOMPARE(text(w, "RemoveDataEdit"), QStringLiteral("old"));
}

void SettingsReadTest::damagedBlockKeepsItsEdit_data()
{
    QTest::addColumn<bool>("badChecksum");
    QTest::addColumn<QByteArray>("preAmble");
    QTest::addColumn<QStringList>("edits"); // pre, post, remove
    QTest::addColumn<QString>("box");

    // A block the form could not show is a failed read, named by its step.
    QTest::newRow("every checksum off") << true << QByteArray("xy") << QStringList{"old", "old", "old"} << PreAmbleFail;
    QTest::newRow("preamble of 32 codes")
        << false << QByteArray(32, 'x') << QStringList{"old", "AB", "\u20AC"} << PreAmbleFail;
    QTest::newRow("preamble of 31 codes")
        << false << QByteArray(31, 'x') << QStringList{QString(31, 'x'), "AB", "\u20AC"} << ReadOk;
}

void SettingsReadTest::damagedBlockKeepsItsEdit()
{
    QFETCH(bool, badChecksum);
    QFETCH(QByteArray, preAmble);
    QFETCH(QStringList, edits);
    QFETCH(QString, box);

    loadTypicalSettings(model->state());
    model->state().preAmble = preAmble;
    model->faults().badChecksum = badChecksum;
    FakeHid::attach(model.get());
    MainWindow w;
    openUsbWithoutRead(w);
    fillSentinels(w);
    click(w, "GetIBTStatusBut");

    QCOMPARE(FakeHid::writtenReports().size(), 4);
    QCOMPARE(boxes->texts(), (QStringList{ReplaceWithRead, box}));
    QCOMPARE(text(w, "FWLbl"), QStringLiteral("F/W Version: 1BT V2.5"));
    QCOMPARE((QStringList{text(w, "PreAmbleEdit"), text(w, "PostAmbleEdit"), text(w, "RemoveDataEdit")}),
             edits);
}

void SettingsReadTest::serialReadEndsWhenTheReplyIsShown()
{
    loadTypicalSettings(model->state());
    model->state().flags = 0x05;
    openPty();
    MainWindow w;
    selectSerialPort(w, pty->portName());
    widget<QComboBox>(w, "KB_cmb")->setCurrentIndex(4);

    QString labelDuringBox;
    boxes->onBox = [&](const SeenBox &) { labelDuringBox = text(w, "FWLbl"); };
    TraceCapture traces;
    click(w, "ConnectBut");
    QVERIFY(connectedOverSerial(w));
    QCOMPARE(boxes->texts(), (QStringList{ReplaceWithRead, ReadOk}));
    // The box tells of a read that is in the form already.
    QCOMPARE(labelDuringBox, QStringLiteral("F/W Version: 1BT V2.5"));
    QCOMPARE(text(w, "FWLbl"), QStringLiteral("F/W Version: 1BT V2.5"));
    QCOMPARE(pty->received(), sixFrames());
    QCOMPARE(traces.count(QStringLiteral("ver: \"1BT V2.5\"")), 1);
    QCOMPARE(text(w, "IBTOutStartEdit"), QStringLiteral("-56"));
    QCOMPARE(text(w, "IBTOutLengthEdit"), QStringLiteral("16"));
    QCOMPARE(text(w, "PreAmbleEdit"), QStringLiteral("[CR][LF]"));
    QCOMPARE(text(w, "PostAmbleEdit"), QStringLiteral("AB"));
    QCOMPARE(text(w, "RemoveDataEdit"), QStringLiteral("\u00B0")); // not the euro sign
    // As over USB, the connect's group enabling comes after the read.
    QCOMPARE(flagWidgets(w), QStringLiteral("RemoveDataChk=1 PostAmbleChk=0 PreAmbleChk=1 AutoReportChk=0 "
                                            "BuzzerEnableChk=0 RemoveDataEdit=on PostAmbleEdit=on PreAmbleEdit=on"));
    QVERIFY(!enabled(w, "KB_cmb"));
    QCOMPARE(widget<QComboBox>(w, "KB_cmb")->currentIndex(), 4);
    QVERIFY(FakeHid::writtenReports().isEmpty());
}

void SettingsReadTest::serialReadSwitchesKbCountryOffAfterThreeFrames()
{
    openPty(Answers::Never);
    MainWindow w;
    connectOverSerial(w, *pty);
    QVERIFY(w.link().isOpen());
    QTRY_COMPARE(pty->received(), sixFrames());
    pty->clearRecords();
    boxes->boxes.clear();

    auto *kb = widget<QComboBox>(w, "KB_cmb");
    kb->setEnabled(true);
    QByteArray writtenWhenDisabled;
    int disables = 0;
    EnabledWatch watch;
    watch.onDisabled = [&] {
        ++disables;
        // Let the pseudo-terminal take in what the window has written so far.
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 150)
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
        writtenWhenDisabled = pty->received();
    };
    kb->installEventFilter(&watch);

    click(w, "GetIBTStatusBut");
    kb->removeEventFilter(&watch);

    QCOMPARE(disables, 1);
    QCOMPARE(writtenWhenDisabled, sixFrames().left(24));
    // Nobody answered.
    QCOMPARE(boxes->texts(), QStringList{StatusFail});
    QTRY_COMPARE(pty->received(), sixFrames());
    QVERIFY(!kb->isEnabled());
}

void SettingsReadTest::serialWriteToAGonePortIsNotSuccess()
{
    openPty();
    MainWindow w;
    connectOverSerial(w, *pty);
    QVERIFY(w.link().isOpen());
    QTRY_COMPARE(text(w, "FWLbl"), QStringLiteral("F/W Version: 1BT V2.0"));
    boxes->boxes.clear();

    TraceCapture traces;
    pty->closeMaster();
    click(w, "GetIBTStatusBut");
    QCOMPARE(boxes->texts(), QStringList{StatusFail});
    QCOMPARE(boxes->boxes.first().title, QStringLiteral("Read Status"));
    QCOMPARE(boxes->boxes.first().buttons, QMessageBox::StandardButtons(QMessageBox::Yes));
    QCOMPARE(traces.startingWith(QStringLiteral("Unable to write settings request")).size(), 1);
    QTRY_VERIFY(shownDisconnected(w));
}

void SettingsReadTest::serialReplyFillsTheForm_data()
{
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<QStringList>("shown"); // label, start, length, pre, post, remove
    QTest::addColumn<QString>("flags");
    QTest::addColumn<QString>("trace");

    const QByteArray head = QByteArray("1BT V2.0") + QByteArray::fromHex("1B420200051F000D 1B421000FF10000D");
    const QByteArray blocks = QByteArray::fromHex("1B4220020D0A0D 1B4224024142 0D 1B422801B00D");
    const QString flags05 = QStringLiteral("RemoveDataChk=1 PostAmbleChk=0 PreAmbleChk=1 AutoReportChk=0 "
                                           "BuzzerEnableChk=0 RemoveDataEdit=on PostAmbleEdit=off PreAmbleEdit=on");
    const QString untouched = QStringLiteral("RemoveDataChk=0 PostAmbleChk=0 PreAmbleChk=0 AutoReportChk=0 "
                                             "BuzzerEnableChk=0 RemoveDataEdit=on PostAmbleEdit=on PreAmbleEdit=on");
    const QStringList old{NotRead, "old", "old", "old", "old", "old"};

    QTest::newRow("whole reply")
        << head + blocks << QStringList{"F/W Version: 1BT V2.0", "-1", "16", "[CR][LF]", "AB", "\u00B0"}
        << flags05 << "ver: \"1BT V2.0\"";
    QTest::newRow("zero in the version")
        << QByteArray("1BT V\0" "2.", 8) + head.mid(8) + blocks
        << QStringList{"F/W Version: 1BT V", "-1", "16", "[CR][LF]", "AB", "\u00B0"} << flags05
        << "ver: \"1BT V\\x00\"\"2.\"";
    QTest::newRow("remove data cut short")
        << head + blocks.chopped(2) + "\r"
        << QStringList{"F/W Version: 1BT V2.0", "-1", "16", "[CR][LF]", "AB", "old"} << flags05
        << "ver: \"1BT V2.0\"";
    QTest::newRow("does not end with CR") << head + blocks + "x" << old << untouched << "";
    QTest::newRow("does not begin with 1BT") << "2" + head.mid(1) + blocks << old << untouched << "";
    QTest::newRow("1BT CR") << QByteArray("1BT\r") << old << untouched << "";
}

void SettingsReadTest::serialReplyFillsTheForm()
{
    QFETCH(QByteArray, chunk);
    QFETCH(QStringList, shown);
    QFETCH(QString, flags);
    QFETCH(QString, trace);

    MainWindow w;
    w.SetIButtonControlsEnabled(true);
    fillSentinels(w);
    TraceCapture traces;
    w.ParseSerialReply(chunk);

    QCOMPARE((QStringList{text(w, "FWLbl"), text(w, "IBTOutStartEdit"), text(w, "IBTOutLengthEdit"),
                          text(w, "PreAmbleEdit"), text(w, "PostAmbleEdit"), text(w, "RemoveDataEdit")}),
             shown);
    QCOMPARE(flagWidgets(w), flags);
    QCOMPARE(traces.lines(), trace.isEmpty() ? QStringList() : QStringList{trace});
    QCOMPARE(widget<QComboBox>(w, "KB_cmb")->currentIndex(), 1);
    QVERIFY(!enabled(w, "KB_cmb"));
    QVERIFY(boxes->boxes.isEmpty());
}

void SettingsReadTest::readStatusUsesItsOwnLayout()
{
    FakeHid::attach(model.get());
    MainWindow w;
    w.ReadStatus(); // nothing open: nothing sent
    QVERIFY(FakeHid::attemptedWrites().isEmpty());

    openUsbWithoutRead(w);
    FakeHid::refuseAllWrites(true);
    w.ReadStatus();

    // Tab 0: a status poll, then the four reads; seq as P1, offset 49 zero.
    const quint8 codes[] = {0x00, 0x00, 0x20, 0x24, 0x28};
    QList<QByteArray> expected;
    for (int i = 0; i < 5; ++i) {
        QByteArray request = readRequest(codes[i], 0);
        request[4] = char(2 + i);
        expected << request << request << request;
    }
    QCOMPARE(FakeHid::attemptedWrites(), expected);
    QCOMPARE(text(w, "FWLbl"), NotRead); // no reply, nothing decoded
    QVERIFY(boxes->boxes.isEmpty());

    // Not loaded yet, so a later call reads again; on another tab without
    // the status poll.
    w.tabChange(1);
    w.ReadStatus();
    const QList<QByteArray> again = FakeHid::attemptedWrites().mid(15);
    QCOMPARE(again.size(), 12);
    QCOMPARE(again.first().at(3), char(0x00));
    QCOMPARE(again.first().at(4), char(7));
    QCOMPARE(again.last().at(3), char(0x28));
}

QTEST_MAIN(SettingsReadTest)
#include "tst_settingsread.moc"

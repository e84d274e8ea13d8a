// "Set Status" against the simulated reader, over both transports.
#include "app/mainwindow.h"
#include "link/readerlink.h"
#include "support/hex.h"

#include "support/fakehid.h"
#include "support/readertestcase.h"
#include "support/tracecapture.h"
#include "support/windowdriver.h"

#include "ptyreader.h"
#include "readermodel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QAbstractItemView>
#include <QAction>
#include <QFile>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

const char *const checkBoxes[] = {"RemoveDataChk", "PostAmbleChk", "PreAmbleChk", "AutoReportChk",
                                  "BuzzerEnableChk"};

QByteArray report(const char *spaced)
{
    QByteArray bytes = QByteArray(1, '\0') + hex(spaced);
    bytes.resize(65, '\0');
    return bytes;
}

struct Form
{
    QStringList checked;
    QString start;
    QString length;
    int kbCountry = 0;
    QString preAmble;
    QString postAmble;
    QString removeData;
};

void fill(const MainWindow &w, const Form &form)
{
    for (const char *name : checkBoxes)
        widget<QCheckBox>(w, name)->setChecked(form.checked.contains(QLatin1String(name)));
    widget<QLineEdit>(w, "IBTOutStartEdit")->setText(form.start);
    widget<QLineEdit>(w, "IBTOutLengthEdit")->setText(form.length);
    widget<QComboBox>(w, "KB_cmb")->setCurrentIndex(form.kbCountry);
    widget<QLineEdit>(w, "PreAmbleEdit")->setText(form.preAmble);
    widget<QLineEdit>(w, "PostAmbleEdit")->setText(form.postAmble);
    widget<QLineEdit>(w, "RemoveDataEdit")->setText(form.removeData);
}

// What the read before a write sends: four USB requests, six serial frames.
constexpr int UsbRead = 4;
constexpr int SerialRead = 6 * 8;

QStringList withoutReadTraces(QStringList lines)
{
    lines.removeIf([](const QString &line) {
        return line.startsWith(QLatin1String("PreAmble Len=")) || line.startsWith(QLatin1String("PostAmble Len="))
            || line.startsWith(QLatin1String("Revome data Len=")) || line.startsWith(QLatin1String("Read = "));
    });
    return lines;
}

QStringList stateLines(const ReaderState &s)
{
    return {QString::number(s.flags, 16), QString::number(s.outputStart),
            QString::number(s.outputLength), QString::number(s.kbCountry),
            QString::fromLatin1(s.preAmble.toHex(' ')), QString::fromLatin1(s.postAmble.toHex(' ')),
            QString::fromLatin1(s.removeData.toHex(' '))};
}

} // namespace

class WriteSettingsTest : public ReaderTestCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void sendsTheFormInOrder_data();
    void sendsTheFormInOrder();
    void formValuesReachTheReader_data();
    void formValuesReachTheReader();
    void hidFailureStopsAtTheFailedFrame_data();
    void hidFailureStopsAtTheFailedFrame();
    void refusedFormSendsNothing_data();
    void refusedFormSendsNothing();
    void writtenTextReadsBackAsShown_data();
    void writtenTextReadsBackAsShown();
    void formNotReadFromThisReaderAsks_data();
    void formNotReadFromThisReaderAsks();
    void loadSettingsOnlyWhileConnected_data();
    void loadSettingsOnlyWhileConnected();
    void serialWriteFailureIsReported();
    void readThenWriteHandsEverySettingBack_data();
    void readThenWriteHandsEverySettingBack();

private:
    // A window connected to the model over the chosen transport, with the
    // read of the connection settled.
    std::unique_ptr<MainWindow> connectedWindow(bool serial);
    void connectWithFailedRead(bool serial);
    // USB reports that reached the reader after the first before of them.
    QList<QByteArray> reportsSince(int before) const;
    void clickSet() { click(*window, "SetIBTStatusBut"); }

    std::unique_ptr<MainWindow> window;
};

void WriteSettingsTest::init()
{
    startCase();
}

void WriteSettingsTest::cleanup()
{
    window.reset();
    endCase();
}

std::unique_ptr<MainWindow> WriteSettingsTest::connectedWindow(bool serial)
{
    if (serial) {
        pty = std::make_unique<PtyReader>(model.get());
        if (!pty->isOpen())
            qFatal("no pty: %s", qPrintable(pty->errorString()));
    } else {
        FakeHid::attach(model.get());
    }
    auto w = std::make_unique<MainWindow>();
    if (serial) {
        connectOverSerial(*w, *pty);
        // Let the read's answer arrive and be shown before the form is set.
        QTest::qWait(400);
        pty->clearRecords();
    } else {
        connectOverUsb(*w);
    }
    boxes->boxes.clear();
    return w;
}

QList<QByteArray> WriteSettingsTest::reportsSince(int before) const
{
    return FakeHid::writtenReports().mid(before);
}

void WriteSettingsTest::sendsTheFormInOrder_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<QStringList>("traces");
    QTest::addColumn<int>("kbCountry");

    QTest::newRow("usb") << false
                         << QList<QByteArray>{report("1B 42 02 01 18 00 00 0D"),
                                              report("1B 42 10 01 03 0A 00 0D"),
                                              report("1B 42 03 01 02 00 00 0D"),
                                              report("1B 42 21 02 58 0D"),
                                              report("1B 42 25 00"),
                                              report("1B 42 29 03 41 09 42"),
                                              report("1B 42 80 55 AA 55 AA 0D")}
                         << QStringList{"t1num: 3", "t2num: 10", "PreVal=58"} << 2;
    QTest::newRow("serial") << true
                            << QList<QByteArray>{hex("1B 42 02 01 18 00 00 0D"),
                                                 hex("1B 42 10 01 03 0A 00 0D"),
                                                 hex("1B 42 21 02 58 0D 00 00 00"),
                                                 hex("1B 42 25 00"),
                                                 hex("1B 42 29 03 41 09 42 00 00 00"),
                                                 hex("1B 42 80 55 AA 55 AA 0D")}
                            << QStringList{"t1num: 3", "t2num: 10", "serial_buf: 3 a", "PreVal=58"}
                            << 0;
}

void WriteSettingsTest::sendsTheFormInOrder()
{
    QFETCH(bool, serial);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(QStringList, traces);
    QFETCH(int, kbCountry);

    window = connectedWindow(serial);
    // The preamble's box is clear and its edit disabled: its text still goes.
    fill(*window, {{"AutoReportChk", "BuzzerEnableChk"}, "3", "10", 2, "X[CR]", "", "A[HT]B"});
    widget(*window, "PreAmbleEdit")->setEnabled(false);
    const int before = int(FakeHid::writtenReports().size());

    TraceCapture captured;
    clickSet();
    // The read of what the reader holds, the write, then the read that
    // checks it.
    if (serial) {
        QCOMPARE(pty->received().mid(SerialRead, frames.join().size()), frames.join());
        QCOMPARE(pty->received().size(), SerialRead + frames.join().size() + SerialRead);
        QCOMPARE(FakeHid::writtenReports().size(), before);
    } else {
        QCOMPARE(reportsSince(before).mid(UsbRead, frames.size()), frames);
        QCOMPARE(reportsSince(before).size(), UsbRead + frames.size() + UsbRead);
    }
    QCOMPARE(withoutReadTraces(captured.lines()).mid(0, traces.size()), traces);

    QCOMPARE(boxes->boxes.size(), 1);
    const SeenBox box = boxes->boxes.first();
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.title, QStringLiteral("Setting iButton"));
    QCOMPARE(box.text, WriteOk);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Yes));
    QVERIFY(!box.hasParent);

    const ReaderState &state = model->state();
    QCOMPARE(state.flags, quint8(0x18));
    QCOMPARE(state.outputStart, quint8(3));
    QCOMPARE(state.outputLength, quint8(10));
    QCOMPARE(int(state.kbCountry), kbCountry);
    QCOMPARE(state.preAmble, hex("58 0D"));
    QCOMPARE(state.postAmble, QByteArray());
    QCOMPARE(state.removeData, hex("41 09 42"));
    QCOMPARE(model->settingsDoneCount(), 1);
    // The write changes nothing in the form.
    QCOMPARE(widget<QLineEdit>(*window, "PreAmbleEdit")->text(), QStringLiteral("X[CR]"));
    QVERIFY(!widget<QCheckBox>(*window, "PreAmbleChk")->isChecked());
}

void WriteSettingsTest::formValuesReachTheReader_data()
{
    QTest::addColumn<QStringList>("checked");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("length");
    QTest::addColumn<int>("flags");
    QTest::addColumn<int>("startByte");
    QTest::addColumn<int>("lengthByte");

    QTest::newRow("no box") << QStringList{} << "0" << "-128" << 0x00 << 0x00 << 0x80;
    QTest::newRow("every box") << QStringList{"RemoveDataChk", "PostAmbleChk", "PreAmbleChk",
                                              "AutoReportChk", "BuzzerEnableChk"}
                               << "255" << "200" << 0x1F << 0xFF << 200;
    QTest::newRow("preamble only") << QStringList{"PreAmbleChk"} << "-56" << "12" << 0x04 << 0xC8
                                   << 12;
    QTest::newRow("remove data") << QStringList{"RemoveDataChk"} << "1" << "2" << 0x01 << 1 << 2;
    QTest::newRow("postamble") << QStringList{"PostAmbleChk"} << "1" << "2" << 0x02 << 1 << 2;
    QTest::newRow("auto report") << QStringList{"AutoReportChk"} << "1" << "2" << 0x08 << 1 << 2;
    QTest::newRow("buzzer") << QStringList{"BuzzerEnableChk"} << "1" << "2" << 0x10 << 1 << 2;
}

void WriteSettingsTest::formValuesReachTheReader()
{
    QFETCH(QStringList, checked);
    QFETCH(QString, start);
    QFETCH(QString, length);
    QFETCH(int, flags);
    QFETCH(int, startByte);
    QFETCH(int, lengthByte);

    // Serial: no read pauses, and the reader shows what it applied.
    window = connectedWindow(true);
    model->state().flags = 0xE0;
    fill(*window, {checked, start, length, 0, "", "", ""});
    clickSet();
    QTRY_COMPARE(model->settingsDoneCount(), 1);
    // The bits without a name stay as the reader held them.
    QCOMPARE(int(model->state().flags), flags | 0xE0);
    QCOMPARE(int(model->state().outputStart), startByte);
    QCOMPARE(int(model->state().outputLength), lengthByte);
    QCOMPARE(boxes->texts(), QStringList{WriteOk});
}

void WriteSettingsTest::hidFailureStopsAtTheFailedFrame_data()
{
    QTest::addColumn<int>("failing"); // 1-based frame
    QTest::addColumn<bool>("unplug"); // else the next write is refused
    QTest::addColumn<QStringList>("ownTraces");

    QTest::newRow("frame 1 refused") << 1 << false << QStringList{};
    QTest::newRow("frame 2 unplugged") << 2 << true << QStringList{"t1num: 5", "t2num: 6"};
    QTest::newRow("frame 4 unplugged") << 4 << true
                                       << QStringList{"t1num: 5", "t2num: 6", "PreVal=50"};
    QTest::newRow("frame 7 unplugged") << 7 << true
                                       << QStringList{"t1num: 5", "t2num: 6", "PreVal=50"};
}

void WriteSettingsTest::hidFailureStopsAtTheFailedFrame()
{
    QFETCH(int, failing);
    QFETCH(bool, unplug);
    QFETCH(QStringList, ownTraces);

    window = connectedWindow(false);
    fill(*window, {{"PreAmbleChk"}, "5", "6", 1, "P", "Q", "R"});
    const int before = int(FakeHid::writtenReports().size());
    const int attemptedBefore = int(FakeHid::attemptedWrites().size());

    TraceCapture captured;
    if (unplug) {
        FakeHid::unplugAfterWrites(UsbRead + failing - 1);
    } else {
        // The fault starts once the read before the write has been asked.
        // The count lives as long as the sink, which outlives this block.
        auto requests = std::make_shared<int>(0);
        model->setLogSink([requests](const QString &line) {
            if (line.startsWith(QLatin1String("rx")) && ++*requests == UsbRead)
                FakeHid::refuseWrites(1);
        });
    }
    clickSet();

    const QList<QByteArray> written = reportsSince(before).mid(UsbRead);
    QCOMPARE(written.size(), failing - 1);
    QCOMPARE(FakeHid::attemptedWrites().size() - attemptedBefore, UsbRead + failing);
    const quint8 order[] = {0x02, 0x10, 0x03, 0x21, 0x25, 0x29, 0x80};
    for (int i = 0; i < written.size(); ++i)
        QCOMPARE(quint8(written[i][3]), order[i]);

    QStringList lines = withoutReadTraces(captured.lines());
    QCOMPARE(lines.size(), ownTraces.size() + 2);
    QCOMPARE(lines.mid(0, ownTraces.size()), ownTraces);
    QCOMPARE(lines.at(ownTraces.size()), QStringLiteral("Unable to write()\n"));
    QVERIFY2(lines.last().startsWith("Error: ") && lines.last().endsWith('\n'),
             qPrintable(lines.last()));
    QVERIFY(boxes->boxes.isEmpty());

    // What went out before the failure stays applied.
    QCOMPARE(model->state().flags, quint8(failing > 1 ? 0x04 : 0x10));
    QCOMPARE(model->state().outputStart, quint8(failing > 2 ? 5 : 0));
    QCOMPARE(model->state().preAmble, failing > 4 ? QByteArray("P") : QByteArray());
    QCOMPARE(model->settingsDoneCount(), 0);
}

void WriteSettingsTest::refusedFormSendsNothing_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("told"); // in part

    const QString cr32 = QStringLiteral("[CR]").repeated(32);
    QTest::newRow("start above 255") << false << "IBTOutStartEdit" << "300" << "Output start is 300, outside -128 to 255";
    QTest::newRow("start below -128") << true << "IBTOutStartEdit" << "-129" << "Output start is -129, outside";
    QTest::newRow("length not a number") << false << "IBTOutLengthEdit" << "abc" << "Output length must be a whole number";
    QTest::newRow("length empty") << true << "IBTOutLengthEdit" << "" << "Output length must be a whole number";
    QTest::newRow("name in small letters") << false << "PreAmbleEdit" << "[cr]"
                                           << "PreAmble Enable: \"[cr]\" at character 1 is not a control-code name";
    QTest::newRow("a file's [NUL] is no name") << true << "RemoveDataEdit" << "A[NUL]"
                                               << "Remove Data Enable: \"[NUL]\" at character 2";
    QTest::newRow("degree sign over USB") << false << "PostAmbleEdit" << QString::fromUtf16(u"x\u00B0")
                                          << QString::fromUtf16(u"PostAmble Enable: \"\u00B0\" at character 2 would be sent as B0 and read back over USB as \"\u20AC\"");
    QTest::newRow("euro sign over serial") << true << "PostAmbleEdit" << QString::fromUtf16(u"\u20AC")
                                           << "read back over serial";
    QTest::newRow("usb 32 codes") << false << "PreAmbleEdit" << QString(32, QLatin1Char('p'))
                                  << "PreAmble Enable is 32 key codes long; a read shows at most 31";
    QTest::newRow("serial 32 names") << true << "RemoveDataEdit" << cr32
                                     << "Remove Data Enable is 32 key codes long; a read shows at most 31";
}

void WriteSettingsTest::refusedFormSendsNothing()
{
    QFETCH(bool, serial);
    QFETCH(QString, edit);
    QFETCH(QString, text);
    QFETCH(QString, told);

    window = connectedWindow(serial);
    fill(*window, {{"PreAmbleChk"}, "9", "9", 1, "ok", "ok", "ok"});
    widget<QLineEdit>(*window, edit)->setText(text);
    // A second wrong field is named in the same box.
    widget<QLineEdit>(*window, edit == QLatin1String("IBTOutStartEdit") ? "IBTOutLengthEdit" : "IBTOutStartEdit")
        ->setText(QStringLiteral("1.5"));
    const QStringList stateBefore = stateLines(model->state());
    const int attemptedBefore = int(FakeHid::attemptedWrites().size());

    TraceCapture captured;
    clickSet();
    QCOMPARE(boxes->boxes.size(), 1);
    const SeenBox box = boxes->boxes.first();
    QCOMPARE(box.title, QStringLiteral("Setting iButton"));
    QVERIFY2(box.text.contains(told), qPrintable(box.text));
    QVERIFY2(box.text.contains(QStringLiteral("must be a whole number")), qPrintable(box.text));
    QVERIFY2(box.text.endsWith(QStringLiteral("Nothing was written to the reader.")), qPrintable(box.text));
    // The form's fault, not the reader's answer: a warning to acknowledge.
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

    QCOMPARE(FakeHid::attemptedWrites().size(), attemptedBefore);
    if (serial) {
        QTest::qWait(200);
        QVERIFY(pty->received().isEmpty());
    }
    QVERIFY(captured.startingWith(QStringLiteral("t1num")).isEmpty());
    QCOMPARE(stateLines(model->state()), stateBefore);
    QCOMPARE(model->settingsDoneCount(), 0);
    // The form still shows what was typed.
    QCOMPARE(widget<QLineEdit>(*window, edit)->text(), text);
}

void WriteSettingsTest::writtenTextReadsBackAsShown_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("pickNull");
    QTest::addColumn<QByteArray>("codes");
    for (const bool serial : {false, true}) {
        const char *link = serial ? "serial" : "usb";
        QTest::addRow("%s, the most codes a read shows", link)
            << serial << QStringLiteral("[CR]") + QString(30, QLatin1Char('z')) << false
            << QByteArray("\r") + QByteArray(30, 'z');
        QTest::addRow("%s, NULL picked", link) << serial << "A" << true << hex("41 00");
    }
}

void WriteSettingsTest::writtenTextReadsBackAsShown()
{
    QFETCH(bool, serial);
    QFETCH(QString, typed);
    QFETCH(bool, pickNull);
    QFETCH(QByteArray, codes);
    window = connectedWindow(serial);
    fill(*window, {{"PreAmbleChk"}, "1", "2", 0, typed, "", ""});
    auto *line = widget<QLineEdit>(*window, "PreAmbleEdit");
    if (pickNull) {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        auto *picker = widget<QComboBox>(*window, "Pre_cmb");
        picker->showPopup();
        picker->view()->setCurrentIndex(picker->model()->index(0, 0));
        QTest::keyClick(picker->view(), Qt::Key_Return);
        QTRY_COMPARE(line->text(), typed + QStringLiteral("[NULL]"));
    }
    const QString shown = line->text();
    clickSet();
    QTRY_COMPARE(model->settingsDoneCount(), 1);
    QCOMPARE(boxes->texts(), QStringList{WriteOk});
    QCOMPARE(model->state().preAmble.toHex(' '), codes.toHex(' '));
    line->clear();
    click(*window, "GetIBTStatusBut");
    QTRY_COMPARE(line->text(), shown);
}

// The reader does not answer the connect's read; the form is no reader's.
void WriteSettingsTest::connectWithFailedRead(bool serial)
{
    model->faults().silent = serial;
    FakeHid::refuseAllWrites(!serial);
    window = connectedWindow(serial);
    model->faults().silent = false;
    FakeHid::refuseAllWrites(false);
    QCOMPARE(widget<QPushButton>(*window, "ConnectBut")->text(), QStringLiteral("Disconnect"));
    fill(*window, {{}, "1", "2", 0, "", "", ""});
}

void WriteSettingsTest::formNotReadFromThisReaderAsks_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<int>("answer");
    QTest::newRow("usb, no") << false << int(QMessageBox::No);
    QTest::newRow("usb, yes") << false << int(QMessageBox::Yes);
    QTest::newRow("serial, no") << true << int(QMessageBox::No);
}

void WriteSettingsTest::formNotReadFromThisReaderAsks()
{
    QFETCH(bool, serial);
    QFETCH(int, answer);
    connectWithFailedRead(serial);
    const QStringList stateBefore = stateLines(model->state());
    const int attemptedBefore = int(FakeHid::attemptedWrites().size());

    boxes->answer = QMessageBox::StandardButton(answer);
    clickSet();
    QCOMPARE(boxes->texts().value(0), NotThisReader);
    QCOMPARE(boxes->boxes.first().buttons, QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::No) {
        QTest::qWait(serial ? 200 : 0);
        QCOMPARE(FakeHid::attemptedWrites().size(), attemptedBefore);
        QVERIFY(!pty || pty->received().isEmpty());
        QCOMPARE(stateLines(model->state()), stateBefore);
        return;
    }
    // Yes made the form this reader's: the next write does not ask.
    clickSet();
    QTRY_COMPARE(model->settingsDoneCount(), 2);
    QCOMPARE(boxes->texts(), (QStringList{NotThisReader, WriteOk, WriteOk}));
}

void WriteSettingsTest::loadSettingsOnlyWhileConnected_data()
{
    addTransportRows();
}

void WriteSettingsTest::loadSettingsOnlyWhileConnected()
{
    QFETCH(bool, serial);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("reader.json"));
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(R"({"outputStart": 7, "preamble": "[NUL]X", "keyboardCountry": "German"})");
    out.close();
    {
        MainWindow idle;
        const auto *load = idle.findChild<QAction *>(QStringLiteral("actionLoadSettings"));
        QVERIFY(!load->isEnabled());
        QVERIFY2(load->statusTip().contains(QStringLiteral("Connect a reader first")), qPrintable(load->statusTip()));
        QVERIFY(!idle.loadSettingsFrom(file));
        QCOMPARE(boxes->boxes.value(0).title, QStringLiteral("Load Settings"));
    }

    // After a connect whose read failed, a loaded file is this reader's form.
    connectWithFailedRead(serial);
    QVERIFY(window->findChild<QAction *>(QStringLiteral("actionLoadSettings"))->isEnabled());
    QVERIFY(window->loadSettingsFrom(file));
    // The form was filled by hand: the load asked first, and Yes replaced it.
    QCOMPARE(boxes->boxes.size(), 1);
    boxes->boxes.clear();
    QCOMPARE(widget<QLineEdit>(*window, "PreAmbleEdit")->text(), QStringLiteral("[NULL]X"));
    QCOMPARE(widget<QComboBox>(*window, "KB_cmb")->currentIndex(), serial ? 0 : 3);
    QCOMPARE(window->statusText().contains(QStringLiteral("keyboardCountry is not written over a serial port")), serial);
    clickSet();
    QTRY_COMPARE(model->settingsDoneCount(), 1);
    QCOMPARE(boxes->texts(), QStringList{WriteOk});
    QCOMPARE(model->state().preAmble, hex("00 58"));
    if (serial) // padded as long as the form's text, after the six requests of the read before
        QCOMPARE(pty->received().mid(48 + 16, 11), hex("1B 42 21 02 00 58 00 00 00 00 00"));
}

void WriteSettingsTest::serialWriteFailureIsReported()
{
    window = connectedWindow(true);
    fill(*window, {{}, "1", "1", 0, "", "", ""});
    TraceCapture captured;
    // The adapter goes while the write's second frame is built: after the
    // read before the write, and after a frame that reached the reader.
    static PtyReader *pulled = nullptr;
    pulled = pty.get();
    const QtMessageHandler capturing = qInstallMessageHandler(nullptr);
    static QtMessageHandler next = nullptr;
    next = capturing;
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &message) {
        if (pulled && message.startsWith(QLatin1String("t1num:"))) {
            pulled->closeMaster();
            pulled = nullptr;
        }
        next(type, context, message);
    });
    clickSet();
    qInstallMessageHandler(capturing);
    QCOMPARE(boxes->boxes.size(), 1);
    const SeenBox box = boxes->boxes.first();
    QCOMPARE(box.title, QStringLiteral("Setting iButton"));
    QCOMPARE(box.text, WriteFail);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Yes));
    QVERIFY(!box.hasParent);
    QCOMPARE(captured.startingWith(QStringLiteral("Serial write failed")).size(), 1);
    QCOMPARE(model->settingsDoneCount(), 0);
    // The lost port ends the connection.
    QTRY_VERIFY(shownDisconnected(*window));
}

void WriteSettingsTest::readThenWriteHandsEverySettingBack_data()
{
    addTransportRows();
}

void WriteSettingsTest::readThenWriteHandsEverySettingBack()
{
    QFETCH(bool, serial);

    // Values whose text survives the round trip: control codes, plain
    // characters, a symbol code (USB) and bytes that are letters in the
    // code page.
    ReaderState &state = model->state();
    state.flags = 0x1B;
    state.outputStart = 0xC8;
    state.outputLength = 12;
    state.kbCountry = 3;
    state.preAmble = hex("02 41 0D 0A");
    state.postAmble = serial ? hex("E9 7E 5B 5D") : hex("B5 E9 7E 5B");
    state.removeData = hex("1B 7F");
    const QStringList before = stateLines(state);

    window = connectedWindow(serial);
    if (!widget<QLabel>(*window, "FWLbl")->text().startsWith(QStringLiteral("F/W Version: ")))
        QSKIP("the settings read is not there yet");
    QCOMPARE(widget<QLineEdit>(*window, "IBTOutStartEdit")->text(), QStringLiteral("-56"));
    // Reset the reader, so that only the write can bring the values back.
    state = ReaderState();
    clickSet();
    QTRY_COMPARE(model->settingsDoneCount(), 1);
    QStringList after = stateLines(state);
    if (serial)
        after[3] = before[3]; // no keyboard country over the serial port
    QCOMPARE(after, before);
}

QTEST_MAIN(WriteSettingsTest)
#include "tst_writesettings.moc"

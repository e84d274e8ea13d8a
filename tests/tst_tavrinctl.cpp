// tavrinctl against the simulated reader, run in-process on both transports.
#include "ctl.h"

#include "app/mainwindow.h"
#include "link/readerlink.h"

#include "support/boxcatcher.h"
#include "support/fakehid.h"
#include "support/faultcheck.h"
#include "support/readertestcase.h"
#include "support/windowdriver.h"

#include "ptyreader.h"
#include "readermodel.h"

#include <QBuffer>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QComboBox>
#include <QTemporaryFile>
#include <QTest>

#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Outcome
{
    int code = -1;
    QString out;
    QString err;
    QJsonObject json() const { return QJsonDocument::fromJson(out.toUtf8()).object(); }
};

Outcome tavrinctl(const QByteArrayList &arguments, QIODevice &in)
{
    Outcome o;
    QTextStream out(&o.out);
    QTextStream err(&o.err);
    o.code = Tavrinctl::run(arguments, out, err, in);
    out.flush();
    err.flush();
    return o;
}

Outcome tavrinctl(const QStringList &arguments, const QByteArray &input = {})
{
    QBuffer in;
    in.setData(input);
    in.open(QIODevice::ReadOnly);
    QByteArrayList raw;
    for (const QString &a : arguments)
        raw << a.toUtf8();
    return tavrinctl(raw, in);
}

bool sameState(const ReaderState &a, const ReaderState &b)
{
    return a.firmware == b.firmware && a.flags == b.flags && a.outputStart == b.outputStart
        && a.outputLength == b.outputLength && a.kbCountry == b.kbCountry && a.preAmble == b.preAmble
        && a.postAmble == b.postAmble && a.removeData == b.removeData;
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

} // namespace

class TavrinctlTest : public ReaderTestCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void readsEverySettingOverUsb();
    void readsOverSerialWithoutKeyboardCountry();
    void readThenWriteLeavesTheReaderUnchanged_data();
    void readThenWriteLeavesTheReaderUnchanged();
    void writingOneFieldChangesOnlyThatField_data();
    void writingOneFieldChangesOnlyThatField();
    void writesTheWindowsFramesOverSerial();
    void invalidInputIsRefusedWithNothingSent_data();
    void invalidInputIsRefusedWithNothingSent();
    void writeIsCheckedByReadingBack_data();
    void writeIsCheckedByReadingBack();
    void silentReaderFailsWithinTheBound_data();
    void silentReaderFailsWithinTheBound();
    void missingReaderIsAReaderFailure();
    void readMatchesTheWindowsForm();
    void helpAndUsage();
    void severalReadersNeedADevice_data();
    void severalReadersNeedADevice();
    void listAsJson();
    void hostileInputIsRefused_data();
    void hostileInputIsRefused();
    void namesKeepTheirBytes();

private:
    // Runs a command whose serial side needs the event loop to answer.
    QString serialPort();
};

void TavrinctlTest::init()
{
    // Only one case shows the window; it catches its own boxes.
    startCase(Boxes::NotCaught);
    ReaderState &s = model->state();
    s.firmware = QByteArrayLiteral("1BT V3.1");
    s.flags = 0x15;
    s.outputStart = 0xC8;
    s.outputLength = 12;
    s.kbCountry = 3;
    s.preAmble = QByteArrayLiteral("\x02ID:");
    s.postAmble = QByteArrayLiteral("\r\n");
    s.removeData.clear();
    FakeHid::attach(model.get());
}

void TavrinctlTest::cleanup()
{
    endCase();
}

QString TavrinctlTest::serialPort()
{
    pty = std::make_unique<PtyReader>(model.get());
    if (!pty->isOpen())
        qFatal("no pseudo-terminal: %s", qPrintable(pty->errorString()));
    return pty->portName();
}

void TavrinctlTest::readsEverySettingOverUsb()
{
    const Outcome o = tavrinctl({QStringLiteral("read")});
    QCOMPARE(o.code, 0);
    QVERIFY(o.err.isEmpty());
    const QJsonObject j = o.json();
    QCOMPARE(j.value("firmware").toString(), QStringLiteral("1BT V3.1"));
    QCOMPARE(j.value("preamble").toString(), QStringLiteral("[STX]ID:"));
    QCOMPARE(j.value("postamble").toString(), QStringLiteral("[CR][LF]"));
    QCOMPARE(j.value("removeData").toString(), QString());
    QCOMPARE(j.value("removeDataEnabled").toBool(), true);
    QCOMPARE(j.value("postambleEnabled").toBool(), false);
    QCOMPARE(j.value("preambleEnabled").toBool(), true);
    QCOMPARE(j.value("autoReport").toBool(), false);
    QCOMPARE(j.value("buzzer").toBool(), true);
    QCOMPARE(j.value("outputStart").toInt(), 200);
    QCOMPARE(j.value("outputLength").toInt(), 12);
    QCOMPARE(j.value("keyboardCountry").toString(), QStringLiteral("German"));
    QCOMPARE(j.size(), 12);
    QCOMPARE(FakeHid::openHandleCount(), 0);
}

void TavrinctlTest::readsOverSerialWithoutKeyboardCountry()
{
    const Outcome o = tavrinctl({QStringLiteral("read"), QStringLiteral("--port"), serialPort()});
    QCOMPARE(o.code, 0);
    const QJsonObject j = o.json();
    QCOMPARE(j.value("firmware").toString(), QStringLiteral("1BT V3.1"));
    QCOMPARE(j.value("preamble").toString(), QStringLiteral("[STX]ID:"));
    QCOMPARE(j.value("outputStart").toInt(), 200);
    QVERIFY(!j.contains("keyboardCountry"));
    QCOMPARE(j.size(), 11);
    QVERIFY(FakeHid::writtenReports().isEmpty());
}

void TavrinctlTest::readThenWriteLeavesTheReaderUnchanged_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QByteArray>("awkward");
    QTest::newRow("usb plain") << false << QByteArrayLiteral("ABC");
    QTest::newRow("serial plain") << true << QByteArrayLiteral("ABC");
    // Codes whose text the window would change on the way back.
    const QByteArray awkward("\x00\x80\xA4\xB3[CR]\x9C", 10);
    QTest::newRow("usb awkward codes") << false << awkward;
    QTest::newRow("serial awkward codes") << true << awkward;
}

void TavrinctlTest::readThenWriteLeavesTheReaderUnchanged()
{
    QFETCH(bool, serial);
    QFETCH(QByteArray, awkward);
    model->state().removeData = awkward;
    const ReaderState before = model->state();

    QStringList port;
    if (serial)
        port << QStringLiteral("--port") << serialPort();
    const Outcome read = tavrinctl(QStringList{QStringLiteral("read")} + port);
    QCOMPARE(read.code, 0);

    const Outcome write = tavrinctl(QStringList{QStringLiteral("write")} + port + QStringList{"-"},
                                    read.out.toUtf8());
    QVERIFY2(write.code == 0, qPrintable(write.err));
    QTRY_COMPARE(model->settingsDoneCount(), 1);
    QVERIFY2(sameState(model->state(), before), qPrintable(describe(model->state())));
}

void TavrinctlTest::writingOneFieldChangesOnlyThatField_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("field");
    QTest::newRow("preamble") << QByteArray(R"({"preamble": "[ESC]X"})") << "preamble";
    QTest::newRow("postamble") << QByteArray(R"({"postamble": ""})") << "postamble";
    QTest::newRow("removeData") << QByteArray(R"({"removeData": "00"})") << "removeData";
    QTest::newRow("preambleEnabled") << QByteArray(R"({"preambleEnabled": false})") << "flags";
    QTest::newRow("postambleEnabled") << QByteArray(R"({"postambleEnabled": true})") << "flags";
    QTest::newRow("removeDataEnabled") << QByteArray(R"({"removeDataEnabled": false})") << "flags";
    QTest::newRow("autoReport") << QByteArray(R"({"autoReport": true})") << "flags";
    QTest::newRow("buzzer") << QByteArray(R"({"buzzer": false})") << "flags";
    QTest::newRow("outputStart") << QByteArray(R"({"outputStart": 255})") << "outputStart";
    QTest::newRow("outputLength") << QByteArray(R"({"outputLength": 0})") << "outputLength";
    QTest::newRow("keyboardCountry") << QByteArray(R"({"keyboardCountry": "Italy"})") << "kbCountry";
    QTest::newRow("firmware is ignored") << QByteArray(R"({"firmware": "1BT XXXX"})") << "";
}

void TavrinctlTest::writingOneFieldChangesOnlyThatField()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, field);
    ReaderState expected = model->state();
    if (field == "preamble")
        expected.preAmble = QByteArrayLiteral("\x1BX");
    else if (field == "postamble")
        expected.postAmble.clear();
    else if (field == "removeData")
        expected.removeData = QByteArrayLiteral("00");
    else if (field == "outputStart")
        expected.outputStart = 255;
    else if (field == "outputLength")
        expected.outputLength = 0;
    else if (field == "kbCountry")
        expected.kbCountry = 4;
    else if (field == "flags") {
        const QJsonObject j = QJsonDocument::fromJson(json).object();
        const char *names[] = {"removeDataEnabled", "postambleEnabled", "preambleEnabled", "autoReport", "buzzer"};
        for (int bit = 0; bit < 5; ++bit) {
            if (j.contains(names[bit]))
                expected.flags = j.value(names[bit]).toBool() ? expected.flags | (1 << bit)
                                                              : expected.flags & ~(1 << bit);
        }
    }

    const Outcome o = tavrinctl({QStringLiteral("write"), QStringLiteral("-")}, json);
    QVERIFY2(o.code == 0, qPrintable(o.err));
    QVERIFY2(sameState(model->state(), expected), qPrintable(describe(model->state())));
}

void TavrinctlTest::writesTheWindowsFramesOverSerial()
{
    const QString port = serialPort();
    const Outcome o = tavrinctl({QStringLiteral("write"), QStringLiteral("--port"), port, QStringLiteral("-")},
                                QByteArray(R"({"preamble": "[CR]", "removeData": "[NUL]", "outputStart": 3, "outputLength": 10})"));
    QVERIFY2(o.code == 0, qPrintable(o.err));
    QTRY_COMPARE(model->settingsDoneCount(), 1);
    // The six frames of the read, the six of the write, byte for byte, and
    // the six of the read that checks the write.
    const QByteArray sent = pty->received();
    const QByteArray write = QByteArray::fromHex("1B4202011500000D"
                                                 "1B421001030A000D"
                                                 "1B4221010D000000"
                                                 "1B422502" "0D0A" "000000000000"
                                                 // padded as the window's "[NULL]" is
                                                 "1B422901" "00" "0000000000"
                                                 "1B428055AA55AA0D");
    QCOMPARE(sent.mid(48, write.size()).toHex(' '), write.toHex(' '));
    QCOMPARE(sent.mid(48 + write.size()), sent.left(48));
}

void TavrinctlTest::invalidInputIsRefusedWithNothingSent_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("errors"); // each on a line of its own; empty: not looked at
    const QStringList write{QStringLiteral("write"), QStringLiteral("-")};
    // Texts that would not reach the reader as written, and every problem of
    // a file at once.
    QTest::newRow("name not in the table")
        << write << QByteArray(R"({"preamble": "AB[FOO]"})")
        << QStringList{"tavrinctl: \"preamble\": \"[FOO]\" at character 3 is not a control-code name"};
    QTest::newRow("names are case-sensitive")
        << write << QByteArray(R"({"postamble": "[cr]"})")
        << QStringList{"tavrinctl: \"postamble\": \"[cr]\" at character 1 is not a control-code name"};
    QTest::newRow("degree sign over USB")
        << write << QByteArray("{\"removeData\": \"1\u00b0\"}")
        << QStringList{"tavrinctl: \"removeData\": \"\u00b0\" at character 2 would be sent as B0 and read back over "
                       "USB as \"\u20ac\""};
    QTest::newRow("every problem, not the first")
        << write << QByteArray(R"({"buzzer": 1, "preamble": "[XY]", "volume": 2})")
        << QStringList{"tavrinctl: \"buzzer\" must be true or false",
                       "tavrinctl: \"preamble\": \"[XY]\" at character 1 is not a control-code name",
                       "tavrinctl: unknown field \"volume\""};
    QTest::newRow("a key twice") << write << QByteArray(R"({"buzzer": true, "buzzer": false})")
                                 << QStringList{"tavrinctl: \"buzzer\" is given more than once"};
    QTest::newRow("key with control characters")
        << write << QByteArray("{\"\\u001b[31mred\\n\": 1}")
        << QStringList{"tavrinctl: unknown field \"\\u001b[31mred\\u000a\""};
    QTest::newRow("bad json") << write << QByteArray("{\"buzzer\": tru") << QStringList();
    QTest::newRow("not an object") << write << QByteArray("[1, 2]") << QStringList();
    QTest::newRow("unknown field") << write << QByteArray(R"({"volume": 3})") << QStringList();
    QTest::newRow("text for a number") << write << QByteArray(R"({"outputStart": "3"})") << QStringList();
    QTest::newRow("number for a text") << write << QByteArray(R"({"preamble": 13})") << QStringList();
    QTest::newRow("text for a boolean") << write << QByteArray(R"({"buzzer": "yes"})") << QStringList();
    QTest::newRow("number above 255") << write << QByteArray(R"({"outputLength": 256})") << QStringList();
    QTest::newRow("below -128") << write << QByteArray(R"({"outputStart": -129})") << QStringList();
    QTest::newRow("fraction") << write << QByteArray(R"({"outputStart": 2.5})") << QStringList();
    QTest::newRow("unknown country") << write << QByteArray(R"({"keyboardCountry": "Spain"})") << QStringList();
    QTest::newRow("too many key codes")
        << write << QByteArray(R"({"removeData": ")") + QByteArray(32, 'A') + QByteArray("\"}") << QStringList();
    QTest::newRow("country over serial, --strict")
        << QStringList{"write", "--strict", "--port", "/dev/tavrin-unused", "-"}
        << QByteArray(R"({"keyboardCountry": "USA"})") << QStringList();
    const QByteArray file(R"({"buzzer": true})");
    QTest::newRow("--all and --device") << QStringList{"apply", "-", "--all", "--device", "/dev/hidraw-sim0"} << file
                                        << QStringList{"tavrinctl: choose either --all or --device"};
    QTest::newRow("--watch and --port") << QStringList{"apply", "-", "--watch", "--port", "ttyS0"} << file
                                        << QStringList{"tavrinctl: choose either --watch or --port"};
    QTest::newRow("no readers named")
        << QStringList{"apply", "-"} << file
        << QStringList{"tavrinctl: apply needs the readers: --all, --watch, --device PATH... or --port NAME..."};
    QTest::newRow("a JSON mistake") << write << QByteArray("{\n  \"buzzer\": true,\n  \"outputLength\": nine\n}")
                                    << QStringList{"tavrinctl: standard input:3:19: illegal value"};
    QTest::newRow("an empty file") << write << QByteArray(" \n") << QStringList{"tavrinctl: standard input is empty"};
    QTest::newRow("--strict with read") << QStringList{"read", "--strict"} << QByteArray()
                                        << QStringList{"tavrinctl: read does not take --strict"};
    QTest::newRow("no file") << QStringList{"write"} << QByteArray() << QStringList();
    QTest::newRow("missing file") << QStringList{"write", "/nonexistent/settings.json"} << QByteArray() << QStringList();
    QTest::newRow("unknown command") << QStringList{"erase"} << QByteArray() << QStringList();
    QTest::newRow("unknown option") << QStringList{"read", "--baud", "9600"} << QByteArray() << QStringList();
    QTest::newRow("no command") << QStringList{} << QByteArray() << QStringList();
}

void TavrinctlTest::invalidInputIsRefusedWithNothingSent()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(QStringList, errors);
    const Outcome o = tavrinctl(arguments, input);
    QCOMPARE(o.code, 2);
    QVERIFY(!o.err.isEmpty());
    if (!errors.isEmpty())
        QCOMPARE(o.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts), errors);
    QCOMPARE(FakeHid::openCount(), 0);
    QVERIFY(FakeHid::attemptedWrites().isEmpty());
}

void TavrinctlTest::writeIsCheckedByReadingBack_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("err");
    const QString lost = QStringLiteral("tavrinctl: The reader does not hold what was sent:\n"
                                        "tavrinctl: PreAmble: sent \"[NULL]\" (00), the reader holds \"[STX]ID:\" "
                                        "(02 49 44 3A)\n");
    QTest::newRow("usb") << false << QStringList() << 1 << lost;
    QTest::newRow("serial") << true << QStringList() << 1 << lost;
    QTest::newRow("usb, not checked") << false << QStringList{"--no-verify"} << 0 << QString();
}

void TavrinctlTest::writeIsCheckedByReadingBack()
{
    QFETCH(bool, serial);
    QFETCH(QStringList, options);
    QFETCH(int, code);
    QFETCH(QString, err);

    model->faults().ignoresWriteOf = CmdSetPreAmble;
    QStringList arguments{QStringLiteral("write")};
    if (serial)
        arguments << QStringLiteral("--port") << serialPort();
    const Outcome o = tavrinctl(arguments + options + QStringList{"-"}, QByteArray(R"({"preamble": "[NUL]"})"));
    QCOMPARE(o.code, code);
    QCOMPARE(o.err, err);
    QCOMPARE(model->settingsDoneCount(), 1);
}

void TavrinctlTest::silentReaderFailsWithinTheBound_data()
{
    QTest::addColumn<bool>("serial");
    QTest::newRow("usb") << false;
    QTest::newRow("serial") << true;
}

void TavrinctlTest::silentReaderFailsWithinTheBound()
{
    QFETCH(bool, serial);
    model->faults().silent = true;
    QStringList arguments{QStringLiteral("read")};
    if (serial)
        arguments << QStringLiteral("--port") << serialPort();
    QElapsedTimer timer;
    timer.start();
    const Outcome o = tavrinctl(arguments);
    QCOMPARE(o.code, 1);
    QVERIFY(o.out.isEmpty());
    QVERIFY(!o.err.isEmpty());
    QVERIFY2(timer.elapsed() < (serial ? 2500 : 3500), qPrintable(QString::number(timer.elapsed())));
}

void TavrinctlTest::missingReaderIsAReaderFailure()
{
    FakeHid::attach(nullptr);
    Outcome o = tavrinctl({QStringLiteral("read")});
    QCOMPARE(o.code, 1);
    QVERIFY(o.err.contains(QStringLiteral("no USB reader")));
    o = tavrinctl({QStringLiteral("read"), QStringLiteral("--port"), QStringLiteral("/dev/tavrin-no-such-port")});
    QCOMPARE(o.code, 1);
    QVERIFY(o.err.contains(QStringLiteral("/dev/tavrin-no-such-port")));
}

void TavrinctlTest::readMatchesTheWindowsForm()
{
    const QJsonObject j = tavrinctl({QStringLiteral("read")}).json();

    BoxCatcher readBox;
    MainWindow w;
    click(w, "ConnectBut");
    QVERIFY(connectedOverUsb(w));
    QCOMPARE(widget<QLabel>(w, "FWLbl")->text(), "F/W Version: " + j.value("firmware").toString());
    QCOMPARE(widget<QLineEdit>(w, "PreAmbleEdit")->text(), j.value("preamble").toString());
    QCOMPARE(widget<QLineEdit>(w, "PostAmbleEdit")->text(), j.value("postamble").toString());
    QCOMPARE(widget<QLineEdit>(w, "RemoveDataEdit")->text(), j.value("removeData").toString());
    QCOMPARE(widget<QCheckBox>(w, "PreAmbleChk")->isChecked(), j.value("preambleEnabled").toBool());
    QCOMPARE(widget<QCheckBox>(w, "PostAmbleChk")->isChecked(), j.value("postambleEnabled").toBool());
    QCOMPARE(widget<QCheckBox>(w, "RemoveDataChk")->isChecked(), j.value("removeDataEnabled").toBool());
    QCOMPARE(widget<QCheckBox>(w, "AutoReportChk")->isChecked(), j.value("autoReport").toBool());
    QCOMPARE(widget<QCheckBox>(w, "BuzzerEnableChk")->isChecked(), j.value("buzzer").toBool());
    // The window shows the byte as signed; the file holds it as 0..255.
    QCOMPARE(quint8(widget<QLineEdit>(w, "IBTOutStartEdit")->text().toInt()), j.value("outputStart").toInt());
    QCOMPARE(widget<QLineEdit>(w, "IBTOutLengthEdit")->text().toInt(), j.value("outputLength").toInt());
    QCOMPARE(widget<QComboBox>(w, "KB_cmb")->currentText(), j.value("keyboardCountry").toString());
}

void TavrinctlTest::helpAndUsage()
{
    for (const QStringList &arguments : {QStringList{"--help"}, QStringList{"list", "--help"},
                                         QStringList{"read", "--help"}, QStringList{"write", "--help"}}) {
        const Outcome o = tavrinctl(arguments);
        QCOMPARE(o.code, 0);
        QVERIFY(o.out.startsWith(QStringLiteral("Usage: tavrinctl")));
    }
    const Outcome list = tavrinctl({QStringLiteral("list")});
    QCOMPARE(list.code, 0);
    QVERIFY(list.out.contains(QStringLiteral("/dev/hidraw-sim0")));
    QVERIFY(FakeHid::writtenReports().isEmpty());
}

void TavrinctlTest::severalReadersNeedADevice_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("opened"); // the path opened; empty: none
    QTest::addColumn<QString>("err");

    QTest::newRow("none chosen") << QStringList() << 2 << ""
                                 << "tavrinctl: 2 USB readers are attached (/dev/hidraw-sim0, /dev/hidraw-sim1): "
                                    "choose one with --device PATH\n";
    QTest::newRow("the first") << QStringList{"--device", "/dev/hidraw-sim0"} << 0 << "/dev/hidraw-sim0" << "";
    QTest::newRow("the second") << QStringList{"--device=/dev/hidraw-sim1"} << 0 << "/dev/hidraw-sim1" << "";
    QTest::newRow("one not there") << QStringList{"--device", "/dev/hidraw9"} << 1 << ""
                                   << "tavrinctl: no USB reader at \"/dev/hidraw9\" ('tavrinctl list' shows the "
                                      "readers attached)\n";
    QTest::newRow("and a port") << QStringList{"--device", "/dev/hidraw-sim0", "--port", "/dev/ttyS0"} << 2 << ""
                                << "tavrinctl: --port and --device name two different readers; give one\n";
}

void TavrinctlTest::severalReadersNeedADevice()
{
    QFETCH(QStringList, options);
    QFETCH(int, code);
    QFETCH(QString, opened);
    QFETCH(QString, err);

    FakeHid::setProducts({FakeHid::ReaderProductId, FakeHid::ReaderProductId});
    const Outcome o = tavrinctl(QStringList{QStringLiteral("read")} + options);
    QCOMPARE(o.code, code);
    QCOMPARE(o.err, err);
    const QStringList opens = FakeHid::calls().filter(QStringLiteral("-> ok")).filter(QStringLiteral("hid_open"));
    QCOMPARE(opens, opened.isEmpty() ? QStringList() : QStringList{QStringLiteral("hid_open_path %1 -> ok").arg(opened)});
    if (code == 0)
        QCOMPARE(o.json().value("firmware").toString(), QStringLiteral("1BT V3.1"));
}

void TavrinctlTest::listAsJson()
{
    FakeHid::setProducts({FakeHid::ReaderProductId, FakeHid::ReaderProductId});
    const Outcome o = tavrinctl({QStringLiteral("list"), QStringLiteral("--json")});
    QCOMPARE(o.code, 0);
    QJsonParseError error;
    const QJsonArray all = QJsonDocument::fromJson(o.out.toUtf8(), &error).array();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QJsonArray usb;
    for (const QJsonValue &entry : all) {
        if (entry.toObject().value("kind") == QLatin1String("usb"))
            usb << entry;
        else
            QCOMPARE(entry.toObject().value("kind").toString(), QStringLiteral("serial"));
    }
    for (int i = 0; i < 2; ++i)
        QCOMPARE(usb.at(i).toObject(), (QJsonObject{{"kind", "usb"},
                                                   {"path", QStringLiteral("/dev/hidraw-sim%1").arg(i)},
                                                   {"serialNumber", "SIM0001"},
                                                   {"firmware", "1BT V3.1"}}));
    QCOMPARE(usb.size(), 2);
    QVERIFY(FaultCheck::nonReadFrames(model->framesReceived()).isEmpty());
}

void TavrinctlTest::hostileInputIsRefused_data()
{
    QTest::addColumn<QStringList>("arguments"); // "%d" stands for a scratch folder
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("err");           // the start of the one line on standard error

    const QStringList write{"write", "-"};
    QTest::newRow("file longer than 64 kB") << write << QByteArray(70000, ' ') + "{}"
                                             << "tavrinctl: longer than 65536 bytes: not a settings file";
    QTest::newRow("endless file") << QStringList{"write", "/dev/zero"} << QByteArray()
                                  << "tavrinctl: cannot read \"/dev/zero\": not a regular file";
    QTest::newRow("FIFO nobody writes to") << QStringList{"write", "%d/fifo"} << QByteArray()
                                           << "tavrinctl: cannot read \"%d/fifo\": not a regular file";
    QTest::newRow("folder") << QStringList{"write", "%d"} << QByteArray()
                            << "tavrinctl: cannot read \"%d\": it is a folder";
    QTest::newRow("50 kB unknown key") << write << "{\"" + QByteArray(50000, 'k') + "\": 1}"
                                       << "tavrinctl: unknown field \"" + QString(60, 'k') + "...\"";
    QTest::newRow("empty port name") << QStringList{"read", "--port", ""} << QByteArray()
                                     << "tavrinctl: --port needs a port name";
    QTest::newRow("option for a port") << QStringList{"read", "--port", "--help"} << QByteArray()
                                       << "tavrinctl: --port needs a port name";
    QTest::newRow("regular file as port") << QStringList{"read", "--port", "%d/file"} << QByteArray()
                                          << "tavrinctl: \"%d/file\" is no serial port: it is not a device";
    QTest::newRow("folder as port") << QStringList{"read", "--port", "%d"} << QByteArray()
                                    << "tavrinctl: \"%d\" is no serial port: it is a folder";
    QTest::newRow("device that is no terminal") << QStringList{"read", "--port", "/dev/null"} << QByteArray()
                                                << "tavrinctl: \"/dev/null\" is no serial port: it is not a terminal";
    QTest::newRow("unknown option with escapes") << QStringList{"read", "--\x1b[2J"} << QByteArray()
                                                 << "tavrinctl: unknown option \"--\\u001b[2J\"";
}

void TavrinctlTest::hostileInputIsRefused()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(QString, err);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(mkfifo(QFile::encodeName(dir.filePath("fifo")).constData(), 0600) == 0);
    QFile file(dir.filePath("file"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("kept");
    file.close();
    for (QString &a : arguments)
        a.replace(QLatin1String("%d"), dir.path());
    err.replace(QLatin1String("%d"), dir.path());

    QElapsedTimer clock;
    clock.start();
    const Outcome o = tavrinctl(arguments, input);
    QVERIFY2(clock.elapsed() < 2000, "waited on its input");
    QCOMPARE(o.code, 2);
    QVERIFY2(o.err.startsWith(err), qPrintable(o.err));
    QCOMPARE(o.err.count(QLatin1Char('\n')), 1);
    QVERIFY2(o.err.size() < 200, qPrintable(o.err));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("kept"));
    QVERIFY(FakeHid::attemptedWrites().isEmpty());
    QCOMPARE(FakeHid::openCount(), 0);
}

void TavrinctlTest::namesKeepTheirBytes()
{
    // A file name that is no valid text is still found, and so is a port.
    QTemporaryDir dir;
    const QByteArray name = QFile::encodeName(dir.path()) + "/set\xff.json";
    QFile file(QFile::decodeName(name));
    {
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        QVERIFY(fd >= 0);
        QVERIFY(::write(fd, R"({"buzzer": false})", 17) == 17);
        ::close(fd);
    }
    QBuffer none;
    none.open(QIODevice::ReadOnly);
    const QString port = serialPort();
    const QByteArray oddPort = QFile::encodeName(dir.path()) + "/port\xfe";
    QVERIFY(::symlink(QFile::encodeName(port).constData(), oddPort.constData()) == 0);

    const Outcome o = tavrinctl({"write", "--port", oddPort, name}, none);
    QVERIFY2(o.code == 0, qPrintable(o.err));
    QTRY_COMPARE(model->settingsDoneCount(), 1);
    QCOMPARE(model->state().flags & 0x10, 0);
}

QTEST_MAIN(TavrinctlTest)
#include "tst_tavrinctl.moc"

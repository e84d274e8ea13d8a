#include "link/commandframe.h"
#include "settings/settingswrite.h"
#include "support/hex.h"
#include "support/traces.h"

#include "readermodel.h"

#include <QtTest>

Q_DECLARE_METATYPE(WriteTransport)

namespace {

QStringList capturedTraces;

void captureDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg)
        capturedTraces << message;
}

// A USB report: report id 0, then the given bytes, zeros up to 65.
QByteArray report(const char *spaced)
{
    QByteArray bytes = QByteArray(1, '\0') + hex(spaced);
    bytes.resize(HidReport::Size, '\0');
    return bytes;
}

SettingsWriteRequest sampleRequest()
{
    SettingsWriteRequest request;
    request.flags = 0x1F;
    request.outputStart = QStringLiteral("3");
    request.outputLength = QStringLiteral("10");
    request.kbCountry = 2;
    request.preAmble = QStringLiteral("[CR]");
    request.postAmble = QStringLiteral("A[HT]B");
    request.removeData = QString();
    return request;
}

// What goes on the wire: over USB the link puts each frame in a report.
QByteArray onTheWire(const QByteArray &frame, WriteTransport transport)
{
    return transport == WriteTransport::Hid ? HidReport::fromFrame(frame).toByteArray() : frame;
}

QList<QByteArray> allFrames(const SettingsWriteSequence &sequence)
{
    QList<QByteArray> frames;
    sequence.run([&frames, &sequence](const QByteArray &frame) {
        frames << onTheWire(frame, sequence.transport());
        return true;
    });
    return frames;
}

} // namespace

class TstSettingsWrite : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void wholeSequence_data();
    void wholeSequence();
    void flagsFromChecks_data();
    void flagsFromChecks();
    void outputTexts_data();
    void outputTexts();
    void dataBlocks_data();
    void dataBlocks();
    void tracesAppearOnlyAtTheirStep_data();
    void tracesAppearOnlyAtTheirStep();
    void lengthLimits_data();
    void lengthLimits();
    void runStopsAtTheFirstRefusedFrame();
    void readerAppliesTheFrames_data();
    void readerAppliesTheFrames();

private:
    QtMessageHandler previousHandler = nullptr;
};

void TstSettingsWrite::initTestCase()
{
    enableTraces();
    previousHandler = qInstallMessageHandler(captureDebug);
}

void TstSettingsWrite::init()
{
    capturedTraces.clear();
}

void TstSettingsWrite::cleanupTestCase()
{
    qInstallMessageHandler(previousHandler);
}

void TstSettingsWrite::wholeSequence_data()
{
    QTest::addColumn<WriteTransport>("transport");
    QTest::addColumn<QList<QByteArray>>("frames");

    QTest::newRow("usb") << WriteTransport::Hid
                         << QList<QByteArray>{
                                report("1B 42 02 01 1F 00 00 0D"),
                                report("1B 42 10 01 03 0A 00 0D"),
                                report("1B 42 03 01 02 00 00 0D"),
                                report("1B 42 21 01 0D"),
                                report("1B 42 25 03 41 09 42"),
                                report("1B 42 29 00"),
                                report("1B 42 80 55 AA 55 AA 0D"),
                            };
    QTest::newRow("serial") << WriteTransport::Serial
                            << QList<QByteArray>{
                                   hex("1B 42 02 01 1F 00 00 0D"),
                                   hex("1B 42 10 01 03 0A 00 0D"),
                                   hex("1B 42 21 01 0D 00 00 00"),
                                   hex("1B 42 25 03 41 09 42 00 00 00"),
                                   hex("1B 42 29 00"),
                                   hex("1B 42 80 55 AA 55 AA 0D"),
                               };
}

void TstSettingsWrite::wholeSequence()
{
    QFETCH(WriteTransport, transport);
    QFETCH(QList<QByteArray>, frames);

    const SettingsWriteSequence sequence(sampleRequest(), transport);
    QCOMPARE(sequence.count(), frames.size());
    for (int step = 0; step < sequence.count(); ++step)
        QCOMPARE(sequence.command(step), quint8(frames[step][transport == WriteTransport::Hid ? 3 : 2]));
    QCOMPARE(allFrames(sequence), frames);
}

void TstSettingsWrite::flagsFromChecks_data()
{
    QTest::addColumn<QList<bool>>("checks"); // RemoveData, PostAmble, PreAmble, AutoReport, Buzzer
    QTest::addColumn<int>("flags");

    QTest::newRow("none") << QList<bool>{false, false, false, false, false} << 0x00;
    QTest::newRow("all") << QList<bool>{true, true, true, true, true} << 0x1F;
    QTest::newRow("remove data") << QList<bool>{true, false, false, false, false} << 0x01;
    QTest::newRow("postamble") << QList<bool>{false, true, false, false, false} << 0x02;
    QTest::newRow("preamble") << QList<bool>{false, false, true, false, false} << 0x04;
    QTest::newRow("auto report") << QList<bool>{false, false, false, true, false} << 0x08;
    QTest::newRow("buzzer") << QList<bool>{false, false, false, false, true} << 0x10;
}

void TstSettingsWrite::flagsFromChecks()
{
    QFETCH(QList<bool>, checks);
    QFETCH(int, flags);

    SettingsWriteRequest request;
    request.flags = SettingsWriteRequest::flagsFromChecks(checks[0], checks[1], checks[2], checks[3],
                                                          checks[4]);
    QCOMPARE(int(request.flags), flags);
    const QByteArray frame = SettingsWriteSequence(request, WriteTransport::Serial).frame(0);
    QCOMPARE(frame, hex("1B 42 02 01 00 00 00 0D").replace(4, 1, QByteArray(1, char(flags))));
}

void TstSettingsWrite::outputTexts_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("length");
    QTest::addColumn<int>("startByte");
    QTest::addColumn<int>("lengthByte");
    QTest::addColumn<QStringList>("traces");

    QTest::newRow("3 and 10") << "3" << "10" << 0x03 << 0x0A
                              << QStringList{"t1num: 3", "t2num: 10"};
    QTest::newRow("not a number") << "abc" << "" << 0x00 << 0x00
                                  << QStringList{"t1num: 0", "t2num: 0"};
    QTest::newRow("above a byte") << "300" << "256" << 0x2C << 0x00
                                  << QStringList{"t1num: 300", "t2num: 256"};
    QTest::newRow("negative") << "-56" << "-1" << 0xC8 << 0xFF
                              << QStringList{"t1num: -56", "t2num: -1"};
    QTest::newRow("hex is not read") << "0x10" << "1e2" << 0x00 << 0x00
                                     << QStringList{"t1num: 0", "t2num: 0"};
}

void TstSettingsWrite::outputTexts()
{
    QFETCH(QString, start);
    QFETCH(QString, length);
    QFETCH(int, startByte);
    QFETCH(int, lengthByte);
    QFETCH(QStringList, traces);

    SettingsWriteRequest request;
    request.outputStart = start;
    request.outputLength = length;
    const QByteArray frame = commandFrame(CmdOutput, 0x01, quint8(startByte), quint8(lengthByte));

    QCOMPARE(SettingsWriteSequence(request, WriteTransport::Hid).frame(1), frame);
    QCOMPARE(capturedTraces, traces);

    capturedTraces.clear();
    QCOMPARE(SettingsWriteSequence(request, WriteTransport::Serial).frame(1), frame);
    traces << QStringLiteral("serial_buf: %1 %2").arg(startByte, 0, 16).arg(lengthByte, 0, 16);
    QCOMPARE(capturedTraces, traces);
}

void TstSettingsWrite::dataBlocks_data()
{
    QTest::addColumn<int>("step"); // serial step; USB is one further on
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("usb");
    QTest::addColumn<QByteArray>("serial");

    QTest::newRow("empty preamble") << 2 << "" << report("1B 42 21 00") << hex("1B 42 21 00");
    QTest::newRow("[CR] preamble") << 2 << "[CR]" << report("1B 42 21 01 0D")
                                   << hex("1B 42 21 01 0D 00 00 00");
    QTest::newRow("plain postamble") << 3 << "AB" << report("1B 42 25 02 41 42")
                                     << hex("1B 42 25 02 41 42");
    QTest::newRow("[NULL] is 0x00") << 4 << "[NULL]" << report("1B 42 29 01 00")
                                    << hex("1B 42 29 01 00 00 00 00 00 00");
    QTest::newRow("names and symbols") << 4 << QString::fromUtf16(u"[ESC]\u20AC[LF]")
                                       << report("1B 42 29 03 1B B0 0A")
                                       << hex("1B 42 29 03 1B B0 0A 00 00 00 00 00 00 00");

    // As many codes as a read shows.
    const QString most(31, QLatin1Char('Z'));
    QTest::newRow("thirty-one codes") << 2 << most
                                      << QByteArray(report("1B 42 21 1F")).replace(5, 31, QByteArray(31, 'Z'))
                                      << hex("1B 42 21 1F") + QByteArray(31, 'Z');
}

void TstSettingsWrite::dataBlocks()
{
    QFETCH(int, step);
    QFETCH(QString, text);
    QFETCH(QByteArray, usb);
    QFETCH(QByteArray, serial);

    SettingsWriteRequest request;
    // The other two strings are long, so that a byte left over from them
    // would show in the frame under test.
    const QString filler(30, QLatin1Char('Q'));
    request.preAmble = request.postAmble = request.removeData = filler;
    QString *const texts[] = {&request.preAmble, &request.postAmble, &request.removeData};
    *texts[step - 2] = text;

    const SettingsWriteSequence hid(request, WriteTransport::Hid);
    const SettingsWriteSequence serialSequence(request, WriteTransport::Serial);
    QVERIFY(hid.overlongTexts().isEmpty());
    QVERIFY(serialSequence.overlongTexts().isEmpty());
    QCOMPARE(allFrames(hid).at(step + 1), usb);
    QCOMPARE(allFrames(serialSequence).at(step), serial);
}

void TstSettingsWrite::tracesAppearOnlyAtTheirStep_data()
{
    QTest::addColumn<WriteTransport>("transport");
    QTest::newRow("usb") << WriteTransport::Hid;
    QTest::newRow("serial") << WriteTransport::Serial;
}

void TstSettingsWrite::tracesAppearOnlyAtTheirStep()
{
    QFETCH(WriteTransport, transport);

    SettingsWriteRequest request;
    request.outputStart = QStringLiteral("7");
    request.outputLength = QStringLiteral("8");
    request.preAmble = QStringLiteral("a[CR]\u00E9");
    request.postAmble = QStringLiteral("xy"); // not traced
    request.removeData = QStringLiteral("z");
    const SettingsWriteSequence sequence(request, transport);

    // Checking the lengths is silent.
    QVERIFY(sequence.overlongTexts().isEmpty());
    QVERIFY(capturedTraces.isEmpty());

    QList<QStringList> perStep;
    for (int step = 0; step < sequence.count(); ++step) {
        capturedTraces.clear();
        sequence.frame(step);
        perStep << capturedTraces;
    }
    const bool serial = transport == WriteTransport::Serial;
    QList<QStringList> expected{{}, {"t1num: 7", "t2num: 8"}};
    if (serial)
        expected[1] << "serial_buf: 7 8";
    else
        expected << QStringList{};
    expected << QStringList{"PreVal=61", "PreVal=e9"} << QStringList{} << QStringList{} << QStringList{};
    QCOMPARE(perStep, expected);
}

void TstSettingsWrite::lengthLimits_data()
{
    QTest::addColumn<WriteTransport>("transport");
    QTest::addColumn<QString>("preAmble");
    QTest::addColumn<QString>("postAmble");
    QTest::addColumn<QString>("removeData");
    QTest::addColumn<QStringList>("refused"); // "field length limit"

    const QString cr16 = QStringLiteral("[CR]").repeated(16);
    const QString cr31 = QStringLiteral("[CR]").repeated(31);
    const QString cr32 = QStringLiteral("[CR]").repeated(32);
    const QString a31(31, QLatin1Char('a'));
    const QString a32(32, QLatin1Char('a'));

    QTest::newRow("usb at the limit") << WriteTransport::Hid << a31 << cr31 << a31 << QStringList{};
    QTest::newRow("usb codes over") << WriteTransport::Hid << a32 << QString() << QString()
                                    << QStringList{"PreAmble Enable 32 31"};
    QTest::newRow("usb names count once") << WriteTransport::Hid << QString() << cr32 << QString()
                                          << QStringList{"PostAmble Enable 32 31"};
    QTest::newRow("usb all three") << WriteTransport::Hid << a32 << cr32 << QString(70, 'r')
                                   << QStringList{"PreAmble Enable 32 31", "PostAmble Enable 32 31",
                                                  "Remove Data Enable 70 31"};
    QTest::newRow("serial at the limit") << WriteTransport::Serial << a31 << a31 << a31
                                         << QStringList{};
    QTest::newRow("serial text over") << WriteTransport::Serial << QString() << QString() << a32
                                      << QStringList{"Remove Data Enable 32 31"};
    // Sixteen codes, as a reader may report them: the padding that would
    // take the frame past 64 bytes is left off, the codes all go.
    QTest::newRow("serial counts key codes") << WriteTransport::Serial << QString() << cr16
                                             << QString() << QStringList{};
    QTest::newRow("serial names count once") << WriteTransport::Serial << cr31 << QString() << QString()
                                             << QStringList{};
}

void TstSettingsWrite::lengthLimits()
{
    QFETCH(WriteTransport, transport);
    QFETCH(QString, preAmble);
    QFETCH(QString, postAmble);
    QFETCH(QString, removeData);
    QFETCH(QStringList, refused);

    SettingsWriteRequest request;
    request.preAmble = preAmble;
    request.postAmble = postAmble;
    request.removeData = removeData;
    const SettingsWriteSequence sequence(request, transport);

    QStringList found;
    for (const OverlongText &text : sequence.overlongTexts())
        found << QStringLiteral("%1 %2 %3").arg(text.field).arg(text.length).arg(text.limit);
    QCOMPARE(found, refused);

    int sends = 0;
    const int sent = sequence.run([&sends](const QByteArray &frame) {
        ++sends;
        // No frame ever outgrows the 64 bytes behind a report's id.
        return frame.size() <= HidReport::Size - 1;
    });
    if (refused.isEmpty()) {
        QCOMPARE(sent, sequence.count());
        QVERIFY(sequence.refusalText().isEmpty());
        return;
    }
    QCOMPARE(sends, 0);
    QCOMPARE(sent, 0);
    QVERIFY(capturedTraces.isEmpty());
    const QString message = sequence.refusalText();
    for (const OverlongText &text : sequence.overlongTexts()) {
        QVERIFY2(message.contains(text.field + QStringLiteral(": %1 key codes").arg(text.length)), qPrintable(message));
        QVERIFY2(message.contains(QStringLiteral("at most %1").arg(text.limit)), qPrintable(message));
    }
    for (int step = 0; step < sequence.count(); ++step) {
        const QByteArray frame = sequence.frame(step);
        QVERIFY(frame.size() <= HidReport::Size);
    }
}

void TstSettingsWrite::runStopsAtTheFirstRefusedFrame()
{
    const SettingsWriteSequence sequence(sampleRequest(), WriteTransport::Hid);
    for (int failing = 0; failing < sequence.count(); ++failing) {
        QList<quint8> attempted;
        capturedTraces.clear();
        const int sent = sequence.run([&](const QByteArray &frame) {
            attempted << quint8(frame[3]);
            return attempted.size() - 1 != failing;
        });
        QCOMPARE(sent, failing);
        QCOMPARE(attempted.size(), failing + 1);
        // Nothing after the failed frame is built, so nothing after it traces.
        const bool outputBuilt = failing >= 1;
        QCOMPARE(capturedTraces.contains(QStringLiteral("t1num: 3")), outputBuilt);
    }
}

void TstSettingsWrite::readerAppliesTheFrames_data()
{
    QTest::addColumn<WriteTransport>("transport");
    QTest::newRow("usb") << WriteTransport::Hid;
    QTest::newRow("serial") << WriteTransport::Serial;
}

void TstSettingsWrite::readerAppliesTheFrames()
{
    QFETCH(WriteTransport, transport);

    SettingsWriteRequest request = sampleRequest();
    request.flags = 0x0A;
    request.outputStart = QStringLiteral("-56");
    request.removeData = QStringLiteral("[STX]12[ETX]");

    ReaderModel model;
    model.state().kbCountry = 4;
    QByteArray serialBytes;
    SettingsWriteSequence(request, transport).run([&](const QByteArray &frame) {
        if (transport == WriteTransport::Hid)
            model.usbWrite(onTheWire(frame, transport));
        else
            serialBytes += frame;
        return true;
    });
    // The serial reader must find the frames in one stream, padding and all.
    if (transport == WriteTransport::Serial)
        QVERIFY(model.serialReceive(serialBytes).isEmpty());

    const ReaderState &state = model.state();
    QCOMPARE(state.flags, quint8(0x0A));
    QCOMPARE(state.outputStart, quint8(0xC8));
    QCOMPARE(state.outputLength, quint8(10));
    QCOMPARE(state.kbCountry, quint8(transport == WriteTransport::Hid ? 2 : 4));
    QCOMPARE(state.preAmble, hex("0D"));
    QCOMPARE(state.postAmble, hex("41 09 42"));
    QCOMPARE(state.removeData, hex("02 31 32 03"));
    QCOMPARE(model.settingsDoneCount(), 1);
}

QTEST_APPLESS_MAIN(TstSettingsWrite)
#include "tst_settingswrite.moc"

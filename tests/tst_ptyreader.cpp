#include "readermodel.h"
#include "readerreplies.h"

#include "link/commandframe.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QtTest>

#if defined(Q_OS_UNIX)
#include "ptyreader.h"
#endif

namespace {

QByteArray settingsReadFrames()
{
    return commandFrame(CmdGetStatus) + commandFrame(CmdFlags) + commandFrame(CmdOutput)
        + commandFrame(CmdGetPreAmble) + commandFrame(CmdGetPostAmble) + commandFrame(CmdGetRemoveData);
}

} // namespace

class TestPtyReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
#if defined(Q_OS_UNIX)
    void settingsReadThroughPort();
    void bytesPassUntranslated_data();
    void bytesPassUntranslated();
    void writesReachTheModel();
    void splitReplyArrivesInTwoPolls();
    void portCanBeReopened();
    void farEndGone();

private:
    // Opens the slave path the way the program does and gathers what arrives.
    bool openPort(QSerialPort &port, const PtyReader &bridge, QByteArray &arrived);
#endif
};

void TestPtyReader::initTestCase()
{
#if !defined(Q_OS_UNIX)
    QSKIP("The pseudo-terminal reader exists on POSIX systems only");
#endif
}

#if defined(Q_OS_UNIX)

bool TestPtyReader::openPort(QSerialPort &port, const PtyReader &bridge, QByteArray &arrived)
{
    port.setPortName(bridge.portName());
    if (!port.open(QIODevice::ReadWrite))
        return false;
    port.setBaudRate(QSerialPort::Baud9600);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    connect(&port, &QSerialPort::readyRead, &port, [&port, &arrived] { arrived += port.readAll(); });
    return true;
}

void TestPtyReader::settingsReadThroughPort()
{
    ReaderModel model;
    model.state().preAmble = QByteArray::fromHex("0D0A");
    PtyReader bridge(&model);
    QVERIFY2(bridge.isOpen(), qPrintable(bridge.errorString()));
    QSerialPort port;
    QByteArray arrived;
    QVERIFY2(openPort(port, bridge, arrived), qPrintable(port.errorString()));

    port.write(settingsReadFrames());
    const QByteArray run = ReaderReplies::serialSettingsRun(model.state());
    QTRY_COMPARE(arrived.toHex(' '), run.toHex(' '));
    QCOMPARE(bridge.received(), settingsReadFrames());
    QCOMPARE(bridge.sent(), run);
}

void TestPtyReader::bytesPassUntranslated_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("CR LF") << QByteArray("\r\n");
    QTest::newRow("control bytes") << QByteArray::fromHex("000D0A7F03041A1B11130A0D");
    QTest::newRow("token line") << QByteArray("01000017A5C3E2B9\r\n");
}

void TestPtyReader::bytesPassUntranslated()
{
    QFETCH(QByteArray, bytes);
    PtyReader bridge;
    QSerialPort port;
    QByteArray arrived;
    QVERIFY(openPort(port, bridge, arrived));

    bridge.inject(bytes);
    QTRY_COMPARE(arrived.toHex(' '), bytes.toHex(' '));
    port.write(bytes);
    QTRY_COMPARE(bridge.received().toHex(' '), bytes.toHex(' '));
    QTest::qWait(50);
    QCOMPARE(arrived.size(), bytes.size()); // nothing echoed back
}

void TestPtyReader::writesReachTheModel()
{
    ReaderModel model;
    PtyReader bridge(&model);
    QSerialPort port;
    QByteArray arrived;
    QVERIFY(openPort(port, bridge, arrived));

    // A settings write as the program sends it: [CR] as preamble, with its
    // zero padding, then an empty postamble.
    const QByteArray frames = commandFrame(CmdFlags, 0x01, 0x1F) + commandFrame(CmdOutput, 0x01, 3, 10)
        + QByteArray::fromHex("1B4221010D000000") + QByteArray::fromHex("1B422500") + guardedFrame(CmdSettingsDone);
    port.write(frames);
    QTRY_COMPARE(model.settingsDoneCount(), 1);
    QCOMPARE(model.state().flags, quint8(0x1F));
    QCOMPARE(model.state().outputStart, quint8(3));
    QCOMPARE(model.state().outputLength, quint8(10));
    QCOMPARE(model.state().preAmble, QByteArray("\r"));
    QCOMPARE(model.state().postAmble, QByteArray());
    QCOMPARE(bridge.received(), frames);
    QCOMPARE(arrived, QByteArray());

    bridge.inject(model.tokenOutput());
    QTRY_COMPARE(arrived, model.state().tokenId + "\r\n");
}

void TestPtyReader::splitReplyArrivesInTwoPolls()
{
    ReaderModel model;
    model.faults().splitReply = true;
    PtyReader bridge(&model);
    bridge.setSplitPause(250);
    QSerialPort port;
    QByteArray arrived;
    QVERIFY(openPort(port, bridge, arrived));

    port.write(settingsReadFrames());
    const QByteArray run = ReaderReplies::serialSettingsRun(model.state());
    QTRY_VERIFY(!arrived.isEmpty());
    QElapsedTimer sinceFirst;
    sinceFirst.start();
    QCOMPARE(arrived, run.left(run.size() / 2));
    QTRY_COMPARE(arrived, run);
    QVERIFY2(sinceFirst.elapsed() >= 200, qPrintable(QString::number(sinceFirst.elapsed())));
}

void TestPtyReader::portCanBeReopened()
{
    ReaderModel model;
    PtyReader bridge(&model);
    for (int round = 0; round < 2; ++round) {
        QSerialPort port;
        QByteArray arrived;
        QVERIFY2(openPort(port, bridge, arrived), qPrintable(port.errorString()));
        port.write(commandFrame(CmdGetStatus));
        QTRY_COMPARE(arrived, QByteArray("1BT V2.0"));
        port.close();
    }
    QCOMPARE(model.framesReceived().size(), 2);
}

void TestPtyReader::farEndGone()
{
    ReaderModel model;
    PtyReader bridge(&model);
    QSerialPort port;
    QByteArray arrived;
    QVERIFY(openPort(port, bridge, arrived));
    const QString path = bridge.portName();

    bridge.closeMaster();
    QVERIFY(!bridge.isOpen());
    port.write(commandFrame(CmdGetStatus));
    QTRY_VERIFY(port.error() != QSerialPort::NoError);
    QCOMPARE(arrived, QByteArray());
    QCOMPARE(model.framesReceived().size(), 0);

    QSerialPort again;
    again.setPortName(path);
    QVERIFY(!again.open(QIODevice::ReadWrite));
}

#endif // Q_OS_UNIX

QTEST_GUILESS_MAIN(TestPtyReader)
#include "tst_ptyreader.moc"

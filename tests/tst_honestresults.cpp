// What the window's boxes promise: a read says success only once the form
// shows what the reader reported, a write only once the reader holds what
// was sent, and a read followed by an unchanged write changes no reader.
#include "app/mainwindow.h"

#include "support/fakehid.h"
#include "support/hex.h"
#include "support/readertestcase.h"
#include "support/windowdriver.h"

#include "ptyreader.h"
#include "readermodel.h"
#include "readerreplies.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

class HonestResultsTest : public ReaderTestCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void readSaysSuccessOnlyWhenShown_data();
    void readSaysSuccessOnlyWhenShown();
    void unchangedWriteLeavesTheReaderAsItWas_data();
    void unchangedWriteLeavesTheReaderAsItWas();
    void writeIsCheckedByReadingBack_data();
    void writeIsCheckedByReadingBack();
};

void HonestResultsTest::init()
{
    startCase();
}

void HonestResultsTest::cleanup()
{
    endCase();
}

void HonestResultsTest::readSaysSuccessOnlyWhenShown_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("label"); // after the read

    const QString read = QStringLiteral("F/W Version: 1BT V2.5");
    const QString before = QStringLiteral("F/W Version: 1BT V2.0"); // the connect's read
    QTest::newRow("serial, reply in two parts") << true << "split" << ReadOk << read;
    QTest::newRow("serial, token output first") << true << "token" << ReadOk << read;
    QTest::newRow("serial, silent reader") << true << "silent" << StatusFail << before;
    QTest::newRow("usb, checksums off") << false << "checksum" << PreAmbleFail << read;
}

void HonestResultsTest::readSaysSuccessOnlyWhenShown()
{
    QFETCH(bool, serial);
    QFETCH(QString, fault);
    QFETCH(QString, box);
    QFETCH(QString, label);

    MainWindow w;
    connectTo(w, serial);
    loadTypicalSettings(model->state());
    widget<QLineEdit>(w, "PreAmbleEdit")->setText(QStringLiteral("old"));

    model->faults().splitReply = fault == QLatin1String("split");
    model->faults().silent = fault == QLatin1String("silent");
    model->faults().badChecksum = fault == QLatin1String("checksum");
    if (fault == QLatin1String("token"))
        pty->inject(model->tokenOutput());
    QString labelInBox;
    boxes->onBox = [&](const SeenBox &) { labelInBox = widget<QLabel>(w, "FWLbl")->text(); };
    click(w, "GetIBTStatusBut");

    QCOMPARE(boxes->texts(), (QStringList{ReplaceWithRead, box}));
    QCOMPARE(labelInBox, label);
    QCOMPARE(widget<QLineEdit>(w, "PreAmbleEdit")->text(),
             box == ReadOk ? QStringLiteral("[CR][LF]") : QStringLiteral("old"));
}

void HonestResultsTest::unchangedWriteLeavesTheReaderAsItWas_data()
{
    addTransportRows();
}

void HonestResultsTest::unchangedWriteLeavesTheReaderAsItWas()
{
    QFETCH(bool, serial);

    MainWindow w;
    connectTo(w, serial);
    // Every key code in every text field, 31 to a field (as many as a read
    // shows): three rounds cover 0x00..0xFF.
    for (int first = 0; first < 256; first += 3 * 31) {
        ReaderState &state = model->state();
        QByteArray *const fields[] = {&state.preAmble, &state.postAmble, &state.removeData};
        for (int f = 0; f < 3; ++f) {
            fields[f]->clear();
            for (int c = first + f * 31; c < first + (f + 1) * 31; ++c)
                fields[f]->append(char(c % 256));
        }
        const ReaderState before = state;

        click(w, "GetIBTStatusBut");
        click(w, "SetIBTStatusBut");
        QCOMPARE(boxes->texts(), (QStringList{ReadOk, WriteOk}));
        boxes->boxes.clear();
        QCOMPARE(state.preAmble.toHex(' '), before.preAmble.toHex(' '));
        QCOMPARE(state.postAmble.toHex(' '), before.postAmble.toHex(' '));
        QCOMPARE(state.removeData.toHex(' '), before.removeData.toHex(' '));
        QCOMPARE(state.flags, before.flags);
        QCOMPARE(state.outputStart, before.outputStart);
        QCOMPARE(state.kbCountry, before.kbCountry);
    }
}

void HonestResultsTest::writeIsCheckedByReadingBack_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("box"); // its lines

    const QStringList lost{QStringLiteral("The reader does not hold what was sent:"),
                           QStringLiteral("PostAmble: sent \"[CR]\" (0D), the reader holds \"AB\" (41 42)")};
    const QStringList silent{QStringLiteral("The settings were sent, but the reader did not confirm them: it did "
                                            "not answer when they were read back.")};
    for (const bool serial : {false, true}) {
        const char *side = serial ? "serial" : "usb";
        QTest::addRow("%s, taken", side) << serial << "" << QStringList{WriteOk};
        QTest::addRow("%s, postamble lost", side) << serial << "lost" << lost;
        QTest::addRow("%s, no answer to the read-back", side) << serial << "silent" << silent;
    }
}

void HonestResultsTest::writeIsCheckedByReadingBack()
{
    QFETCH(bool, serial);
    QFETCH(QString, fault);
    QFETCH(QStringList, box);

    model->state().postAmble = "AB";
    MainWindow w;
    connectTo(w, serial);
    widget<QLineEdit>(w, "PostAmbleEdit")->setText(QStringLiteral("[CR]"));
    if (fault == QLatin1String("lost"))
        model->faults().ignoresWriteOf = CmdSetPostAmble;
    model->faults().silent = fault == QLatin1String("silent");
    click(w, "SetIBTStatusBut");

    // A reader that does not answer cannot have its settings kept first:
    // the user is asked (and the catcher says Yes).
    const bool silent = fault == QLatin1String("silent");
    QCOMPARE(boxes->boxes.size(), silent ? 2 : 1);
    if (silent)
        QVERIFY2(boxes->boxes.first().text.endsWith(QLatin1String("Write anyway?")), qPrintable(boxes->texts().join('|')));
    QCOMPARE(boxes->boxes.last().title, QStringLiteral("Setting iButton"));
    QCOMPARE(boxes->boxes.last().text.split(QLatin1Char('\n')), box);
    QCOMPARE(model->settingsDoneCount(), 1);
}

QTEST_MAIN(HonestResultsTest)
#include "tst_honestresults.moc"

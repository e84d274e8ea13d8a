#include "readertestcase.h"

#include "support/fakehid.h"
#include "support/windowdriver.h"

#include "app/mainwindow.h"
#include "link/readerlink.h"

#include "ptyreader.h"

#include <QSettings>
#include <QTest>

ReaderTestCase::ReaderTestCase() = default;
ReaderTestCase::~ReaderTestCase() = default;

void ReaderTestCase::startCase(Boxes catchBoxes)
{
    // Nothing remembered from an earlier case's connection.
    QSettings(QStringLiteral("Tavrin"), QStringLiteral("Tavrin")).clear();
    FakeHid::reset();
    model = std::make_unique<ReaderModel>();
    if (catchBoxes == Boxes::Caught)
        boxes = std::make_unique<BoxCatcher>();
}

void ReaderTestCase::openPty(Answers answers)
{
    pty = std::make_unique<PtyReader>(answers == Answers::FromTheModel ? model.get() : nullptr);
    QVERIFY2(pty->isOpen(), qPrintable(pty->errorString()));
}

void ReaderTestCase::endCase()
{
    // A sink a case set may point into that case's stack.
    if (model)
        model->setLogSink({});
    QStringList violations = FakeHid::violations();
    // Every window and link of the case is gone by now, and with them every
    // handle they opened.
    if (const int open = FakeHid::openHandleCount(); open > 0)
        violations << QStringLiteral("%1 HID handles left open").arg(open);
    FakeHid::reset();
    boxes.reset();
    pty.reset();
    model.reset();
    QVERIFY2(violations.isEmpty(), qPrintable(violations.join('\n')));
}

void ReaderTestCase::connectAndShow(MainWindow &w, bool serial)
{
    if (serial)
        connectOverSerial(w, *pty);
    else
        connectOverUsb(w);
    QCOMPARE(w.link().transport(), serial ? ReaderLink::Transport::Serial : ReaderLink::Transport::Hid);
    w.show();
    // Whatever the connect's own read sent has arrived before we look.
    QTest::qWait(150);
    pty->clearRecords();
    model->clearLog();
    boxes->boxes.clear();
}

void ReaderTestCase::connectTo(MainWindow &w, bool serial)
{
    if (serial) {
        openPty();
        QVERIFY(connectOverSerial(w, *pty));
    } else {
        FakeHid::attach(model.get());
        QVERIFY(connectOverUsb(w));
    }
    if (boxes)
        boxes->boxes.clear();
}

void loadTypicalSettings(ReaderState &s)
{
    s.firmware = "1BT V2.5";
    s.flags = 0x1B;
    s.outputStart = 0xC8;
    s.outputLength = 16;
    s.kbCountry = 3;
    s.preAmble = QByteArray::fromHex("0D0A");
    s.postAmble = "AB";
    s.removeData = QByteArray::fromHex("B0");
}

void addTransportRows()
{
    QTest::addColumn<bool>("serial");
    QTest::newRow("usb") << false;
    QTest::newRow("serial") << true;
}

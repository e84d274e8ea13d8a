// The firmware update: the ISP command on each transport, releasing the
// reader, and running the writer program from the working directory.
#include "app/busyindicator.h"
#include "app/mainwindow.h"
#include "link/platform.h"
#include "link/readerlink.h"

#include "support/fakehid.h"
#include "support/readertestcase.h"
#include "support/tracecapture.h"
#include "support/windowdriver.h"

#include "ptyreader.h"
#include "readermodel.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProgressDialog>
#include <QPushButton>
#include <QScopeGuard>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

const QByteArray ispFrame = QByteArray::fromHex("1B42FF55AA55AA0D");
const QString ispBoxText =
    QStringLiteral("Can't send ISP mode command to device, please check your iButton device!!");
const QString writeFailed = QStringLiteral("Unable to write()\n");
const QString refusedError = QStringLiteral("Error: Connection timed out\n");
const QString askFirst =
    QStringLiteral("The reader will be put into its programming mode and ./tolmarwriter run. Go on?");
const QString endedWell = QStringLiteral("The firmware writer ended with exit status 0.");

// What the window and the reader looked like while the writer ran, sampled
// from the event loop the update keeps running.
struct DuringRun
{
    bool busyShown = false;
    bool connected = true;
    int openHandles = -1;
    bool serialPortOpen = true;
    bool windowVisible = false;
};

} // namespace

class FwUpdateTest : public ReaderTestCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void sendsIspAndRunsWriterAfterReleasingReader_data();
    void sendsIspAndRunsWriterAfterReleasingReader();
    void refusedIspWritesAreRetried_data();
    void refusedIspWritesAreRetried();
    void writerThatCannotStartIsReported_data();
    void writerThatCannotStartIsReported();
    void writerEndingBadly_data();
    void writerEndingBadly();
    void noToTheQuestionLeavesTheReader();
    void hangingWriterCanBeStopped();

private:
    // A writer that records each run (argument count, marker) in runs.log.
    void installWriter(const QByteArray &body, bool executable = true);
    QStringList runs() const;
    // Samples DuringRun whenever a modal busy indicator is up.
    void watch(MainWindow &w, DuringRun &seen, QTimer &timer);

    std::unique_ptr<QTemporaryDir> workDir;
    QString previousDir;
};

void FwUpdateTest::init()
{
    startCase();
    workDir = std::make_unique<QTemporaryDir>();
    QVERIFY(workDir->isValid());
    previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(workDir->path()));
    openPty();
}

void FwUpdateTest::cleanup()
{
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    endCase();
    QDir::setCurrent(previousDir);
    workDir.reset();
}

void FwUpdateTest::installWriter(const QByteArray &body, bool executable)
{
    QFile writer(QDir::current().filePath(QStringLiteral("tolmarwriter")));
    QVERIFY(writer.open(QIODevice::WriteOnly));
    writer.write("#!/bin/sh\necho \"args=$# ran\" >> runs.log\n" + body);
    writer.close();
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        permissions |= QFile::ExeOwner;
    QVERIFY(writer.setPermissions(permissions));
}

QStringList FwUpdateTest::runs() const
{
    QFile log(QDir::current().filePath(QStringLiteral("runs.log")));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void FwUpdateTest::watch(MainWindow &w, DuringRun &seen, QTimer &timer)
{
    connect(&timer, &QTimer::timeout, &w, [&w, &seen] {
        auto *busy = qobject_cast<QProgressDialog *>(QApplication::activeModalWidget());
        if (!busy || !busy->isVisible())
            return;
        seen.busyShown = true;
        seen.connected = w.link().isOpen();
        seen.openHandles = FakeHid::openHandleCount();
        seen.serialPortOpen = connectedOverSerial(w);
        seen.windowVisible = w.isVisible();
    });
    timer.start(20);
}

void FwUpdateTest::sendsIspAndRunsWriterAfterReleasingReader_data()
{
    addTransportRows();
}

void FwUpdateTest::sendsIspAndRunsWriterAfterReleasingReader()
{
#ifndef Q_OS_UNIX
    QSKIP("the test writer is a shell script");
#endif
    QFETCH(bool, serial);
    installWriter("sleep 0.4\n");
    FakeHid::attach(model.get());
    MainWindow w;
    connectAndShow(w, serial);
    const int writesBefore = int(FakeHid::writtenReports().size());

    DuringRun seen;
    QTimer sampler;
    watch(w, seen, sampler);
    TraceCapture traces;
    QElapsedTimer clock;
    clock.start();
    click(w, "FWUpdateBut");
    const qint64 took = clock.elapsed();

    if (serial) {
        QTRY_COMPARE(pty->received(), ispFrame);
        QCOMPARE(int(FakeHid::writtenReports().size()), writesBefore);
        QCOMPARE(traces.lines(), (QStringList{QStringLiteral("serial_buf: aa 55"),
                                              QStringLiteral("Pasq_Device disconnect"),
                                              QStringLiteral("FWUpdate success")}));
    } else {
        const QList<QByteArray> written = FakeHid::writtenReports().mid(writesBefore);
        QCOMPARE(written, QList<QByteArray>{QByteArray(1, '\0') + ispFrame + QByteArray(56, '\0')});
        QCOMPARE(traces.lines(), (QStringList{QStringLiteral("Orvo_Device disconnect"),
                                              QStringLiteral("FWUpdate success")}));
    }
    QCOMPARE(model->ispModeCount(), 1);

    QCOMPARE(runs(), QStringList{QStringLiteral("args=0 ran")});
    QVERIFY2(took >= 1000 + 400, qPrintable(QString::number(took)));
    QVERIFY(seen.busyShown);
    QVERIFY(seen.windowVisible);
    QVERIFY(!seen.connected);
    QCOMPARE(seen.openHandles, 0);
    QVERIFY(!seen.serialPortOpen);

    QCOMPARE(boxes->boxes.size(), 2);
    QCOMPARE(boxes->boxes.first().icon, QMessageBox::Question);
    QCOMPARE(boxes->boxes.first().text, askFirst);
    QCOMPARE(boxes->boxes.first().buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(boxes->boxes.last().title, QStringLiteral("FW Update"));
    QVERIFY2(boxes->boxes.last().text.startsWith(endedWell), qPrintable(boxes->boxes.last().text));
    QVERIFY(w.isVisible());
    QVERIFY(!w.link().isOpen() && !connectedOverUsb(w) && !connectedOverSerial(w));
    QCOMPARE(widget<QPushButton>(w, "ConnectBut")->text(), QStringLiteral("Connect Device"));
    QVERIFY(!widget(w, "tabWidget")->isEnabled());
}

void FwUpdateTest::refusedIspWritesAreRetried_data()
{
    QTest::addColumn<int>("refused");
    QTest::newRow("two refused, third taken") << 2;
    QTest::newRow("all three refused") << 3;
}

void FwUpdateTest::refusedIspWritesAreRetried()
{
#ifndef Q_OS_UNIX
    QSKIP("the test writer is a shell script");
#endif
    QFETCH(int, refused);
    installWriter(QByteArray());
    FakeHid::attach(model.get());
    MainWindow w;
    connectAndShow(w, false);
    const int opensBefore = FakeHid::openCount();
    const int attemptsBefore = int(FakeHid::attemptedWrites().size());

    FakeHid::refuseWrites(refused);
    TraceCapture traces;
    QElapsedTimer clock;
    clock.start();
    click(w, "FWUpdateBut");

    QStringList failures;
    for (int i = 0; i < std::min(refused, 3); ++i)
        failures << writeFailed << refusedError;
    const QList<QByteArray> attempts = FakeHid::attemptedWrites().mid(attemptsBefore);
    QCOMPARE(attempts.size(), std::min(refused + 1, 3));
    for (const QByteArray &report : attempts)
        QCOMPARE(report, QByteArray(1, '\0') + ispFrame + QByteArray(56, '\0'));

    if (refused < 3) {
        const QStringList after{QStringLiteral("Orvo_Device disconnect"), QStringLiteral("FWUpdate success")};
        QCOMPARE(traces.lines(), failures + after);
        QCOMPARE(model->ispModeCount(), 1);
        QCOMPARE(runs().size(), 1);
        QCOMPARE(boxes->boxes.size(), 2);
        QVERIFY(!w.link().isOpen());
        return;
    }

    QCOMPARE(traces.lines(), failures);
    QCOMPARE(boxes->texts().value(0), askFirst);
    QCOMPARE(boxes->boxes.size(), 2);
    const SeenBox box = boxes->boxes.last();
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.title, QStringLiteral("ISP Mode"));
    QCOMPARE(box.text, ispBoxText);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Yes));
    QVERIFY(!box.hasParent);
    QVERIFY2(clock.elapsed() < 1000, "no pause before a writer that is not started");
    QVERIFY(runs().isEmpty());
    QCOMPARE(model->ispModeCount(), 0);
    QVERIFY(w.link().isOpen() && connectedOverUsb(w));
    QCOMPARE(FakeHid::openCount(), opensBefore);
    QCOMPARE(FakeHid::openHandleCount(), 1);
    QCOMPARE(widget<QPushButton>(w, "ConnectBut")->text(), QStringLiteral("Disconnect"));
}

void FwUpdateTest::writerThatCannotStartIsReported_data()
{
    QTest::addColumn<bool>("present");
    QTest::newRow("missing") << false;
    QTest::newRow("not executable") << true;
}

void FwUpdateTest::writerThatCannotStartIsReported()
{
#ifndef Q_OS_UNIX
    QSKIP("the test writer is a shell script");
#endif
    QFETCH(bool, present);
    if (present)
        installWriter(QByteArray(), false);
    FakeHid::attach(model.get());
    MainWindow w;
    connectAndShow(w, false);

    const int writesBefore = int(FakeHid::attemptedWrites().size());
    TraceCapture traces;
    click(w, "FWUpdateBut");

    // Looked for first: the reader is not told to wait for a writer that
    // cannot come.
    QCOMPARE(model->ispModeCount(), 0);
    QCOMPARE(int(FakeHid::attemptedWrites().size()), writesBefore);
    QCOMPARE(traces.lines(), QStringList{QStringLiteral("FWUpdate fail")});
    QVERIFY(runs().isEmpty());
    QCOMPARE(boxes->boxes.size(), 1);
    const SeenBox box = boxes->boxes.first();
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Yes));
    QVERIFY(!box.hasParent);
    QVERIFY2(box.text.contains(QStringLiteral("could not be started")), qPrintable(box.text));
    const QString where = QDir::toNativeSeparators(QDir(workDir->path()).filePath(QStringLiteral("tolmarwriter")));
    QVERIFY2(box.text.contains(where), qPrintable(box.text));

    QVERIFY2(box.text.contains(present ? QStringLiteral("(Not executable)") : QStringLiteral("(No such file)")),
             qPrintable(box.text));

    QVERIFY(w.isVisible());
    QVERIFY(connectedOverUsb(w));
    QCOMPARE(FakeHid::openHandleCount(), 1);
    QCOMPARE(widget<QPushButton>(w, "ConnectBut")->text(), QStringLiteral("Disconnect"));
}

void FwUpdateTest::writerEndingBadly_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("trace");
    QTest::addColumn<QString>("told"); // the end box begins so
    QTest::newRow("exit code 3") << QByteArray("exit 3\n") << "FWUpdate fail"
                                 << "The firmware writer ended with exit status 3.";
    QTest::newRow("crash") << QByteArray("kill -SEGV $$\n") << "FWUpdate fail"
                           << "The firmware writer was killed or crashed";
    // Nobody feeds it: it reads the end of its input and goes on.
    QTest::newRow("reads its input") << QByteArray("read answer\nexit 0\n") << "FWUpdate success" << endedWell;
}

void FwUpdateTest::writerEndingBadly()
{
#ifndef Q_OS_UNIX
    QSKIP("the test writer is a shell script");
#endif
    QFETCH(QByteArray, body);
    QFETCH(QString, trace);
    QFETCH(QString, told);
    installWriter(body);
    FakeHid::attach(model.get());
    MainWindow w;
    connectAndShow(w, false);

    TraceCapture traces;
    QElapsedTimer clock;
    clock.start();
    click(w, "FWUpdateBut");
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));

    QCOMPARE(runs().size(), 1);
    QCOMPARE(traces.lines(), (QStringList{QStringLiteral("Orvo_Device disconnect"), trace}));
    QCOMPARE(boxes->boxes.size(), 2);
    QCOMPARE(boxes->boxes.last().title, QStringLiteral("FW Update"));
    QVERIFY2(boxes->boxes.last().text.startsWith(told), qPrintable(boxes->boxes.last().text));
    QVERIFY(!w.link().isOpen());
}

void FwUpdateTest::noToTheQuestionLeavesTheReader()
{
    installWriter(QByteArray());
    FakeHid::attach(model.get());
    MainWindow w;
    connectAndShow(w, false);
    const int attemptsBefore = int(FakeHid::attemptedWrites().size());
    boxes->answer = QMessageBox::No;
    click(w, "FWUpdateBut");
    QCOMPARE(boxes->texts(), QStringList{askFirst});
    QCOMPARE(int(FakeHid::attemptedWrites().size()), attemptsBefore);
    QVERIFY(runs().isEmpty() && connectedOverUsb(w));
}

void FwUpdateTest::hangingWriterCanBeStopped()
{
#ifndef Q_OS_UNIX
    QSKIP("the test writer is a shell script");
#endif
    installWriter("exec sleep 60\n");
    FakeHid::attach(model.get());
    MainWindow w;
    connectAndShow(w, false);
    const auto delay = BusyIndicator::stopOfferDelay();
    BusyIndicator::setStopOfferDelay(std::chrono::milliseconds(300));
    const auto restore = qScopeGuard([delay] { BusyIndicator::setStopOfferDelay(delay); });

    // The button comes only after the delay; the user then clicks it.
    bool seenWithoutButton = false;
    QTimer clicker;
    connect(&clicker, &QTimer::timeout, &w, [&] {
        auto *busy = qobject_cast<QProgressDialog *>(QApplication::activeModalWidget());
        auto *stop = busy ? busy->findChild<QPushButton *>(QStringLiteral("stopWriterButton")) : nullptr;
        seenWithoutButton |= busy && !stop;
        if (stop && stop->isVisible())
            stop->click();
    });
    clicker.start(50);
    click(w, "FWUpdateBut");
    QVERIFY(seenWithoutButton);
    QCOMPARE(boxes->boxes.size(), 3);
    QVERIFY2(boxes->boxes.at(1).text.contains(QStringLiteral("interrupts the firmware update")),
             qPrintable(boxes->boxes.at(1).text));
    QVERIFY2(boxes->boxes.at(2).text.startsWith(QStringLiteral("The firmware writer was stopped")),
             qPrintable(boxes->boxes.at(2).text));
}

QTEST_MAIN(FwUpdateTest)
#include "tst_fwupdate.moc"

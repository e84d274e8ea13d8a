#include "faultcheck.h"

#include "support/fakehid.h"
#include "support/windowdriver.h"

#include "app/mainwindow.h"
#include "link/commandframe.h"
#include "link/readerlink.h"

#include <QPushButton>
#include <QSerialPort>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

namespace FaultCheck {

namespace {

// The controls SetIButtonControlsEnabled switches. The three edits that
// follow their enable boxes once a read has shown the flags are left out.
const char *const followTheConnection[] = {
    "PreAmbleChk",      "PostAmbleChk",    "RemoveDataChk",  "AutoReportChk",
    "BuzzerEnableChk",  "IBTOutStartEdit", "IBTOutLengthEdit", "GetIBTStatusBut",
    "SetIBTStatusBut",  "tabWidget",       "ScannerEdit",    "TrigBut",
    "ChangeModeBut",
};
const char *const followTheFlags[] = {"PreAmbleEdit", "PostAmbleEdit", "RemoveDataEdit"};

} // namespace

qint64 cpuMicroseconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto us = [](const timeval &t) { return qint64(t.tv_sec) * 1000000 + t.tv_usec; };
    return us(usage.ru_utime) + us(usage.ru_stime);
}

qint64 idleCpuMicroseconds(int ms)
{
    const qint64 before = cpuMicroseconds();
    QTest::qWait(ms);
    return cpuMicroseconds() - before;
}

QStringList stateProblems(const MainWindow &w)
{
    QStringList problems;
    const auto expect = [&problems](bool ok, const QString &what) {
        if (!ok)
            problems << what;
    };
    const ReaderLink &link = w.link();

    expect(!(link.hidOpen && link.serialOpen), QStringLiteral("both transports open"));
    expect(link.connected == (link.hidOpen || link.serialOpen),
           QStringLiteral("connected=%1 but hidOpen=%2 serialOpen=%3")
               .arg(link.connected).arg(link.hidOpen).arg(link.serialOpen));

    expect(link.hidOpen == (link.hidHandle != nullptr),
           QStringLiteral("hidOpen=%1 with%2 a handle").arg(link.hidOpen).arg(link.hidHandle ? "" : "out"));
    const int handles = FakeHid::openHandleCount();
    expect(handles == (link.hidOpen ? 1 : 0), QStringLiteral("%1 HID handles open").arg(handles));

    const bool portOpen = link.serialPort && link.serialPort->isOpen();
    expect(link.serialOpen == portOpen,
           QStringLiteral("serialOpen=%1 but the port is %2").arg(link.serialOpen).arg(portOpen ? "open" : "closed"));
    expect((link.pollTimer != nullptr) == link.serialOpen, QStringLiteral("poll timer without a port, or none"));
    if (link.pollTimer)
        expect(link.pollTimer->isActive(), QStringLiteral("poll timer stopped"));
    // A timer stopped on disconnect goes with the deferred deletes.
    const int timers = int(liveTimers(w).size());
    expect(timers == (link.serialOpen ? 1 : 0), QStringLiteral("%1 timers alive").arg(timers));

    const auto *button = w.findChild<QPushButton *>(QStringLiteral("ConnectBut"));
    const QString text = button ? button->text() : QString();
    if (link.connected)
        expect(text == QLatin1String("Disconnect"), QStringLiteral("connected, button says \"%1\"").arg(text));
    else
        expect(text == QLatin1String("Connect Device") || text == QLatin1String("Reconnect"),
               QStringLiteral("not connected, button says \"%1\"").arg(text));

    for (const char *name : followTheConnection) {
        const auto *widget = w.findChild<QWidget *>(QString::fromLatin1(name));
        expect(widget && widget->isEnabled() == link.connected,
               QStringLiteral("%1 %2 while %3").arg(QLatin1String(name),
                                                    widget && widget->isEnabled() ? "enabled" : "disabled",
                                                    link.connected ? "connected" : "not connected"));
    }
    if (!link.connected) {
        for (const char *name : followTheFlags) {
            const auto *widget = w.findChild<QWidget *>(QString::fromLatin1(name));
            expect(widget && !widget->isEnabled(), QStringLiteral("%1 enabled while not connected").arg(name));
        }
    }
    return problems;
}

QString afterFault(const MainWindow &w)
{
    QStringList problems;
    const qint64 cpu = idleCpuMicroseconds(300);
    if (cpu >= IdleCpuLimitUs)
        problems << QStringLiteral("%1 us of CPU in 300 ms idle").arg(cpu);
    problems << stateProblems(w);
    return problems.join(QStringLiteral("; "));
}

QByteArrayList nonReadFrames(const QByteArrayList &frames)
{
    QByteArrayList out;
    for (const QByteArray &frame : frames) {
        const quint8 code = frame.size() > 2 ? quint8(frame[2]) : 0xFF;
        const bool zeroParameters = frame.size() == Frame::Length && frame.mid(3, 4) == QByteArray(4, '\0');
        const bool read = zeroParameters
            && (code == CmdGetStatus || code == CmdGetPreAmble || code == CmdGetPostAmble
                || code == CmdGetRemoveData || code == CmdFlags || code == CmdOutput);
        if (!read)
            out << frame;
    }
    return out;
}

QString codesOf(const QByteArrayList &frames)
{
    QStringList codes;
    for (const QByteArray &frame : frames)
        codes << QString::fromLatin1(frame.mid(2, 1).toHex().toUpper());
    return codes.join(QLatin1Char(' '));
}

} // namespace FaultCheck

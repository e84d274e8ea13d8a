#include "faultcheck.h"

#include "support/fakehid.h"
#include "support/windowdriver.h"

#include "app/mainwindow.h"
#include "link/commandframe.h"
#include "link/readerlink.h"

#include <QPushButton>
#include <QTest>

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
    const bool connected = link.isOpen();

    const int handles = FakeHid::openHandleCount();
    const bool usb = link.transport() == ReaderLink::Transport::Hid;
    expect(handles == (usb ? 1 : 0), QStringLiteral("%1 HID handles open, connected over USB: %2").arg(handles).arg(usb));
    const int timers = int(activeTimers(w).size());
    const bool serial = link.transport() == ReaderLink::Transport::Serial;
    expect(timers == (serial ? 1 : 0), QStringLiteral("%1 timers running, connected over serial: %2").arg(timers).arg(serial));

    const auto *button = w.findChild<QPushButton *>(QStringLiteral("ConnectBut"));
    const QString text = button ? button->text() : QString();
    if (connected)
        expect(text == QLatin1String("Disconnect"), QStringLiteral("connected, button says \"%1\"").arg(text));
    else
        expect(text == QLatin1String("Connect Device") || text == QLatin1String("Reconnect"),
               QStringLiteral("not connected, button says \"%1\"").arg(text));

    for (const char *name : followTheConnection) {
        const auto *widget = w.findChild<QWidget *>(QString::fromLatin1(name));
        expect(widget && widget->isEnabled() == connected,
               QStringLiteral("%1 %2 while %3").arg(QLatin1String(name),
                                                    widget && widget->isEnabled() ? "enabled" : "disabled",
                                                    connected ? "connected" : "not connected"));
    }
    if (!connected) {
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

#pragma once

#include <QByteArrayList>
#include <QStringList>
#include <QTest>

class MainWindow;

// What the fault tests ask of the window once a fault has passed: that it
// does not spin, that it shows the connection as it really is, and that it
// sent the reader nothing but what the user asked for.
namespace FaultCheck {

// User and system CPU time of this process so far, in microseconds.
qint64 cpuMicroseconds();
// CPU time used while the event loop idles for ms milliseconds.
qint64 idleCpuMicroseconds(int ms = 300);
// A core spinning through 300 ms uses all of them; an idle window a few.
constexpr qint64 IdleCpuLimitUs = 100000;

// Where what the window shows disagrees with the connection: the connect
// button's text and the controls that follow the connection, the USB
// handles the simulated hidapi sees open, the timers running (the serial
// poll). Empty when none.
QStringList stateProblems(const MainWindow &w);

// Lets the event loop idle for 300 ms, then says what is wrong: CPU used
// beyond IdleCpuLimitUs, and every one of stateProblems. Empty when all is
// well.
QString afterFault(const MainWindow &w);

// The frames that ask the reader to change something, or anything else
// that is not a request to read a setting.
QByteArrayList nonReadFrames(const QByteArrayList &frames);

// The command codes of frames, as "02 10 21".
QString codesOf(const QByteArrayList &frames);

} // namespace FaultCheck

// Fails the case with everything afterFault finds wrong.
#define VERIFY_AFTER_FAULT(w)                                                                      \
    do {                                                                                           \
        const QString found = FaultCheck::afterFault(w);                                           \
        QVERIFY2(found.isEmpty(), qPrintable(found));                                              \
    } while (false)

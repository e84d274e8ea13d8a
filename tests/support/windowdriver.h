#pragma once

#include "app/mainwindow.h"

#include <QByteArray>
#include <QList>
#include <QString>

class PtyReader;
class QTimer;

// What the window tests do to the window as a user would, by the form's
// object names, and the texts its message boxes show.

// The form's widget of that name and type; a name the form does not have
// ends the test run, since every later step would be meaningless.
template <typename T = QWidget>
T *widget(const MainWindow &w, const QString &name)
{
    T *found = w.findChild<T *>(name);
    if (!found)
        qFatal("no widget %s", qPrintable(name));
    return found;
}

template <typename T = QWidget>
T *widget(const MainWindow &w, const char *name)
{
    return widget<T>(w, QString::fromLatin1(name));
}

void click(const MainWindow &w, const char *button);

inline bool connectedOverSerial(const MainWindow &w)
{
    return w.link().transport() == ReaderLink::Transport::Serial;
}
inline bool connectedOverUsb(const MainWindow &w)
{
    return w.link().transport() == ReaderLink::Transport::Hid;
}
// The connection is gone and the window says so (a lost connection reaches
// the window through the event loop).
bool shownDisconnected(const MainWindow &w);

// Picks the serial interface and types the port's name.
void selectSerialPort(const MainWindow &w, const QString &portName);
// Picks the serial interface, names the pseudo-terminal's port and clicks
// Connect; true when the port is open afterwards.
bool connectOverSerial(const MainWindow &w, const PtyReader &pty);
// Picks the USB interface and clicks Connect; true when the reader is open
// afterwards.
bool connectOverUsb(const MainWindow &w);

// The window's running timers (the serial poll among them).
QList<QTimer *> activeTimers(const MainWindow &w);
// The link's poll timer, for tests that poll by hand.
QTimer *pollTimer(const MainWindow &w);

// Puts bytes on the line and waits until the window's port holds them all.
bool arriveAtPort(const MainWindow &w, PtyReader &pty, const QByteArray &bytes);
// Runs the window's serial poll once, now, instead of at the next tick.
void pollPort(MainWindow &w);

// The settings read's and write's message boxes, and the firmware label
// before any read.
inline const QString ReadOk = QStringLiteral("Successfully obtained iButton the set value");
inline const QString StatusFail = QStringLiteral("Get F/W version fail, please retry.");
inline const QString PreAmbleFail = QStringLiteral("Get PreAmble fail, please retry.");
inline const QString PostAmbleFail = QStringLiteral("Get PostAmble fail, please retry.");
inline const QString RemoveDataFail = QStringLiteral("Get RemoveData fail, please retry.");
inline const QString WriteOk = QStringLiteral("Successfully set iButton set value");
inline const QString WriteFail = QStringLiteral("Failed to set iButton set value, please check the connection.");
inline const QString NotRead = QStringLiteral("F/W Ver: N/A");
// The question before a read replaces what was typed into the form.
inline const QString ReplaceWithRead = QStringLiteral("The settings in the form were not written to the reader. "
                                                      "Replace them with the settings read from the reader?");
// Set Status's question when the form was not read from the connected reader.
inline const QString NotThisReader =
    QStringLiteral("The settings in the form were not read from this reader. Write them anyway?");

#include "windowdriver.h"

#include "link/readerlink.h"

#include "ptyreader.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

void click(const MainWindow &w, const char *button)
{
    widget<QPushButton>(w, button)->click();
}

bool shownDisconnected(const MainWindow &w)
{
    return !w.link().isOpen() && widget<QPushButton>(w, "ConnectBut")->text() != QLatin1String("Disconnect");
}

void selectSerialPort(const MainWindow &w, const QString &portName)
{
    widget<QRadioButton>(w, "Searal_radcmd")->click();
    widget<QLineEdit>(w, "SerialNameEdit")->setText(portName);
}

bool connectOverSerial(const MainWindow &w, const PtyReader &pty)
{
    selectSerialPort(w, pty.portName());
    click(w, "ConnectBut");
    return w.link().transport() == ReaderLink::Transport::Serial;
}

bool connectOverUsb(const MainWindow &w)
{
    widget<QRadioButton>(w, "USBKB_radcmd")->click();
    click(w, "ConnectBut");
    return w.link().transport() == ReaderLink::Transport::Hid;
}

QList<QTimer *> activeTimers(const MainWindow &w)
{
    QList<QTimer *> active;
    // The status bar's own, which takes a message away, is not the program's.
    for (QTimer *timer : w.findChildren<QTimer *>())
        if (timer->isActive() && !qobject_cast<QStatusBar *>(timer->parent()))
            active << timer;
    return active;
}

QTimer *pollTimer(const MainWindow &w)
{
    return w.link().findChild<QTimer *>();
}

bool arriveAtPort(const MainWindow &w, PtyReader &pty, const QByteArray &bytes)
{
    const ReaderLink &link = w.link();
    const qint64 before = link.bytesWaiting();
    pty.inject(bytes);
    return QTest::qWaitFor([&] { return link.bytesWaiting() >= before + bytes.size(); }, 2000);
}

void pollPort(MainWindow &w)
{
    w.link().pollNow();
}

#include "windowdriver.h"

#include "link/readerlink.h"

#include "ptyreader.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPort>
#include <QTest>
#include <QTimer>

void click(const MainWindow &w, const char *button)
{
    widget<QPushButton>(w, button)->click();
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
    return w.link().serialOpen;
}

bool connectOverUsb(const MainWindow &w)
{
    widget<QRadioButton>(w, "USBKB_radcmd")->click();
    click(w, "ConnectBut");
    return w.link().hidOpen;
}

QList<QTimer *> liveTimers(const MainWindow &w)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return w.findChildren<QTimer *>();
}

bool arriveAtPort(const MainWindow &w, PtyReader &pty, const QByteArray &bytes)
{
    QSerialPort *port = w.link().serialPort;
    const qint64 before = port->bytesAvailable();
    pty.inject(bytes);
    return QTest::qWaitFor([&] { return port->bytesAvailable() >= before + bytes.size(); }, 2000);
}

void pollPort(MainWindow &w)
{
    QMetaObject::invokeMethod(&w, "onReadyRead", Qt::DirectConnection);
}

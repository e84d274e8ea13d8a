// What the window tells and offers a user on a desktop: why a connect
// failed, readers plugged in and pulled out, the ports to pick, settings
// files, and the connection remembered for the next start.
#include "app/mainwindow.h"
#include "link/serialports.h"

#include "support/fakedeviceevents.h"
#include "support/fakehid.h"
#include "support/readertestcase.h"
#include "support/windowdriver.h"

#include "ptyreader.h"
#include "readermodel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The form's values, to compare a form before and after.
QStringList formValues(const MainWindow &w)
{
    QStringList values;
    for (const char *edit : {"IBTOutStartEdit", "IBTOutLengthEdit", "PreAmbleEdit", "PostAmbleEdit", "RemoveDataEdit"})
        values << widget<QLineEdit>(w, edit)->text();
    for (const char *box : {"PreAmbleChk", "PostAmbleChk", "RemoveDataChk", "AutoReportChk", "BuzzerEnableChk"})
        values << QString::number(widget<QCheckBox>(w, box)->isChecked());
    values << QString::number(widget<QComboBox>(w, "KB_cmb")->currentIndex());
    return values;
}

// Runs f as a user that file permissions apply to: root passes them all.
template <typename F>
void unprivileged(F f)
{
    const bool root = geteuid() == 0;
    if (root && seteuid(65534) != 0)
        QFAIL("cannot leave root");
    f();
    if (root && seteuid(0) != 0)
        qFatal("cannot return to root");
}

} // namespace

class DesktopTest : public ReaderTestCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void statusSaysWhyAConnectFailed_data();
    void statusSaysWhyAConnectFailed();
    void readerPulledAndPluggedIn();
    void portsAreOffered();
    void savedSettingsLoadBack_data();
    void savedSettingsLoadBack();
    void badSettingsFileLeavesTheForm();
    void lastConnectionIsOfferedAgain();
};

void DesktopTest::init()
{
    startCase();
}

void DesktopTest::cleanup()
{
    endCase();
}

void DesktopTest::statusSaysWhyAConnectFailed_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("status"); // "%1" is the device's path

    QTest::newRow("no usb reader") << "absent"
                                   << "No USB reader found (vendor 0416, product f100): plug one in, or choose "
                                      "Serial Port.";
    QTest::newRow("usb permission") << "usb denied"
                                    << "Permission denied on /dev/hidraw-sim0: install the udev rule "
                                       "60-tavrin.rules (from the package or tools/linux/), then unplug the "
                                       "reader and plug it in again.";
    QTest::newRow("serial permission") << "serial denied"
                                       << "Permission denied on %1: join the dialout group (sudo adduser $USER "
                                          "dialout), then log out and in again.";
    QTest::newRow("port busy") << "busy" << "%1 is in use by another program: close it, then connect again.";
    QTest::newRow("no such port") << "missing"
                                  << "No serial port %1: check the name; the field offers the ports present.";
}

void DesktopTest::statusSaysWhyAConnectFailed()
{
    QFETCH(QString, fault);
    QFETCH(QString, status);

    const bool usb = fault == QLatin1String("absent") || fault == QLatin1String("usb denied");
    if (fault == QLatin1String("usb denied")) {
        FakeHid::attach(model.get());
        FakeHid::setOpenFails(true);
    }
    openPty();
    QString port = fault == QLatin1String("missing") ? QStringLiteral("/dev/tavrin-no-such-port") : pty->portName();
    QSerialPort holder(pty->portName());
    if (fault == QLatin1String("busy"))
        QVERIFY(holder.open(QIODevice::ReadWrite));
    if (fault == QLatin1String("serial denied"))
        QCOMPARE(chmod(QFile::encodeName(port).constData(), 0), 0);

    MainWindow w;
    if (usb)
        widget<QRadioButton>(w, "USBKB_radcmd")->click();
    else
        selectSerialPort(w, port);
    if (fault == QLatin1String("serial denied"))
        unprivileged([&] { click(w, "ConnectBut"); });
    else
        click(w, "ConnectBut");

    QCOMPARE(widget<QPushButton>(w, "ConnectBut")->text(), QStringLiteral("Reconnect"));
    QCOMPARE(w.statusText(), status.contains(QLatin1String("%1")) ? status.arg(port) : status);
}

void DesktopTest::readerPulledAndPluggedIn()
{
    FakeHid::attach(model.get());
    MainWindow w;
    auto *events = new FakeDeviceEvents;
    w.watchDevices(std::unique_ptr<DeviceEventSource>(events));
    QVERIFY(connectOverUsb(w));
    boxes->boxes.clear();
    QCOMPARE(w.statusText(), QStringLiteral("Connected over USB (/dev/hidraw-sim0)"));

    // Another device going changes nothing.
    events->send(DeviceEvent::Action::Removed, DeviceEvent::Kind::OtherHid, QStringLiteral("/dev/hidraw-sim7"));
    QTest::qWait(50);
    QVERIFY(connectedOverUsb(w));

    FakeHid::unplugNow();
    events->send(DeviceEvent::Action::Removed, DeviceEvent::Kind::OtherHid, QStringLiteral("/dev/hidraw-sim0"));
    QTRY_VERIFY(shownDisconnected(w));
    QCOMPARE(w.statusText(), QStringLiteral("The USB reader was unplugged."));
    QCOMPARE(FakeHid::openHandleCount(), 0);

    // Plugged in again while the serial side is chosen: offered, not opened.
    widget<QRadioButton>(w, "Searal_radcmd")->click();
    FakeHid::plugIn();
    const int opens = FakeHid::openCount();
    events->send(DeviceEvent::Action::Added, DeviceEvent::Kind::UsbReader, QStringLiteral("/dev/hidraw-sim0"));
    QTRY_COMPARE(w.statusText(), QStringLiteral("A USB reader was plugged in (/dev/hidraw-sim0): press Connect Device."));
    QVERIFY(widget<QRadioButton>(w, "USBKB_radcmd")->isChecked());
    QVERIFY(!widget(w, "SerialNameEdit")->isEnabled());
    QCOMPARE(FakeHid::openCount(), opens);
    QVERIFY(boxes->boxes.isEmpty());
}

void DesktopTest::portsAreOffered()
{
    // The stable names of adapters, beside what the system lists.
    QTemporaryDir byId;
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), byId.filePath(QStringLiteral("usb-Maker_Adapter_A1-if00-port0"))));
    const QStringList ports = presentSerialPorts(byId.path());
    QVERIFY(ports.contains(byId.filePath(QStringLiteral("usb-Maker_Adapter_A1-if00-port0"))));

    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *port = widget<QLineEdit>(w, "SerialNameEdit");
    // Listed when the field is first entered, not at start.
    widget<QRadioButton>(w, "Searal_radcmd")->setChecked(true);
    port->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(port->completer());
    QCOMPARE(port->completer()->model()->rowCount(), int(presentSerialPorts().size()));
}

void DesktopTest::savedSettingsLoadBack_data()
{
    addTransportRows();
}

void DesktopTest::savedSettingsLoadBack()
{
    QFETCH(bool, serial);
    loadTypicalSettings(model->state());
    model->state().preAmble = QByteArray::fromHex("000D5B"); // a zero and a bracket need stand-ins
    MainWindow w;
    connectTo(w, serial);
    const QStringList read = formValues(w);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("reader.json"));
    QVERIFY(w.saveSettingsTo(file));

    for (const char *edit : {"IBTOutStartEdit", "PreAmbleEdit", "RemoveDataEdit"})
        widget<QLineEdit>(w, edit)->setText(QStringLiteral("changed"));
    widget<QCheckBox>(w, "BuzzerEnableChk")->click();
    const int framesBefore = int(model->framesReceived().size());
    QVERIFY(w.loadSettingsFrom(file));
    QCOMPARE(formValues(w), read);
    // Loading tells the reader nothing; writing it back changes nothing.
    QCOMPARE(int(model->framesReceived().size()), framesBefore);
    const ReaderState before = model->state();
    boxes->boxes.clear();
    click(w, "SetIBTStatusBut");
    QCOMPARE(boxes->texts(), QStringList{WriteOk});
    QCOMPARE(model->state().preAmble.toHex(' '), before.preAmble.toHex(' '));
}

void DesktopTest::badSettingsFileLeavesTheForm()
{
    FakeHid::attach(model.get());
    MainWindow w;
    QVERIFY(connectOverUsb(w));
    boxes->boxes.clear();
    const QStringList before = formValues(w);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("bad.json"));
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(R"({"outputStart": 7, "preamble": "[FOO]", "buzzer": "yes"})");
    out.close();

    QVERIFY(!w.loadSettingsFrom(file));
    QCOMPARE(formValues(w), before);
    QCOMPARE(boxes->boxes.size(), 1);
    QCOMPARE(boxes->boxes.first().title, QStringLiteral("Load Settings"));
    QCOMPARE(boxes->boxes.first().text.split(QLatin1Char('\n')),
             (QStringList{QStringLiteral("The settings in %1 were not loaded:").arg(file),
                          QStringLiteral("\"buzzer\" must be true or false"),
                          QStringLiteral("\"preamble\": \"[FOO]\" at character 1 is not a control-code name")}));
}

void DesktopTest::lastConnectionIsOfferedAgain()
{
    openPty();
    {
        MainWindow w;
        QVERIFY(connectOverSerial(w, *pty));
    }
    // No reader on USB: the serial port that worked last time, filled in
    // once the window is up.
    {
        MainWindow w;
        QVERIFY(widget<QRadioButton>(w, "Searal_radcmd")->isChecked());
        QTRY_COMPARE(widget<QLineEdit>(w, "SerialNameEdit")->text(), pty->portName());
    }
    // A reader on USB wins; the port name is still there for later.
    FakeHid::attach(model.get());
    {
        MainWindow w;
        QVERIFY(widget<QRadioButton>(w, "USBKB_radcmd")->isChecked());
        QTRY_COMPARE(widget<QLineEdit>(w, "SerialNameEdit")->text(), pty->portName());
        QVERIFY(connectOverUsb(w));
    }
    // The USB reader used last is gone: the probe, not the memory, decides.
    FakeHid::unplugNow();
    MainWindow w;
    QVERIFY(widget<QRadioButton>(w, "Searal_radcmd")->isChecked());
    QVERIFY(widget(w, "SerialNameEdit")->isEnabled());
    QTRY_COMPARE(widget<QLineEdit>(w, "SerialNameEdit")->text(), pty->portName());
}

QTEST_MAIN(DesktopTest)
#include "tst_desktop.moc"

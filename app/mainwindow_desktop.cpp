// What the window offers beside the form: the menus, the status bar, the
// port names to pick, the devices plugged in and pulled out, and the
// connection remembered for the next start.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/provisionwindow.h"
#include "app/statusmessages.h"
#include "link/devicemonitor.h"
#include "link/hiddevice.h"
#include "link/safefile.h"
#include "link/serialports.h"
#include "settings/settingsfile.h"

#include "app/accessibility.h"
#include "app/provisionwindow.h"
#include "app/screenfit.h"
#include "app/statusline.h"

#include <QCloseEvent>
#include <QCompleter>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QStatusBar>
#include <QStringListModel>
#include <QStyle>
#include <QWindow>

#include <functional>
#include <utility>

namespace {

constexpr int FormWidth = 591;
constexpr int FormHeight = 451;
// How long a message about a file or an action stays in the status bar.
constexpr int MessageMs = 6000;
const QString DefaultPort = QStringLiteral("COM6");

QSettings remembered()
{
    return QSettings(QStringLiteral("Tavrin"), QStringLiteral("Tavrin"));
}

bool writeFile(const QString &path, const QByteArray &bytes, QString *error)
{
    return SafeFile::replace(path, bytes, error);
}

// Runs a call the first time a widget takes the keyboard focus.
class OnFirstFocus : public QObject
{
public:
    OnFirstFocus(QWidget *widget, std::function<void()> call)
        : QObject(widget)
        , call(std::move(call))
    {
        widget->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::FocusIn) {
            watched->removeEventFilter(this);
            deleteLater();
            call();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> call;
};

} // namespace

void MainWindow::buildMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction *save = file->addAction(QStringLiteral("&Save Settings..."), this, &MainWindow::chooseAndSaveSettings);
    save->setObjectName(QStringLiteral("actionSaveSettings"));
    save->setShortcut(QKeySequence(QStringLiteral("Ctrl+S")));
    QAction *load = file->addAction(QStringLiteral("&Load Settings..."), this, &MainWindow::chooseAndLoadSettings);
    load->setObjectName(QStringLiteral("actionLoadSettings"));
    load->setShortcut(QKeySequence(QStringLiteral("Ctrl+O")));
    updateLoadSettingsAction();
    QAction *output = file->addAction(QStringLiteral("Save &Output..."), this, &MainWindow::chooseAndSaveOutput);
    output->setObjectName(QStringLiteral("actionSaveOutput"));
    addHistoryActions(file);
    file->addSeparator();
    QAction *quit = file->addAction(QStringLiteral("&Quit"), this, &QWidget::close);
    quit->setObjectName(QStringLiteral("actionQuit"));
    quit->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
    QMenu *help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("&About Tavrin"), this, &MainWindow::about)
        ->setObjectName(QStringLiteral("actionAbout"));

    // The connection's state stays in the bar; messages show beside it and go.
    setStatusBar(new ElidingStatusBar);
    statusLabel = new ElidingLabel;
    Accessibility::makeStatusLine(statusLabel);
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    statusLabel->setText(StatusMessages::notConnected());
    statusLabel->setContentsMargins(4, 0, 4, 0);
    statusBar()->addPermanentWidget(statusLabel);
    statusBar()->setSizeGripEnabled(false);
    Accessibility::makeStatusLine(statusBar());
    connect(statusBar(), &QStatusBar::messageChanged, this, [this] { Accessibility::announceChange(statusBar()); });

    // The form keeps its fixed size and geometry; where the screen is too
    // small for it, it scrolls inside the window.
    formScroll = new QScrollArea(this);
    formScroll->setObjectName(QStringLiteral("formScroll"));
    formScroll->setFrameShape(QFrame::NoFrame);
    formScroll->setFocusPolicy(Qt::NoFocus);
    QWidget *formWidget = takeCentralWidget();
    formWidget->setFixedSize(FormWidth, FormHeight);
    formScroll->setWidget(formWidget);
    setCentralWidget(formScroll);
    fitToScreen();

    // Listing the ports walks every terminal device the system has, some
    // milliseconds; nobody needs the list before entering the port field.
    new OnFirstFocus(ui->SerialNameEdit, [this] {
        portCompleter = new QCompleter(new QStringListModel(this), this);
        portCompleter->setFilterMode(Qt::MatchContains);
        portCompleter->setCaseSensitivity(Qt::CaseInsensitive);
        ui->SerialNameEdit->setCompleter(portCompleter);
        refreshPortList();
    });
}

void MainWindow::fitToScreen()
{
    const QSize whole(FormWidth, FormHeight + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
    const QSize room = ScreenFit::room(this);

    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    QSize size = whole;
    if (size.height() > room.height()) {
        size.setHeight(room.height());
        size.rwidth() += bar;
    }
    if (size.width() > room.width()) {
        size.setWidth(room.width());
        size.rheight() += bar;
    }
    size = size.boundedTo(room).expandedTo(QSize(100, 100));
    setMinimumSize(size);
    setMaximumSize(size);
    resize(size);
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (shownOnce)
        return;
    shownOnce = true;
    fitToScreen();
    if (QWindow *window = windowHandle())
        connect(window, &QWindow::screenChanged, this, &MainWindow::fitToScreen);
    ui->ConnectBut->setFocus();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Quit again while waiting for the bench: it is on its way.
    if (quitWithBench && bench && bench->isVisible()) {
        event->ignore();
        return;
    }
    if (askBeforeClosing && form.unwritten()
        && QMessageBox::question(this, QStringLiteral("Quit"),
                                 QStringLiteral("The settings in the form were not written to the reader. "
                                                "Quit anyway?"),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
            != QMessageBox::Yes) {
        event->ignore();
        return;
    }
    // A bench left behind would keep the process running without this
    // window; one with readers in hand must finish them first.
    if (bench && bench->busy() > 0) {
        if (askBeforeClosing
            && QMessageBox::question(this, QStringLiteral("Quit"),
                                     QStringLiteral("Provision Readers has %1 reader(s) in hand. Quit once they are "
                                                    "done?")
                                         .arg(bench->busy()),
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
                != QMessageBox::Yes) {
            event->ignore();
            return;
        }
        quitWithBench = true;
        showStatus(QStringLiteral("Quitting once the readers in hand are done."));
        bench->close();
        event->ignore();
        return;
    }
    quitWithBench = true;
    if (bench)
        bench->close();
    QMainWindow::closeEvent(event);
}

void MainWindow::closeWithoutAsking()
{
    askBeforeClosing = false;
    close();
}

bool MainWindow::hasUnwrittenEdits() const
{
    return form.unwritten();
}

void MainWindow::updateUnwritten()
{
    setWindowModified(form.unwritten());
}

bool MainWindow::mayReplaceForm(const QString &what)
{
    return !form.unwritten()
        || QMessageBox::question(this, QStringLiteral("Unwritten Settings"),
                                 QStringLiteral("The settings in the form were not written to the reader. "
                                                "Replace them with %1?")
                                     .arg(what),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
            == QMessageBox::Yes;
}

QString MainWindow::statusText() const
{
    const QString message = statusBar()->currentMessage();
    return message.isEmpty() ? statusLabel->text() : message;
}

void MainWindow::showStatus(const QString &text, bool stays)
{
    // A warning or a failure would be missed if it went by itself: it stays
    // until the next message takes its place.
    statusBar()->showMessage(text, stays ? 0 : MessageMs);
}

void MainWindow::showConnection(const QString &text)
{
    statusBar()->clearMessage();
    statusLabel->setText(text);
    Accessibility::announceChange(statusLabel);
}

void MainWindow::presetConnection(bool usbReaderPresent)
{
    ui->SerialNameEdit->setText(DefaultPort);
    // What a probe finds now decides; the interface used last time may be
    // one that is not there.
    if (usbReaderPresent) {
        ui->USBKB_radcmd->setChecked(true);
    } else {
        ui->Searal_radcmd->setChecked(true);
        ui->SerialNameEdit->setEnabled(true);
    }
}

void MainWindow::finishStartUp()
{
    // The port that last connected, unless the user is already at work.
    const QString port = remembered().value(QStringLiteral("connection/port")).toString();
    if (!port.isEmpty() && !readerLink->isOpen() && ui->SerialNameEdit->text() == DefaultPort
        && !ui->SerialNameEdit->isModified())
        ui->SerialNameEdit->setText(port);
    if (!deviceMonitor)
        watchDevices(systemDeviceEvents());
}

void MainWindow::rememberConnection()
{
    QSettings last = remembered();
    const bool serial = readerLink->transport() == ReaderLink::Transport::Serial;
    last.setValue(QStringLiteral("connection/interface"), serial ? QStringLiteral("serial") : QStringLiteral("usb"));
    if (serial)
        last.setValue(QStringLiteral("connection/port"), ui->SerialNameEdit->text());
}

void MainWindow::refreshPortList()
{
    if (!portCompleter)
        return;
    static_cast<QStringListModel *>(portCompleter->model())->setStringList(presentSerialPorts());
}

void MainWindow::watchDevices(std::unique_ptr<DeviceEventSource> source)
{
    delete deviceMonitor;
    deviceMonitor = new DeviceMonitor(std::move(source), this);
    // While the bench is open, readers plugged in are its own.
    if (bench)
        bench->watch(deviceMonitor);
    else
        connect(deviceMonitor, &DeviceMonitor::usbReaderAdded, this, &MainWindow::onUsbReaderAdded);
    connect(deviceMonitor, &DeviceMonitor::hidNodeRemoved, this, &MainWindow::onHidNodeRemoved);
    connect(deviceMonitor, &DeviceMonitor::serialPortsChanged, this, &MainWindow::refreshPortList);
}

void MainWindow::onUsbReaderAdded(const QString &node)
{
    // Nothing is opened without a click; a connection in use stays as it is.
    if (readerLink->isOpen())
        return;
    ui->USBKB_radcmd->setChecked(true);
    on_USBKB_radcmd_clicked();
    showStatus(StatusMessages::pluggedIn(node));
}

void MainWindow::onHidNodeRemoved(const QString &node)
{
    if (readerLink->transport() != ReaderLink::Transport::Hid || readerLink->location() != node)
        return;
    DisconnectReader();
    showConnection(StatusMessages::unplugged());
}

bool MainWindow::saveSettingsTo(const QString &path)
{
    const QByteArray json = QJsonDocument(settingsToJson(form.current())).toJson(QJsonDocument::Indented);
    QString error;
    if (writeFile(path, json, &error))
        return true;
    QMessageBox::warning(this, QStringLiteral("Save Settings"),
                         QStringLiteral("The settings could not be saved to %1: %2").arg(path, error));
    return false;
}

bool MainWindow::loadSettingsFrom(const QString &path)
{
    const auto refuse = [this, &path](const QStringList &why) {
        QMessageBox::warning(this, QStringLiteral("Load Settings"),
                             QStringLiteral("The settings in %1 were not loaded:\n%2").arg(path, why.join(QLatin1Char('\n'))));
        return false;
    };
    // Loaded into the form of the reader it is meant for: a connect would
    // read over it, and Set Status would write the reader's own values.
    if (!readerLink->isOpen())
        return refuse({QStringLiteral("No reader is connected: connect the reader the settings are for first.")});
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse({file.errorString()});
    // One byte more than a settings file may have tells one that is longer.
    const QByteArray json = file.read(MaxSettingsFileBytes + 1);

    const bool serial = readerLink->transport() == ReaderLink::Transport::Serial;
    QStringList errors;
    std::optional<SettingsPatch> patch =
        parseSettingsPatch(json, serial ? WriteTransport::Serial : WriteTransport::Hid, &errors, false,
                           QFileInfo(path).fileName());
    if (!patch)
        return refuse(errors);
    if (!mayReplaceForm(QStringLiteral("the settings in %1").arg(QFileInfo(path).fileName())))
        return false;
    QString loaded = QStringLiteral("Loaded %1: press Set Status to write it to the reader.").arg(path);
    // The greyed keyboard country of a serial reader must not show one that
    // will not be written. Said as tavrinctl says it.
    for (const QString &note : takeOutUncarried(*patch, serial ? WriteTransport::Serial : WriteTransport::Hid))
        loaded += QLatin1Char(' ') + note + QLatin1Char('.');
    form.load(*patch);
    form.setThisReaders(true);
    showStatus(loaded);
    return true;
}

bool MainWindow::saveOutputTo(const QString &path)
{
    QString error;
    if (writeFile(path, ui->ScannerEdit->toPlainText().toUtf8(), &error))
        return true;
    QMessageBox::warning(this, QStringLiteral("Save Output"),
                         QStringLiteral("The output could not be saved to %1: %2").arg(path, error));
    return false;
}

void MainWindow::chooseAndSaveSettings()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save Settings"), QStringLiteral("reader.json"),
                                                      QStringLiteral("Settings (*.json);;All files (*)"));
    if (!path.isEmpty() && saveSettingsTo(path))
        showStatus(QStringLiteral("Saved the form to %1.").arg(path));
}

void MainWindow::chooseAndLoadSettings()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Load Settings"), QString(),
                                                      QStringLiteral("Settings (*.json);;All files (*)"));
    if (!path.isEmpty())
        loadSettingsFrom(path);
}

void MainWindow::chooseAndSaveOutput()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save Output"), QStringLiteral("output.txt"),
                                                      QStringLiteral("Text (*.txt);;All files (*)"));
    if (!path.isEmpty() && saveOutputTo(path))
        showStatus(QStringLiteral("Saved the output to %1.").arg(path));
}

void MainWindow::about()
{
    QMessageBox::about(this, QStringLiteral("About Tavrin"),
                       QStringLiteral("<p><b>Tavrin %1</b></p><p>Sets up iButton readers over USB or a serial "
                                      "port.</p><p>Qt %2, hidapi %3</p>")
                           .arg(QStringLiteral(TAVRIN_VERSION), QString::fromLatin1(qVersion()),
                                HidDevice::libraryVersion()));
}

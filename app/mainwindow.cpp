#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "link/devicemonitor.h"
#include "link/hiddevice.h"
#include "settings/nametables.h"
#include "settings/textcodec.h"

#include <QComboBox>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , form(*ui)
    , readerLink(new ReaderLink(this))
{
    ui->setupUi(this);
    TextCodec::initialise();

    buildMenus();

    // Only preselects the interface; the reader is opened for real on connect.
    presetConnection(ReaderLink::usbReaderPresent());
    currentTab = 0;

    // Filled before the selection slots are connected, so that start-up
    // inserts no name into the edits.
    ui->Pre_cmb->insertItems(ui->Pre_cmb->count(), ControlCodeNames);
    ui->Post_cmb->insertItems(ui->Post_cmb->count(), ControlCodeNames);
    ui->Remove_cmb->insertItems(ui->Remove_cmb->count(), ControlCodeNames);
    ui->KB_cmb->insertItems(ui->KB_cmb->count(), KbCountryNames);
    connectPickers();

    connect(readerLink, &ReaderLink::received, this, &MainWindow::onReadyRead);
    // Queued: the link notices a loss inside whatever call found it; the
    // window shows it once that call has returned.
    connect(readerLink, &ReaderLink::lost, this, &MainWindow::onLinkLost, Qt::QueuedConnection);

    refreshPortList();
    watchDevices(systemDeviceEvents());
}

// The link, a child, closes what it holds when the window's children go.
MainWindow::~MainWindow()
{
    delete ui;
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::keyPressEvent(QKeyEvent *)
{
}

void MainWindow::tabChange(int index)
{
    currentTab = quint8(index);
}

void MainWindow::TriggerClick()
{
}

void MainWindow::PowerPassClick()
{
}

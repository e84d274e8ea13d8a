#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "app/nametables.h"
#include "app/textcodec.h"
#include "link/readerlink.h"

#include <QComboBox>

#include <hidapi.h>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , readerLink(new ReaderLink(this))
{
    ui->setupUi(this);
    TextCodec::initialise();

    // Only preselects the interface; the reader is opened for real on connect.
    ReaderLink &link = *readerLink;
    link.hidHandle = hid_open(ReaderLink::VendorId, ReaderLink::ProductId, nullptr);
    if (link.hidHandle) {
        ui->USBKB_radcmd->setChecked(true);
        hid_close(link.hidHandle);
        hid_exit();
        link.hidHandle = nullptr;
    } else {
        ui->Searal_radcmd->setChecked(true);
        ui->SerialNameEdit->setEnabled(true);
    }
    ui->SerialNameEdit->setText(QStringLiteral("COM6"));

    link.seqNo = 1;
    currentTab = 0;

    // Filled before the selection slots are connected, so that start-up
    // inserts no name into the edits.
    ui->Pre_cmb->insertItems(ui->Pre_cmb->count(), ControlCodeNames);
    ui->Post_cmb->insertItems(ui->Post_cmb->count(), ControlCodeNames);
    ui->Remove_cmb->insertItems(ui->Remove_cmb->count(), ControlCodeNames);
    ui->KB_cmb->insertItems(ui->KB_cmb->count(), KbCountryNames);
    connect(ui->Pre_cmb, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &MainWindow::Pre_selectChanged);
    connect(ui->Post_cmb, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &MainWindow::Post_selectChanged);
    connect(ui->Remove_cmb, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &MainWindow::Remove_selectChanged);

    // Queued: the port reports its failure from inside whatever call found
    // it; the window tears the connection down once that call has returned.
    connect(readerLink, &ReaderLink::serialPortFailed, this, &MainWindow::onSerialPortFailed,
            Qt::QueuedConnection);
}

MainWindow::~MainWindow()
{
    if (readerLink->hidHandle) {
        hid_close(readerLink->hidHandle);
        hid_exit();
        readerLink->hidHandle = nullptr;
    }
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

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "app/accessibility.h"
#include "link/devicemonitor.h"
#include "link/hiddevice.h"
#include "settings/nametables.h"
#include "settings/textcodec.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTimer>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , form(*ui)
    , readerLink(new ReaderLink(this))
{
    Accessibility::install();
    ui->setupUi(this);
    TextCodec::initialise();
    setWindowTitle(windowTitle() + QStringLiteral("[*]"));

    buildMenus();
    // Beneath other widgets, where nobody can see them.
    for (QWidget *w : {static_cast<QWidget *>(ui->TestBut), static_cast<QWidget *>(ui->TrigBut),
                       static_cast<QWidget *>(ui->Debuglabel)})
        Accessibility::hide(w);

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

    // The title's asterisk: the form holds what the reader does not.
    form.onReaderState = [this] { updateUnwritten(); };
    for (QLineEdit *edit : {ui->PreAmbleEdit, ui->PostAmbleEdit, ui->RemoveDataEdit, ui->IBTOutStartEdit,
                            ui->IBTOutLengthEdit})
        connect(edit, &QLineEdit::textChanged, this, &MainWindow::updateUnwritten);
    for (QCheckBox *box : {ui->PreAmbleChk, ui->PostAmbleChk, ui->RemoveDataChk, ui->AutoReportChk,
                           ui->BuzzerEnableChk})
        connect(box, &QCheckBox::toggled, this, &MainWindow::updateUnwritten);
    connect(ui->KB_cmb, qOverload<int>(&QComboBox::currentIndexChanged), this, &MainWindow::updateUnwritten);
    form.takeAsReaderState();

    ui->ConnectBut->setFocus();
    // Once the window is up: the event loop runs only after show().
    // Not a child: the window's timers are its connection's.
    afterShow = std::make_unique<QTimer>();
    afterShow->setSingleShot(true);
    connect(afterShow.get(), &QTimer::timeout, this, &MainWindow::finishStartUp);
    afterShow->start(0);
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

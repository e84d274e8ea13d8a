// The window's side of reading the reader's settings into the form.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "link/readerlink.h"

void MainWindow::GetIBTValueClick()
{
    GetIBTValue();
}

void MainWindow::GetIBTValue()
{
}

void MainWindow::ReadStatus()
{
}

void MainWindow::ParseSerialReply(const QByteArray &)
{
}

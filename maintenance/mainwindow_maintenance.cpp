// The window's side of reader maintenance: switching the reader's interface
// and updating its firmware.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "link/readerlink.h"

void MainWindow::ChangeModeClick()
{
}

void MainWindow::FWUpdateClick()
{
}

// Bring-up aids that the window keeps but does not offer to the mouse.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "link/readerlink.h"

void MainWindow::threadStart()
{
}

void MainWindow::threadPause()
{
}

void MainWindow::threadStop()
{
}

void MainWindow::TestButClick()
{
}

// The window's side of writing the form's settings to the reader.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "link/readerlink.h"

void MainWindow::SetIBTValueClick()
{
}

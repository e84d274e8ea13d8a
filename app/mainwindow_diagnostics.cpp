// Bring-up aids that the window keeps but does not offer to the mouse.
#include "app/mainwindow.h"

#include "app/charthread.h"
#include "link/diagnosticdump.h"
#include "link/hiddevice.h"

void MainWindow::threadStart()
{
    // A dump that does not open leaves an earlier dump's device as it was.
    if (std::unique_ptr<HidDevice> device = DiagnosticDump::run())
        diagnosticDevice = std::move(device);
}

void MainWindow::threadPause()
{
    // The window never starts a worker; without one there is nothing to pause.
    if (workerThread)
        workerThread->togglePause();
}

void MainWindow::threadStop()
{
}

void MainWindow::TestButClick()
{
    readerLink->sendTestRequest();
}

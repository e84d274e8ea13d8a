#include "busyindicator.h"

#include <QCloseEvent>

BusyIndicator::BusyIndicator(QWidget *parent)
    : QProgressDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("FirmwareWriterBusy"));
    setWindowTitle(QStringLiteral("Firmware Update"));
    setLabelText(QStringLiteral("The firmware writer is running.\n"
                                "Please wait until it has finished."));
    setCancelButton(nullptr);
    setAutoReset(false);
    setAutoClose(false);
    setRange(0, 0);
    setWindowModality(Qt::ApplicationModal);
}

void BusyIndicator::finish()
{
    finished = true;
    hide();
}

void BusyIndicator::reject()
{
    if (finished)
        QProgressDialog::reject();
}

void BusyIndicator::closeEvent(QCloseEvent *event)
{
    if (finished)
        QProgressDialog::closeEvent(event);
    else
        event->ignore();
}

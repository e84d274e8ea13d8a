// The window's side of writing the form's settings to the reader.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/tracing.h"
#include "link/readerlink.h"
#include "settings/settingsverify.h"
#include "settings/settingswrite.h"

#include <QDebug>
#include <QMessageBox>

namespace {

const QString WriteTitle = QStringLiteral("Setting iButton");

void tell(const QString &text)
{
    QMessageBox::information(nullptr, WriteTitle, text, QMessageBox::Yes, QMessageBox::NoButton);
}

} // namespace

void MainWindow::SetIBTValueClick()
{
    ReaderLink &link = *readerLink;
    // The button is only enabled while connected; without an open transport
    // there is no handle to write to.
    if (!link.isOpen())
        return;
    const WriteTransport transport =
        link.transport() == ReaderLink::Transport::Serial ? WriteTransport::Serial : WriteTransport::Hid;

    const SettingsWriteRequest request = form.writeRequest();
    const SettingsWriteSequence sequence(request, transport);
    // Half a configuration is worse than none: refuse before the first frame.
    if (!sequence.overlongTexts().isEmpty()) {
        tell(sequence.refusalText());
        return;
    }

    writeWithSnapshot(request);
}

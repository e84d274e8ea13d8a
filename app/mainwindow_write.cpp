// The window's side of writing the form's settings to the reader.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/tracing.h"
#include "link/readerlink.h"
#include "settings/settingsfile.h"
#include "settings/settingsverify.h"
#include "settings/settingswrite.h"

#include <QDebug>
#include <QMessageBox>

namespace {

const QString WriteTitle = QStringLiteral("Setting iButton");

// A write refused before its first frame: the form's fault, not the
// reader's answer, so a warning the user acknowledges.
void refuse(const QString &text)
{
    QMessageBox::warning(nullptr, WriteTitle, text);
}

// A value that would reach the reader as another, or that no read could show
// again, is refused with every field that is wrong, before the first frame.
bool formFitForWrite(const SettingsWriteRequest &request, WriteTransport transport)
{
    const QStringList problems = writeRequestProblems(request, transport);
    if (problems.isEmpty())
        return true;
    refuse(problems.join(QLatin1Char('\n')) + QStringLiteral("\nNothing was written to the reader."));
    return false;
}

} // namespace

bool MainWindow::formMayGoToThisReader()
{
    // A form this reader's read never filled holds another reader's values,
    // or none: writing it would wipe what this one holds.
    if (form.isThisReaders())
        return true;
    const ReaderLink::Transport transport = readerLink->transport();
    const bool yes = QMessageBox::question(nullptr, WriteTitle,
                                           QStringLiteral("The settings in the form were not read from this "
                                                          "reader. Write them anyway?"),
                                           QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton)
        == QMessageBox::Yes;
    // The box runs an event loop: a connection lost meanwhile has no reader
    // to write to.
    if (!yes || readerLink->transport() != transport)
        return false;
    form.setThisReaders(true);
    return true;
}

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
    if (!formFitForWrite(request, transport) || !formMayGoToThisReader())
        return;
    const SettingsWriteSequence sequence(request, transport);
    // Half a configuration is worse than none: refuse before the first frame.
    if (!sequence.overlongTexts().isEmpty()) {
        refuse(sequence.refusalText());
        return;
    }

    writeWithSnapshot(request);
}

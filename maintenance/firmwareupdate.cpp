#include "firmwareupdate.h"

#include <QCloseEvent>
#include <QDir>
#include <QEventLoop>
#include <QProgressDialog>

namespace {

// A progress bar with no known end. It has no way out: stopping a firmware
// writer half-way would leave the reader without firmware.
class BusyIndicator : public QProgressDialog
{
public:
    explicit BusyIndicator(QWidget *parent)
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

    void finish()
    {
        finished = true;
        hide();
    }

protected:
    void reject() override
    {
        if (finished)
            QProgressDialog::reject();
    }

    void closeEvent(QCloseEvent *event) override
    {
        if (finished)
            QProgressDialog::closeEvent(event);
        else
            event->ignore();
    }

private:
    bool finished = false;
};

} // namespace

WriterRun runFirmwareWriter(const QString &program, QWidget *window)
{
    QProcess process;
    QEventLoop loop;
    bool ended = false;
    QObject::connect(&process, &QProcess::finished, &loop, [&ended, &loop] {
        ended = true;
        loop.quit();
    });
    // Other errors (a crash, a broken pipe) are followed by finished or
    // leave the program running; only a failed start ends the wait here.
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&ended, &loop](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            ended = true;
            loop.quit();
        }
    });

    process.start(program, QStringList(), QIODevice::ReadWrite);
    if (process.state() == QProcess::NotRunning)
        ended = true;
    if (!ended) {
        BusyIndicator busy(window);
        busy.show();
        // A quit that came before exec() would be lost; hence the flag.
        while (!ended)
            loop.exec();
        busy.finish();
    }

    WriterRun run;
    if (process.error() == QProcess::FailedToStart) {
        run.errorText = process.errorString();
        return run;
    }
    run.started = true;
    run.exitStatus = process.exitStatus();
    run.exitCode = process.exitCode();
    return run;
}

QString firmwareWriterLocation(const QString &program)
{
    const QString path = QDir::current().absoluteFilePath(QDir::fromNativeSeparators(program));
    return QDir::toNativeSeparators(QDir::cleanPath(path));
}

#include "firmwareupdate.h"

#include <QDir>
#include <QFileInfo>
#include <QEventLoop>

WriterRun runFirmwareWriter(const QString &program, const std::function<void(bool, const StopWriter &)> &running)
{
    QProcess process;
    // Nobody answers a writer's questions: it reads the end of its input.
    process.setStandardInputFile(QProcess::nullDevice());
    // Unread pipes fill up and stall a talkative writer for good.
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    QEventLoop loop;
    bool ended = false;
    bool stopped = false;
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
    const StopWriter stop = [&process, &stopped] {
        if (process.state() == QProcess::NotRunning)
            return;
        stopped = true;
        process.kill();
    };

    process.start(program, QStringList(), QIODevice::ReadWrite);
    if (process.state() == QProcess::NotRunning)
        ended = true;
    if (!ended) {
        if (running)
            running(true, stop);
        // A quit that came before exec() would be lost; hence the flag.
        while (!ended)
            loop.exec();
        if (running)
            running(false, stop);
    }

    WriterRun run;
    if (process.error() == QProcess::FailedToStart) {
        run.errorText = process.errorString();
        return run;
    }
    run.started = true;
    run.stopped = stopped;
    run.exitStatus = process.exitStatus();
    run.exitCode = process.exitCode();
    return run;
}

QString writerEndText(const WriterRun &run)
{
    if (!run.started)
        return {};
    if (run.stopped)
        return QStringLiteral("The firmware writer was stopped before it ended.");
    if (run.exitStatus == QProcess::CrashExit)
        return QStringLiteral("The firmware writer was killed or crashed before it ended.");
    return QStringLiteral("The firmware writer ended with exit status %1.").arg(run.exitCode);
}

QString firmwareWriterLocation(const QString &program)
{
    const QString path = QDir::current().absoluteFilePath(QDir::fromNativeSeparators(program));
    return QDir::toNativeSeparators(QDir::cleanPath(path));
}

std::optional<QString> firmwareWriterProblem(const QString &program)
{
    const QFileInfo writer(firmwareWriterLocation(program));
    if (!writer.exists())
        return QStringLiteral("No such file");
    if (writer.isDir())
        return QStringLiteral("It is a folder");
    if (!writer.isExecutable())
        return QStringLiteral("Not executable");
    return std::nullopt;
}

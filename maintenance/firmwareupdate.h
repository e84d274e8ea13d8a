#pragma once

#include <QProcess>
#include <QString>

#include <functional>
#include <optional>

// How a run of the firmware writer ended.
struct WriterRun
{
    // False when the program could not be started at all (missing, not
    // executable); errorText then says why.
    bool started = false;
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
    int exitCode = 0;
    QString errorText;
    // Ended by stop() rather than by itself.
    bool stopped = false;

    // Ended by itself with exit status 0: the only end the writer gives for
    // a done update.
    bool succeeded() const { return started && !stopped && exitStatus == QProcess::NormalExit && exitCode == 0; }
};

// Kills the writer now; does nothing once it has ended.
using StopWriter = std::function<void()>;

// Runs program with no arguments until it ends by itself or is stopped. Its
// standard input is closed, so a writer that asks for input reads its end
// instead of waiting for ever; its output goes where the program's own
// goes. The event loop keeps running meanwhile; running(true, stop) is called
// once the program runs and running(false, stop) once it has ended, so that
// the caller can show that it waits and offer to stop it.
WriterRun runFirmwareWriter(const QString &program,
                            const std::function<void(bool running, const StopWriter &stop)> &running = {});

// How the run ended, one sentence for the user: the exit status, a kill, a
// stop. Empty for a run that never started.
QString writerEndText(const WriterRun &run);

// Where program is looked for: its absolute, cleaned path in native form.
QString firmwareWriterLocation(const QString &program);

// Why program could not be run ("No such file", "Not executable", ...), or
// nothing when it is there to run. Asked before the reader is told to wait
// for a writer, so that no reader is left waiting for one that cannot come.
std::optional<QString> firmwareWriterProblem(const QString &program);

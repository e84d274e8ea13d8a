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
};

// Runs program with no arguments, its channels open for reading and writing
// and never fed, until it ends by itself. The event loop keeps running
// meanwhile; running(true) is called once the program runs and
// running(false) once it has ended, so that the caller can show that it waits.
WriterRun runFirmwareWriter(const QString &program, const std::function<void(bool running)> &running = {});

// Where program is looked for: its absolute, cleaned path in native form.
QString firmwareWriterLocation(const QString &program);

// Why program could not be run ("No such file", "Not executable", ...), or
// nothing when it is there to run. Asked before the reader is told to wait
// for a writer, so that no reader is left waiting for one that cannot come.
std::optional<QString> firmwareWriterProblem(const QString &program);

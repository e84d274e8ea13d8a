#pragma once

#include <QProcess>
#include <QString>

#include <functional>

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

#include "ctl.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The link's debug traces are for the window's developers; a script
    // reading standard error wants only tavrinctl's own one-line messages.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type != QtDebugMsg && type != QtInfoMsg)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    QTextStream out(stdout);
    QTextStream err(stderr);
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return Tavrinctl::UsageError;
    const int code = Tavrinctl::run(app.arguments().mid(1), out, err, in);
    out.flush();
    err.flush();
    return code;
}

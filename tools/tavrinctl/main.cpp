#include "ctl.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>


int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return Tavrinctl::UsageError;
    QByteArrayList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QByteArray(argv[i]);
    const int code = Tavrinctl::run(arguments, out, err, in);
    out.flush();
    err.flush();
    return code;
}

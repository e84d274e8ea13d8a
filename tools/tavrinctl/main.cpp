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
    const int code = Tavrinctl::run(app.arguments().mid(1), out, err, in);
    out.flush();
    err.flush();
    return code;
}

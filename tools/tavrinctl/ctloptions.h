#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

#include <optional>

class QIODevice;
class QTextStream;

namespace Tavrinctl {

// What a command line asks for; which command takes what, ctl.cpp checks.
struct Options
{
    QString command;
    QByteArrayList ports;   // as the system names them
    QByteArrayList devices; // hidraw paths
    QByteArrayList positional;
    std::optional<QByteArray> output; // read -o
    std::optional<QByteArray> log;    // apply --log
    std::optional<int> count;         // apply --watch --count
    std::optional<QByteArray> run;    // undo --run
    bool help = false;
    bool version = false;
    bool json = false;
    bool noVerify = false;
    bool noHistory = false;
    bool all = false;
    bool watch = false;
    bool strict = false; // refuse a field the interface cannot carry
    bool dryRun = false;

    // The one reader of a command that takes one.
    std::optional<QByteArray> port() const;
    std::optional<QByteArray> device() const;
};

// The streams a command talks through.
struct Io
{
    QTextStream &out;
    QTextStream &err;
    QIODevice &in;
};

int parse(const QByteArrayList &arguments, Options &options, QTextStream &err);

// "tavrinctl: message" on err; returns code.
int complain(QTextStream &err, int code, const QString &message);

// Text of the user's to repeat in a message: quoted, escaped, cut.
QString shown(const QByteArray &raw);

} // namespace Tavrinctl

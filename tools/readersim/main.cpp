// A simulated reader on a pseudo-terminal, for trying the utility without a
// reader: it prints the port name to type into the window and logs every
// frame it receives and every reply it sends.
#include "ptyreader.h"
#include "readermodel.h"

#include "settings/keycodes.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

bool parseByte(const QString &text, quint8 &value)
{
    bool ok = false;
    const int v = text.toInt(&ok, 0);
    if (!ok || v < 0 || v > 255)
        return false;
    value = quint8(v);
    return true;
}

// A symbolic link into /dev/pts/, as --link makes: an earlier run's.
bool isSimulatorLink(const QString &path)
{
    const QFileInfo info(path);
    return info.isSymLink() && info.symLinkTarget().startsWith(QLatin1String("/dev/pts/"));
}

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int)
{
    stopRequested = 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavrin-readersim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays an iButton reader on a pseudo-terminal. Type the port name it prints into "
        "the window's Serial Port field. Key-code strings use the window's notation, e.g. "
        "\"[STX]\" or \"ID:\"; numbers may be decimal or 0x hex."));
    parser.addHelpOption();
    const QCommandLineOption firmware(QStringLiteral("firmware"),
                                      QStringLiteral("Firmware version, 8 characters starting \"1BT\"."),
                                      QStringLiteral("text"));
    const QCommandLineOption flags(QStringLiteral("flags"), QStringLiteral("Flag byte (0x1F: all on)."),
                                   QStringLiteral("n"));
    const QCommandLineOption start(QStringLiteral("start"), QStringLiteral("Output start."),
                                   QStringLiteral("n"));
    const QCommandLineOption length(QStringLiteral("length"), QStringLiteral("Output length."),
                                    QStringLiteral("n"));
    const QCommandLineOption preamble(QStringLiteral("preamble"), QStringLiteral("Preamble text."),
                                      QStringLiteral("text"));
    const QCommandLineOption postamble(QStringLiteral("postamble"), QStringLiteral("Postamble text."),
                                       QStringLiteral("text"));
    const QCommandLineOption removeData(QStringLiteral("remove-data"),
                                        QStringLiteral("Remove-data text."), QStringLiteral("text"));
    const QCommandLineOption silent(QStringLiteral("silent"),
                                    QStringLiteral("Take commands but never answer."));
    const QCommandLineOption split(QStringLiteral("split"),
                                   QStringLiteral("Send each answer in two parts, 300 ms apart."));
    const QCommandLineOption tokens(QStringLiteral("tokens"),
                                    QStringLiteral("Send a token ID every <seconds> seconds."),
                                    QStringLiteral("seconds"));
    const QCommandLineOption link(QStringLiteral("link"),
                                  QStringLiteral("Also make <path> a symbolic link to the port."),
                                  QStringLiteral("path"));
    parser.addOptions({firmware, flags, start, length, preamble, postamble, removeData, silent,
                       split, tokens, link});
    parser.process(app);

    ReaderModel model;
    ReaderState &state = model.state();
    const auto fail = [](const QString &message) {
        std::fprintf(stderr, "tavrin-readersim: %s\n", qPrintable(message));
        return 2;
    };
    if (parser.isSet(firmware))
        state.firmware = parser.value(firmware).toLatin1().leftJustified(8, ' ', true);
    const struct
    {
        const QCommandLineOption &option;
        quint8 &value;
    } bytes[] = {{flags, state.flags}, {start, state.outputStart}, {length, state.outputLength}};
    for (const auto &b : bytes) {
        if (parser.isSet(b.option) && !parseByte(parser.value(b.option), b.value))
            return fail(QStringLiteral("--%1 takes a number from 0 to 255").arg(b.option.names().first()));
    }
    if (parser.isSet(preamble))
        state.preAmble = encodeKeyCodes(parser.value(preamble));
    if (parser.isSet(postamble))
        state.postAmble = encodeKeyCodes(parser.value(postamble));
    if (parser.isSet(removeData))
        state.removeData = encodeKeyCodes(parser.value(removeData));
    model.faults().silent = parser.isSet(silent);
    model.faults().splitReply = parser.isSet(split);

    model.setLogSink([](const QString &line) {
        out() << QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")) << ' ' << line << '\n';
        out().flush();
    });

    PtyReader pty(&model);
    if (!pty.isOpen())
        return fail(QStringLiteral("cannot open a pseudo-terminal: %1").arg(pty.errorString()));

    QString shownName = pty.portName();
    if (parser.isSet(link)) {
        const QString path = parser.value(link);
        // Only a link this program left behind (to a pseudo-terminal) is
        // replaced; anything else at the path is somebody's file.
        if (QFileInfo(path).isSymLink() || QFileInfo::exists(path)) {
            if (!isSimulatorLink(path))
                return fail(QStringLiteral("%1 exists and is not a link to a simulated reader; "
                                           "choose another --link path")
                                .arg(path));
            QFile::remove(path);
        }
        if (::symlink(QFile::encodeName(pty.portName()).constData(), QFile::encodeName(path).constData()) != 0)
            return fail(QStringLiteral("cannot make the link %1").arg(path));
        shownName = path;
    }

    QTimer tokenTimer;
    if (parser.isSet(tokens)) {
        const int seconds = parser.value(tokens).toInt();
        if (seconds <= 0)
            return fail(QStringLiteral("--tokens takes a number of seconds"));
        QObject::connect(&tokenTimer, &QTimer::timeout, &pty, [&] { pty.inject(model.tokenOutput()); });
        tokenTimer.start(seconds * 1000);
    }

    // Only a flag is safe to touch in a signal handler; the loop looks at it.
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    QTimer stopWatch;
    QObject::connect(&stopWatch, &QTimer::timeout, &app, [] {
        if (stopRequested)
            QCoreApplication::quit();
    });
    stopWatch.start(100);

    out() << "Simulated reader ready. In Tavrin choose \"Serial Port\" and type: " << shownName << '\n';
    out().flush();
    const int result = app.exec();
    // Unless something else has taken the path meanwhile.
    if (parser.isSet(link) && QFileInfo(parser.value(link)).symLinkTarget() == pty.portName())
        QFile::remove(parser.value(link));
    return result;
}

#include "commands.h"

#include "ctl.h"
#include "ctlfiles.h"
#include "ctlsession.h"

#include "link/devicemonitor.h"
#include "provision/history.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace Tavrinctl {

const char *const applyHelp =
    "Usage: tavrinctl apply FILE (--all | --device PATH... | --port NAME...)\n"
    "                            [--json] [--log LOG] [--no-verify] [--no-history] [--strict]\n"
    "       tavrinctl apply FILE --watch [--count N] [--json] [--log LOG] ...\n"
    "Writes the settings in FILE (as 'write' does: a partial file changes only its\n"
    "fields) to every reader named, or with --all to every USB reader attached\n"
    "(serial ports only when named), side by side. Each reader is read first and\n"
    "written only when it holds something else (\"already set\" otherwise), then\n"
    "read back. What each held is saved to the history before it is written.\n"
    "Prints a line per reader as it ends, then \"N confirmed, M already set,\n"
    "K failed\". Nothing is sent to any reader unless FILE is valid.\n"
    "  --json          print a JSON array of the readers' records instead\n"
    "  --log LOG       append each record to LOG as one JSON line\n"
    "  --no-verify     skip the read-back: readers are \"unconfirmed\"\n"
    "  --no-history    write without saving what the readers held\n"
    "  --strict        refuse a file with a field the interface cannot carry\n"
    "                  (keyboardCountry over a serial port); without it the field\n"
    "                  is left out of those readers' writes, with a note\n"
    "  --watch         leave the readers attached now alone and apply FILE to each\n"
    "                  USB reader plugged in from now on, until Ctrl+C (or SIGTERM),\n"
    "                  which ends after the readers in hand\n"
    "  --count N       with --watch: end once N readers were handled\n"
    "Exit codes: 0 every reader confirmed or already set (or sent, with\n"
    "--no-verify), 1 any failed or unconfirmed, 2 usage or input error.\n";

namespace {

std::function<std::unique_ptr<DeviceEventSource>()> &deviceEvents()
{
    static std::function<std::unique_ptr<DeviceEventSource>()> source;
    return source;
}

// SIGINT and SIGTERM, while a watch runs: written to a pipe the event loop
// watches, since nothing else may be done in a handler.
int signalPipe[2] = {-1, -1};

extern "C" void onStopSignal(int)
{
    const char byte = 's';
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

class StopSignals
{
public:
    StopSignals()
    {
        if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        struct sigaction action = {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &m_oldInt);
        sigaction(SIGTERM, &action, &m_oldTerm);
        m_notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    }
    ~StopSignals()
    {
        if (!m_notifier)
            return;
        m_notifier.reset();
        sigaction(SIGINT, &m_oldInt, nullptr);
        sigaction(SIGTERM, &m_oldTerm, nullptr);
        ::close(signalPipe[0]);
        ::close(signalPipe[1]);
        signalPipe[0] = signalPipe[1] = -1;
    }
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    QSocketNotifier *notifier() const { return m_notifier.get(); }

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_oldInt = {};
    struct sigaction m_oldTerm = {};
};

// The records of one bench run as they come: a line each (or the JSON at
// the end), the log, the tally.
class Report
{
public:
    Report(const Options &options, Io &io, QFile *log)
        : m_options(options)
        , m_io(io)
        , m_log(log)
    {
    }

    void add(const ProvisionRecord &record)
    {
        m_records.append(record);
        if (m_log && m_logError.isEmpty()) {
            // Each line on disk as it comes: a log that silently stops is
            // worse than none.
            const QByteArray line = QJsonDocument(record.toJson()).toJson(QJsonDocument::Compact) + '\n';
            if (m_log->write(line) != line.size() || !m_log->flush())
                m_logError = m_log->errorString();
            else if (::fsync(m_log->handle()) != 0)
                m_logError = QString::fromLocal8Bit(strerror(errno));
        }
        if (m_options.json)
            return;
        m_io.out << record.reader.id << ' ' << record.path << ": " << resultText(record.result);
        if (record.result == ProvisionResult::Failed
            || (record.result == ProvisionResult::Unconfirmed && !m_options.noVerify))
            m_io.out << ": " << QString(record.reason).replace(QLatin1Char('\n'), QLatin1String("; "));
        m_io.out << '\n';
        m_io.out.flush();
    }

    int finish()
    {
        const auto count = [this](ProvisionResult result) {
            return std::count_if(m_records.cbegin(), m_records.cend(),
                                 [result](const ProvisionRecord &r) { return r.result == result; });
        };
        QString summary = QStringLiteral("%1 confirmed, %2 already set, %3 failed")
                              .arg(count(ProvisionResult::Confirmed))
                              .arg(count(ProvisionResult::AlreadySet))
                              .arg(count(ProvisionResult::Failed));
        const auto unconfirmed = count(ProvisionResult::Unconfirmed);
        if (unconfirmed > 0)
            summary += QStringLiteral(", %1 unconfirmed").arg(unconfirmed);
        if (m_options.json) {
            QList<ProvisionRecord> sorted = m_records;
            std::stable_sort(sorted.begin(), sorted.end(),
                             [](const ProvisionRecord &a, const ProvisionRecord &b) { return a.path < b.path; });
            QJsonArray list;
            for (const ProvisionRecord &r : std::as_const(sorted))
                list.append(r.toJson());
            m_io.out << QJsonDocument(list).toJson(QJsonDocument::Indented);
            // Standard output stays one JSON document.
            m_io.err << summary << '\n';
        } else {
            m_io.out << summary << '\n';
        }
        const bool allGood = std::all_of(m_records.cbegin(), m_records.cend(), [this](const ProvisionRecord &r) {
            return r.result == ProvisionResult::Confirmed || r.result == ProvisionResult::AlreadySet
                || (r.result == ProvisionResult::Unconfirmed && m_options.noVerify);
        });
        // Records not kept are a failure, whatever the readers did: an
        // undo could not find them, and a log cut short is no report.
        bool kept = m_logError.isEmpty();
        if (!kept)
            complain(m_io.err, ReaderFailure, QStringLiteral("cannot write %1: %2").arg(shown(*m_options.log), m_logError));
        const auto unsaved = [](const ProvisionRecord &r) { return !r.historyError.isEmpty(); };
        const auto first = std::find_if(m_records.cbegin(), m_records.cend(), unsaved);
        if (first != m_records.cend()) {
            m_io.err << "tavrinctl: the records of " << std::count_if(m_records.cbegin(), m_records.cend(), unsaved)
                     << " reader(s) could not be saved to the history (" << first->historyError << ")\n";
            m_io.err.flush();
            kept = false;
        }
        if (!kept)
            return ReaderFailure;
        return allGood ? Success : ReaderFailure;
    }

private:
    const Options &m_options;
    Io &m_io;
    QFile *m_log;
    QString m_logError;
    QList<ProvisionRecord> m_records;
};

// Where a name leads in the end: the same device under a link and under its
// target, or named twice, is one reader, and opened twice would fail one run.
QString deviceBehind(const QByteArray &path)
{
    const QString canonical = QFileInfo(QFile::decodeName(path)).canonicalFilePath();
    return canonical.isEmpty() ? QFile::decodeName(path) : canonical;
}

// False, and the run told so, when name reaches a reader named before.
bool firstNaming(const QByteArray &name, const QByteArray &path, QHash<QString, QByteArray> &named, Session &session)
{
    const QString device = deviceBehind(path);
    const auto earlier = named.constFind(device);
    if (earlier == named.cend()) {
        named.insert(device, name);
        return true;
    }
    session.fail(Success, *earlier == name
                              ? QStringLiteral("%1 is named more than once: it is one reader, written once")
                                    .arg(shown(name))
                              : QStringLiteral("%1 and %2 are one reader: it is written once")
                                    .arg(shown(*earlier), shown(name)));
    return false;
}
} // namespace

// The readers the options name, checked before any is written to.
int namedTargets(const Options &options, Session &session, QList<ProvisionTarget> &targets)
{
    QHash<QString, QByteArray> named;
    if (options.all) {
        targets = attachedUsbReaders();
        if (targets.isEmpty())
            return session.fail(ReaderFailure, QStringLiteral("no USB reader is attached"));
        return Success;
    }
    for (const QByteArray &port : options.ports) {
        ProvisionTarget target;
        if (const int failed = serialPortTarget(port, session.links.path(), session.io.err, target); failed != Success)
            return failed;
        if (firstNaming(port, CtlFiles::serialPortPath(port), named, session))
            targets << target;
    }
    const QList<ProvisionTarget> attached = attachedUsbReaders();
    for (const QByteArray &device : options.devices) {
        // A link to a reader's node names that reader.
        const QString path = deviceBehind(device);
        const auto found = std::find_if(attached.begin(), attached.end(), [&](const ProvisionTarget &r) {
            return deviceBehind(QFile::encodeName(r.where)) == path;
        });
        if (found == attached.end())
            return session.fail(ReaderFailure, QStringLiteral("no USB reader at %1 ('tavrinctl list' shows the "
                                                              "readers attached); nothing was written")
                                                   .arg(shown(device)));
        if (firstNaming(device, device, named, session))
            targets << *found;
    }
    return Success;
}

namespace {

int runNamed(const QList<ProvisionTarget> &targets, ProvisionRunner &runner, Report &report)
{
    QEventLoop loop;
    QObject::connect(&runner, &ProvisionRunner::finished, &loop, [&report](const ProvisionRecord &r) { report.add(r); });
    QObject::connect(&runner, &ProvisionRunner::idle, &loop, &QEventLoop::quit);
    for (const ProvisionTarget &target : targets)
        runner.start(target);
    loop.exec();
    return report.finish();
}

int watch(const Options &options, Session &session, ProvisionRunner &runner, Report &report)
{
    std::unique_ptr<DeviceEventSource> source = deviceEvents() ? deviceEvents()() : systemDeviceEvents();
    if (!source)
        return session.fail(ReaderFailure, QStringLiteral("cannot watch for readers plugged in: the system's "
                                                          "device events (udev) are not available"));
    DeviceMonitor monitor(std::move(source));
    const StopSignals stopSignals;
    QEventLoop loop;
    int handled = 0;
    bool stopping = false;
    QSet<QString> inHand;

    for (const ProvisionTarget &r : attachedUsbReaders())
        session.io.err << "left alone, attached at the start: " << r.identity.id << ' ' << r.where << '\n';
    session.io.err << "waiting for readers to be plugged in"
                   << (options.count ? QStringLiteral(" (%1)").arg(*options.count) : QString())
                   << "; Ctrl+C ends\n";
    session.io.err.flush();

    const auto stop = [&] {
        stopping = true;
        if (runner.running() == 0)
            loop.quit();
    };
    const auto wanted = [&] { return !stopping && (!options.count || handled + inHand.size() < *options.count); };
    // The system may tell of the node a moment before the reader can be
    // listed: a few more tries, a tenth of a second apart.
    QHash<QString, int> triesLeft;
    QTimer retry;
    retry.setInterval(100);
    const auto take = [&](const QString &node) {
        if (!wanted() || inHand.contains(node)) {
            triesLeft.remove(node);
            return;
        }
        if (const std::optional<ProvisionTarget> target = attachedUsbReader(node)) {
            triesLeft.remove(node);
            inHand.insert(node);
            runner.start(*target);
        } else if (--triesLeft[node] <= 0) {
            triesLeft.remove(node);
        }
    };
    QObject::connect(&retry, &QTimer::timeout, &loop, [&] {
        for (const QString &node : triesLeft.keys())
            take(node);
        if (triesLeft.isEmpty())
            retry.stop();
    });
    QObject::connect(&monitor, &DeviceMonitor::usbReaderAdded, &loop, [&](const QString &node) {
        triesLeft[node] = 5;
        take(node);
        if (!triesLeft.isEmpty())
            retry.start();
    });
    QObject::connect(&runner, &ProvisionRunner::finished, &loop, [&](const ProvisionRecord &r) {
        inHand.remove(r.path);
        ++handled;
        report.add(r);
        if (options.count && handled >= *options.count)
            stop();
        else if (stopping && runner.running() == 0)
            loop.quit();
    });
    if (QSocketNotifier *notifier = stopSignals.notifier())
        QObject::connect(notifier, &QSocketNotifier::activated, &loop, stop);
    loop.exec();
    return report.finish();
}

} // namespace

void setDeviceEvents(std::function<std::unique_ptr<DeviceEventSource>()> source)
{
    deviceEvents() = std::move(source);
}

int applyCommand(const Options &options, Io &io)
{
    if (options.positional.size() != 1)
        return complain(io.err, UsageError, QStringLiteral("apply needs exactly one FILE (- for standard input)"));
    // Said as what was given: two ways of naming the readers are one too many.
    QStringList ways;
    if (options.all)
        ways << QStringLiteral("--all");
    if (options.watch)
        ways << QStringLiteral("--watch");
    if (!options.devices.isEmpty())
        ways << QStringLiteral("--device");
    if (!options.ports.isEmpty())
        ways << QStringLiteral("--port");
    if (ways.isEmpty())
        return complain(io.err, UsageError, QStringLiteral("apply needs the readers: --all, --watch, --device "
                                                           "PATH... or --port NAME..."));
    if (ways.size() > 1)
        return complain(io.err, UsageError, QStringLiteral("choose either %1 or %2").arg(ways.at(0), ways.at(1)));
    if (options.count && !options.watch)
        return complain(io.err, UsageError, QStringLiteral("--count belongs to --watch"));
    SettingsPatch patch;
    if (const int failed = loadPatch(options.positional.first(), options, io, patch); failed != Success)
        return failed;

    Session session(io);
    QList<ProvisionTarget> targets;
    if (!options.watch) {
        if (const int failed = namedTargets(options, session, targets); failed != Success)
            return failed;
    }
    sayLeftOut(patch, options, io);
    QFile log;
    if (options.log) {
        log.setFileName(QFile::decodeName(*options.log));
        if (!log.open(QIODevice::WriteOnly | QIODevice::Append))
            return session.fail(ReaderFailure,
                                QStringLiteral("cannot open %1: %2").arg(shown(*options.log), log.errorString()));
    }

    const std::unique_ptr<History> history = session.history(options);
    WriteOptions writeOptions;
    writeOptions.verify = !options.noVerify;
    writeOptions.history = history.get();
    writeOptions.runId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    ProvisionRunner runner(patch, writeOptions);
    Report report(options, io, options.log ? &log : nullptr);
    return options.watch ? watch(options, session, runner, report) : runNamed(targets, runner, report);
}

} // namespace Tavrinctl

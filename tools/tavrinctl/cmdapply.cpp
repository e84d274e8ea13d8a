#include "commands.h"

#include "ctl.h"
#include "ctlsession.h"

#include "link/devicemonitor.h"
#include "provision/benchreport.h"
#include "provision/history.h"

#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace Tavrinctl {

const char *const applyHelp =
    "Usage: tavrinctl apply FILE (--all | --device PATH... | --port NAME...)\n"
    "                            [--json] [--log LOG] [--no-verify] [--no-history]\n"
    "       tavrinctl apply FILE --watch [--count N] [--json] [--log LOG] ...\n"
    "Writes the settings in FILE (as 'write' does: a partial file changes only its\n"
    "fields) to every reader named, or with --all to every USB reader attached\n"
    "(serial ports only when named), side by side. Each reader is read first and\n"
    "written only when it holds something else (\"already set\" otherwise), then\n"
    "read back. What each held is saved to the history before it is written.\n"
    "Prints a line per reader as it ends, then the readers by their latest\n"
    "result: \"N confirmed, M already set, K failed\". Nothing is sent to any\n"
    "reader unless FILE is valid. Ctrl+C (or SIGTERM) lets the readers in hand\n"
    "finish, then prints the summary.\n"
    "  --json          print a JSON array of the readers' records instead\n"
    "  --log LOG       append to LOG a header line (FILE, its SHA-256, host,\n"
    "                  version, start), each record as one JSON line and a\n"
    "                  summary line (the totals, the end)\n"
    "  --no-verify     skip the read-back: readers are \"unconfirmed\"\n"
    "  --no-history    write without saving what the readers held\n"
    "  --watch         leave the readers attached now alone and apply FILE to each\n"
    "                  USB reader plugged in from now on, until Ctrl+C (or SIGTERM),\n"
    "                  which ends after the readers in hand; a reader that failed\n"
    "                  is tried again when plugged in again\n"
    "  --count N       with --watch: end once N distinct readers are right\n"
    "                  (confirmed or already set); failed ones do not count\n"
    "Exit codes, each reader by its latest result: 0 every reader confirmed or\n"
    "already set (or sent, with --no-verify), 1 any failed or unconfirmed, 2 usage\n"
    "or input error.\n";

namespace {

std::function<std::unique_ptr<DeviceEventSource>()> &deviceEvents()
{
    static std::function<std::unique_ptr<DeviceEventSource>()> source;
    return source;
}

// SIGINT and SIGTERM, while a bench runs: written to a pipe the event loop
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
    // Takes the signals told of, so that the notifier fires again only for
    // the next one.
    void drain() const
    {
        char bytes[16];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
        }
    }

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_oldInt = {};
    struct sigaction m_oldTerm = {};
};

// The records of one bench run as they come: a line each (or the JSON at
// the end), the log between its header and summary, the readers' tally.
class Report
{
public:
    Report(const Options &options, Io &io, QFile *log, const QJsonObject &header)
        : m_options(options)
        , m_io(io)
        , m_log(log)
    {
        if (m_log)
            writeLog(header);
    }

    void add(const ProvisionRecord &record)
    {
        m_records.append(record);
        if (m_log)
            writeLog(record.toJson());
        if (m_options.json)
            return;
        m_io.out << record.reader.id << ' ' << record.path << ": " << resultText(record.result);
        if (record.result == ProvisionResult::Failed
            || (record.result == ProvisionResult::Unconfirmed && !m_options.noVerify))
            m_io.out << ": " << QString(record.reason).replace(QLatin1Char('\n'), QLatin1String("; "));
        m_io.out << '\n';
        m_io.out.flush();
    }

    ReaderTally tally() const { return tallyReaders(m_records); }

    // Whether the reader's latest attempt in this run got it right.
    bool isRightAlready(const ReaderIdentity &reader) const
    {
        for (auto r = m_records.crbegin(); r != m_records.crend(); ++r) {
            if (r->reader == reader)
                return isRight(r->result);
        }
        return false;
    }

    int finish()
    {
        // Readers, each by its latest result: a retry that worked is a success.
        const ReaderTally readers = tally();
        const QString summary = readers.text();
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
        if (m_log)
            writeLog(benchReportSummary(m_records, QDateTime::currentDateTimeUtc()));
        const bool allGood = readers.failed == 0 && (readers.unconfirmed == 0 || m_options.noVerify);
        return allGood ? Success : ReaderFailure;
    }

private:
    void writeLog(const QJsonObject &json)
    {
        m_log->write(QJsonDocument(json).toJson(QJsonDocument::Compact) + '\n');
        m_log->flush();
    }

    const Options &m_options;
    Io &m_io;
    QFile *m_log;
    QList<ProvisionRecord> m_records;
};

// The readers the options name, checked before any is written to.
int namedTargets(const Options &options, Session &session, QList<ProvisionTarget> &targets)
{
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
        targets << target;
    }
    const QList<ProvisionTarget> attached = attachedUsbReaders();
    for (const QByteArray &device : options.devices) {
        const QString path = QFile::decodeName(device);
        const auto found = std::find_if(attached.begin(), attached.end(),
                                        [&](const ProvisionTarget &r) { return r.where == path; });
        if (found == attached.end())
            return session.fail(ReaderFailure, QStringLiteral("no USB reader at %1 ('tavrinctl list' shows the "
                                                              "readers attached); nothing was written")
                                                   .arg(shown(device)));
        targets << *found;
    }
    return Success;
}

int runNamed(const QList<ProvisionTarget> &targets, ProvisionRunner &runner, Report &report, Io &io)
{
    // Every reader is in hand from the start: Ctrl+C lets them finish, so
    // that none is left half written and the summary is whole.
    const StopSignals stopSignals;
    QEventLoop loop;
    QObject::connect(&runner, &ProvisionRunner::finished, &loop, [&report](const ProvisionRecord &r) { report.add(r); });
    QObject::connect(&runner, &ProvisionRunner::idle, &loop, &QEventLoop::quit);
    if (QSocketNotifier *notifier = stopSignals.notifier()) {
        QObject::connect(notifier, &QSocketNotifier::activated, &loop, [&] {
            stopSignals.drain();
            io.err << "stopping once the readers in hand are done\n";
            io.err.flush();
        });
    }
    for (const ProvisionTarget &target : targets)
        runner.start(target);
    if (runner.running() > 0)
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
    bool stopping = false;
    QSet<QString> inHand;
    // Plugged in again while in hand: tried again once that attempt ends.
    QSet<QString> again;
    QTextStream &err = session.io.err;

    for (const ProvisionTarget &r : attachedUsbReaders())
        err << "left alone, attached at the start: " << r.identity.id << ' ' << r.where << '\n';
    err << "waiting for readers to be plugged in"
        << (options.count ? QStringLiteral(" (%1)").arg(*options.count) : QString()) << "; Ctrl+C ends\n";
    err.flush();

    const auto stop = [&] {
        stopping = true;
        if (runner.running() == 0)
            loop.quit();
    };
    // Distinct readers that ended right; a failed one does not count.
    const auto countReached = [&] { return options.count && report.tally().right() >= *options.count; };
    // The system may tell of the node a moment before the reader can be
    // listed: a few more tries, a tenth of a second apart.
    QHash<QString, int> triesLeft;
    QTimer retry;
    retry.setInterval(100);
    const auto take = [&](const QString &node) {
        if (stopping) {
            triesLeft.remove(node);
            return;
        }
        if (inHand.contains(node)) {
            triesLeft.remove(node);
            again.insert(node);
            err << "plugged in again while in hand, tried again once its attempt ends: " << node << '\n';
            err.flush();
            return;
        }
        const std::optional<ProvisionTarget> target = attachedUsbReader(node);
        if (!target) {
            if (--triesLeft[node] <= 0)
                triesLeft.remove(node);
            return;
        }
        triesLeft.remove(node);
        if (report.isRightAlready(target->identity)) {
            err << "left alone, already right in this run: " << target->identity.id << ' ' << node << '\n';
        } else if (options.count && report.tally().right() + int(inHand.size()) >= *options.count) {
            err << "left alone, the readers in hand make up the count: " << target->identity.id << ' ' << node
                << '\n';
        } else {
            inHand.insert(node);
            runner.start(*target);
        }
        err.flush();
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
        report.add(r);
        if (countReached()) {
            stop();
            return;
        }
        if (again.remove(r.path) && !isRight(r.result))
            take(r.path);
        if (stopping && runner.running() == 0)
            loop.quit();
    });
    if (QSocketNotifier *notifier = stopSignals.notifier()) {
        QObject::connect(notifier, &QSocketNotifier::activated, &loop, [&] {
            stopSignals.drain();
            stop();
        });
    }
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
    const int ways = int(options.all) + int(options.watch) + int(!options.ports.isEmpty() || !options.devices.isEmpty());
    if (ways != 1)
        return complain(io.err, UsageError, QStringLiteral("apply needs one of --all, --watch, --device PATH... and "
                                                           "--port NAME..."));
    if (options.count && !options.watch)
        return complain(io.err, UsageError, QStringLiteral("--count belongs to --watch"));
    SettingsPatch patch;
    QByteArray settings;
    const QDateTime started = QDateTime::currentDateTimeUtc();
    if (const int failed = loadPatch(options.positional.first(), transportOf(options), io, patch, &settings);
        failed != Success)
        return failed;

    Session session(io);
    QList<ProvisionTarget> targets;
    if (!options.watch) {
        if (const int failed = namedTargets(options, session, targets); failed != Success)
            return failed;
    }
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
    writeOptions.retriedOnReplug = options.watch;
    ProvisionRunner runner(patch, writeOptions);
    const QByteArray &file = options.positional.first();
    const QString settingsName = file == "-" ? QStringLiteral("standard input") : QFile::decodeName(file);
    Report report(options, io, options.log ? &log : nullptr, benchReportHeader(settingsName, settings, started));
    return options.watch ? watch(options, session, runner, report) : runNamed(targets, runner, report, io);
}

} // namespace Tavrinctl

#include "commands.h"

#include "ctl.h"
#include "ctlfiles.h"
#include "ctlsession.h"

#include "link/devicemonitor.h"
#include "provision/benchreport.h"
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
    "  --strict        refuse a file with a field the interface cannot carry\n"
    "                  (keyboardCountry over a serial port); without it the field\n"
    "                  is left out of those readers' writes, with a note\n"
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
    // Each line on disk as it comes: a log that silently stops is worse
    // than none.
    void writeLog(const QJsonObject &json)
    {
        if (!m_logError.isEmpty())
            return;
        const QByteArray line = QJsonDocument(json).toJson(QJsonDocument::Compact) + '\n';
        if (m_log->write(line) != line.size() || !m_log->flush())
            m_logError = m_log->errorString();
        else if (::fsync(m_log->handle()) != 0)
            m_logError = QString::fromLocal8Bit(strerror(errno));
    }

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
    QByteArray settings;
    const QDateTime started = QDateTime::currentDateTimeUtc();
    if (const int failed = loadPatch(options.positional.first(), options, io, patch, &settings); failed != Success)
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
    writeOptions.retriedOnReplug = options.watch;
    ProvisionRunner runner(patch, writeOptions);
    const QByteArray &file = options.positional.first();
    const QString settingsName = file == "-" ? QStringLiteral("standard input") : QFile::decodeName(file);
    Report report(options, io, options.log ? &log : nullptr, benchReportHeader(settingsName, settings, started));
    return options.watch ? watch(options, session, runner, report) : runNamed(targets, runner, report, io);
}

} // namespace Tavrinctl

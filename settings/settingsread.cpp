#include "settingsread.h"

#include "link/commandframe.h"
#include "link/readerlink.h"
#include "settings/serialreply.h"
#include "settings/tracing.h"

#include <QDebug>
#include <QEventLoop>
#include <QTimer>

namespace SettingsRead {

namespace {

const char *blockTrace(Step step)
{
    switch (step) {
    case Step::PreAmble:
        return "PreAmble Len=%d %x %x %x %x";
    case Step::PostAmble:
        return "PostAmble Len=%d %x %x %x %x";
    default:
        return "Revome data Len=%d %x %x %x %x";
    }
}

std::optional<QByteArray> ReaderSettings::*blockField(Step step)
{
    switch (step) {
    case Step::PreAmble:
        return &ReaderSettings::preAmble;
    case Step::PostAmble:
        return &ReaderSettings::postAmble;
    default:
        return &ReaderSettings::removeData;
    }
}

void traceBlock(const char *format, const QByteArray &reply)
{
    qCDebug(lcSettings, format, int(quint8(reply[0])), unsigned(quint8(reply[1])), unsigned(quint8(reply[2])),
           unsigned(quint8(reply[3])), unsigned(quint8(reply[4])));
}

ReaderSettings decodeStep(Step step, const QByteArray &reply)
{
    if (step == Step::Status)
        return decodeHidStatus(reply);

    traceBlock(blockTrace(step), reply);
    ReaderSettings decoded;
    decoded.source = SettingsSource::Hid;
    decoded.*blockField(step) = decodeHidBlock(reply);
    return decoded;
}

} // namespace

quint8 commandOf(Step step)
{
    switch (step) {
    case Step::Status:
        return CmdGetStatus;
    case Step::PreAmble:
        return CmdGetPreAmble;
    case Step::PostAmble:
        return CmdGetPostAmble;
    case Step::RemoveData:
        return CmdGetRemoveData;
    }
    return CmdGetStatus;
}

std::optional<Step> firstMissingBlock(const ReaderSettings &settings)
{
    for (const Step step : {Step::PreAmble, Step::PostAmble, Step::RemoveData}) {
        if (!(settings.*blockField(step)))
            return step;
    }
    return std::nullopt;
}

HidResult overHid(ReaderLink &link, const StepDecoded &onStep)
{
    HidResult result;
    for (const Step step : {Step::Status, Step::PreAmble, Step::PostAmble, Step::RemoveData}) {
        const std::optional<QByteArray> reply = link.exchange(commandFrame(commandOf(step)));
        if (!reply) {
            result.failedAt = step;
            return result;
        }
        const ReaderSettings decoded = decodeStep(step, *reply);
        result.settings.merge(decoded);
        // A block the reader garbled is as much a failure as one it never
        // sent; the read still fetches the others.
        if (step != Step::Status && !result.failedAt && !(decoded.*blockField(step)))
            result.failedAt = step;
        if (onStep)
            onStep(step, decoded);
    }
    result.answered = true;
    return result;
}

bool readOnceOverHid(ReaderLink &link, const std::function<void(const ReaderSettings &)> &onDecoded)
{
    const auto exchange = [&link](quint8 code) {
        return link.exchange(commandFrame(code), ReaderLink::SeqAt::FirstParameter);
    };

    // A reply that never came is not decoded: a zeroed buffer is not the
    // reader's answer. The other steps still run, as they always did.
    const std::optional<QByteArray> status = exchange(CmdGetStatus);
    bool allAnswered = status.has_value();
    if (status)
        onDecoded(decodeHidStatus(*status, SettingsSource::LegacyHid));

    struct Block
    {
        quint8 code;
        const char *trace;
        std::optional<QByteArray> ReaderSettings::*field;
    };
    const Block blocks[] = {
        {CmdGetPreAmble, "PreAmble Len=%d %x %x %x %x", &ReaderSettings::preAmble},
        {CmdGetPostAmble, "PostAmble Len=%d %x %x %x %x", &ReaderSettings::postAmble},
        {CmdGetRemoveData, "Remove Data Len=%d %x %x %x %x", &ReaderSettings::removeData},
    };
    for (const Block &block : blocks) {
        const std::optional<QByteArray> reply = exchange(block.code);
        if (!reply) {
            allAnswered = false;
            continue;
        }
        traceBlock(block.trace, *reply);
        if (block.code == CmdGetRemoveData)
            qCDebug(lcSettings, "Checksum = %x", unsigned(legacyTraceChecksum(*reply)));
        ReaderSettings decoded;
        decoded.source = SettingsSource::LegacyHid;
        decoded.*block.field = decodeHidBlock(*reply, SettingsSource::LegacyHid);
        onDecoded(decoded);
    }
    return allAnswered;
}

QByteArrayList serialRequests()
{
    return {commandFrame(CmdGetStatus),   commandFrame(CmdFlags),        commandFrame(CmdOutput),
            commandFrame(CmdGetPreAmble), commandFrame(CmdGetPostAmble), commandFrame(CmdGetRemoveData)};
}

std::optional<QByteArray> overSerial(ReaderLink &link, const std::function<void(int)> &afterFrame, int timeoutMs)
{
    SerialReplyFinder finder;
    std::optional<QByteArray> reply;
    QEventLoop loop;
    QObject::connect(&link, &ReaderLink::received, &loop, [&](const QByteArray &chunk) {
        finder.append(chunk);
        if (!reply)
            reply = finder.take();
        if (reply)
            loop.quit();
    });
    // The reply is taken as its bytes arrive, not at the next tick of the
    // poll: the read ends as soon as the reply is whole.
    QObject::connect(&link, &ReaderLink::bytesArrived, &loop, [&link] { link.pollNow(); });
    QObject::connect(&link, &ReaderLink::lost, &loop, &QEventLoop::quit);
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);

    const QByteArrayList frames = serialRequests();
    for (int i = 0; i < frames.size(); ++i) {
        if (!link.send(frames[i])) {
            qCDebug(lcSettings, "Unable to write settings request %d to the serial port\n", i);
            return std::nullopt;
        }
        if (afterFrame)
            afterFrame(i + 1);
    }
    deadline.start(timeoutMs);
    while (!reply && deadline.isActive() && link.isOpen())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return reply;
}

namespace {

QString stepName(Step step)
{
    switch (step) {
    case Step::Status:
        return QStringLiteral("status");
    case Step::PreAmble:
        return QStringLiteral("preamble");
    case Step::PostAmble:
        return QStringLiteral("postamble");
    case Step::RemoveData:
        return QStringLiteral("remove-data");
    }
    return QString();
}

std::optional<ReaderSettings> failed(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return std::nullopt;
}

} // namespace

std::optional<ReaderSettings> everySetting(ReaderLink &link, QString *error)
{
    ReaderSettings settings;
    if (link.transport() == ReaderLink::Transport::Serial) {
        // The reply may arrive in pieces and behind unsolicited token output.
        const std::optional<QByteArray> reply = overSerial(link);
        if (!reply) {
            if (!link.isOpen())
                return failed(error, QStringLiteral("the serial port failed: %1").arg(link.errorString()));
            return failed(error, QStringLiteral("no complete settings reply within %1 ms").arg(SerialReplyTimeoutMs));
        }
        settings = decodeSerialReply(*reply).value_or(ReaderSettings());
        if (const std::optional<Step> missing = firstMissingBlock(settings))
            return failed(error,
                          QStringLiteral("the reader's %1 block was damaged (count above 31)").arg(stepName(*missing)));
        return settings;
    }
    const HidResult result = overHid(link);
    if (!result.answered)
        return failed(error, QStringLiteral("the reader did not answer the %1 request: %2")
                                 .arg(stepName(*result.failedAt), link.errorString()));
    if (const std::optional<Step> missing = firstMissingBlock(result.settings))
        return failed(error,
                      QStringLiteral("the reader's %1 block was damaged (count or checksum)").arg(stepName(*missing)));
    return result.settings;
}

} // namespace SettingsRead

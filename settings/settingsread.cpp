#include "settingsread.h"

#include "link/readerlink.h"

#include <QDebug>

namespace SettingsRead {

namespace {

QByteArray replyBytes(const HidReplyBuffer &reply)
{
    return QByteArray(reinterpret_cast<const char *>(reply.data()), HidReply::ReadLength);
}

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

ReaderSettings decodeStep(Step step, const HidReplyBuffer &reply)
{
    if (step == Step::Status)
        return decodeHidStatus(replyBytes(reply));

    qDebug(blockTrace(step), int(reply[0]), unsigned(reply[1]), unsigned(reply[2]),
           unsigned(reply[3]), unsigned(reply[4]));
    ReaderSettings decoded;
    decoded.source = SettingsSource::Hid;
    decoded.*blockField(step) = decodeHidBlock(replyBytes(reply));
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

HidReport hidRequest(quint8 code, quint8 seq)
{
    return HidReport::fromFrame(commandFrame(code), seq);
}

HidReport legacyHidRequest(quint8 code, quint8 seq)
{
    return HidReport::fromFrame(commandFrame(code, seq));
}

HidResult overHid(ReaderLink &link, const StepDecoded &onStep)
{
    HidResult result;
    for (const Step step : {Step::Status, Step::PreAmble, Step::PostAmble, Step::RemoveData}) {
        HidReplyBuffer reply;
        reply.fill(0);
        const quint8 seq = link.NextSeqNo();
        if (!link.HidExchange(hidRequest(commandOf(step), seq), reply.data(), seq)) {
            result.failedAt = step;
            return result;
        }
        const ReaderSettings decoded = decodeStep(step, reply);
        result.settings.merge(decoded);
        if (onStep)
            onStep(step, decoded);
    }
    return result;
}

QByteArrayList serialRequests()
{
    return {commandFrame(CmdGetStatus),   commandFrame(CmdFlags),
            commandFrame(CmdOutput),      commandFrame(CmdGetPreAmble),
            commandFrame(CmdGetPostAmble), commandFrame(CmdGetRemoveData)};
}

} // namespace SettingsRead

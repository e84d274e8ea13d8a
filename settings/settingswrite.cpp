#include "settingswrite.h"

#include "link/commandframe.h"
#include "settings/keycodes.h"
#include "settings/readersettings.h"
#include "settings/tracing.h"

#include <QDebug>

#include <algorithm>
#include <iterator>

namespace {

constexpr quint8 WriteValues = 0x01;

constexpr quint8 HidSteps[] = {CmdFlags,       CmdOutput,       CmdKbCountry,    CmdSetPreAmble,
                               CmdSetPostAmble, CmdSetRemoveData, CmdSettingsDone};
constexpr quint8 SerialSteps[] = {CmdFlags,        CmdOutput,        CmdSetPreAmble,
                                  CmdSetPostAmble, CmdSetRemoveData, CmdSettingsDone};

bool isDataBlock(quint8 code)
{
    return code == CmdSetPreAmble || code == CmdSetPostAmble || code == CmdSetRemoveData;
}

QString fieldName(quint8 code)
{
    switch (code) {
    case CmdSetPreAmble: return WriteFieldLabels::PreAmble;
    case CmdSetPostAmble: return WriteFieldLabels::PostAmble;
    default: return WriteFieldLabels::RemoveData;
    }
}

} // namespace

quint8 SettingsWriteRequest::flagsFromChecks(bool removeData, bool postAmble, bool preAmble,
                                             bool autoReport, bool buzzer)
{
    return quint8((removeData ? 0x01 : 0) | (postAmble ? 0x02 : 0) | (preAmble ? 0x04 : 0)
                  | (autoReport ? 0x08 : 0) | (buzzer ? 0x10 : 0));
}

SettingsWriteSequence::SettingsWriteSequence(const SettingsWriteRequest &request,
                                             WriteTransport transport)
    : m_request(request)
    , m_transport(transport)
{
}

int SettingsWriteSequence::count() const
{
    return m_transport == WriteTransport::Hid ? int(std::size(HidSteps)) : int(std::size(SerialSteps));
}

quint8 SettingsWriteSequence::command(int step) const
{
    Q_ASSERT(step >= 0 && step < count());
    return m_transport == WriteTransport::Hid ? HidSteps[step] : SerialSteps[step];
}

const QString &SettingsWriteSequence::blockText(quint8 code) const
{
    switch (code) {
    case CmdSetPreAmble: return m_request.preAmble;
    case CmdSetPostAmble: return m_request.postAmble;
    default: return m_request.removeData;
    }
}

QByteArray SettingsWriteSequence::blockCodes(quint8 code, KeyCodeTrace trace) const
{
    const std::optional<QByteArray> &exact = code == CmdSetPreAmble    ? m_request.preAmbleCodes
                                             : code == CmdSetPostAmble ? m_request.postAmbleCodes
                                                                       : m_request.removeDataCodes;
    return exact ? *exact : encodeKeyCodes(blockText(code), trace);
}

QList<OverlongText> SettingsWriteSequence::overlongTexts() const
{
    QList<OverlongText> overlong;
    for (const quint8 code : {CmdSetPreAmble, CmdSetPostAmble, CmdSetRemoveData}) {
        const int length = int(blockCodes(code, KeyCodeTrace::Off).size());
        if (length > WriteLimits::BlockCodes)
            overlong.append({fieldName(code), length, WriteLimits::BlockCodes});
    }
    return overlong;
}

QString SettingsWriteSequence::refusalText() const
{
    QStringList lines;
    for (const OverlongText &text : overlongTexts()) {
        lines << QStringLiteral("%1: %2 key codes are too many; a read shows at most %3.")
                     .arg(text.field)
                     .arg(text.length)
                     .arg(text.limit);
    }
    if (lines.isEmpty())
        return {};
    lines << QStringLiteral("Nothing was written to the reader.");
    return lines.join(QLatin1Char('\n'));
}

QByteArray SettingsWriteSequence::dataBlock(quint8 code, bool tracePreAmble) const
{
    // Checked untraced first: a frame that does not fit is never built.
    if (blockCodes(code, KeyCodeTrace::Off).size() > WriteLimits::BlockCodes)
        return {};

    const QByteArray codes = blockCodes(code, tracePreAmble ? KeyCodeTrace::PreAmble : KeyCodeTrace::Off);
    QByteArray frame = commandFrame(code).left(3);
    frame.append(char(quint8(codes.size())));
    frame.append(codes);
    // The serial frame runs over the text's length, not the count: a text
    // with bracketed names leaves zero bytes behind its codes, up to the 64
    // bytes a frame may take.
    if (m_transport == WriteTransport::Serial) {
        const int length = std::min<int>(4 + int(blockText(code).size()), WriteLimits::SerialFrameBytes);
        if (length > frame.size())
            frame.append(QByteArray(length - int(frame.size()), '\0'));
    }
    return frame;
}

QByteArray SettingsWriteSequence::frame(int step) const
{
    const quint8 code = command(step);
    if (isDataBlock(code))
        return dataBlock(code, code == CmdSetPreAmble);

    QByteArray bare;
    switch (code) {
    case CmdFlags:
        bare = commandFrame(code, WriteValues, m_request.flags);
        break;
    case CmdOutput: {
        const int start = m_request.outputStart.toInt(nullptr, 10);
        qCDebug(lcSettings, "t1num: %d", start);
        const int length = m_request.outputLength.toInt(nullptr, 10);
        qCDebug(lcSettings, "t2num: %d", length);
        bare = commandFrame(code, WriteValues, quint8(start), quint8(length));
        if (m_transport == WriteTransport::Serial)
            qCDebug(lcSettings, "serial_buf: %x %x", unsigned(quint8(start)), unsigned(quint8(length)));
        break;
    }
    case CmdKbCountry:
        bare = commandFrame(code, WriteValues, quint8(m_request.kbCountry));
        break;
    default:
        bare = guardedFrame(CmdSettingsDone);
        break;
    }
    return bare;
}

ReaderSettings SettingsWriteSequence::expected() const
{
    ReaderSettings s;
    s.source = m_transport == WriteTransport::Hid ? SettingsSource::Hid : SettingsSource::Serial;
    s.flags = m_request.flags;
    s.outputStart = quint8(m_request.outputStart.toInt(nullptr, 10));
    s.outputLength = quint8(m_request.outputLength.toInt(nullptr, 10));
    if (m_transport == WriteTransport::Hid)
        s.kbCountry = quint8(m_request.kbCountry);
    s.preAmble = blockCodes(CmdSetPreAmble, KeyCodeTrace::Off);
    s.postAmble = blockCodes(CmdSetPostAmble, KeyCodeTrace::Off);
    s.removeData = blockCodes(CmdSetRemoveData, KeyCodeTrace::Off);
    return s;
}

int SettingsWriteSequence::run(const std::function<bool(const QByteArray &)> &send) const
{
    if (!overlongTexts().isEmpty())
        return 0;
    for (int step = 0; step < count(); ++step) {
        if (!send(frame(step)))
            return step;
    }
    return count();
}

#include "settingswrite.h"

#include "link/commandframe.h"
#include "settings/keycodes.h"

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
    case CmdSetPreAmble: return QStringLiteral("PreAmble");
    case CmdSetPostAmble: return QStringLiteral("PostAmble");
    default: return QStringLiteral("Remove Data");
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

QList<OverlongText> SettingsWriteSequence::overlongTexts() const
{
    QList<OverlongText> overlong;
    for (const quint8 code : {CmdSetPreAmble, CmdSetPostAmble, CmdSetRemoveData}) {
        const QString &text = blockText(code);
        const int length = m_transport == WriteTransport::Hid
            ? int(encodeKeyCodes(text, KeyCodeTrace::Off).size())
            : int(text.size());
        const int limit = m_transport == WriteTransport::Hid ? WriteLimits::HidBlockCodes
                                                             : WriteLimits::SerialBlockText;
        if (length > limit)
            overlong.append({fieldName(code), length, limit});
    }
    return overlong;
}

QString SettingsWriteSequence::refusalText() const
{
    const bool hid = m_transport == WriteTransport::Hid;
    QStringList lines;
    for (const OverlongText &text : overlongTexts()) {
        lines << QStringLiteral("%1 is too long: %2 %3, at most %4 fit in one %5 frame.")
                     .arg(text.field)
                     .arg(text.length)
                     .arg(hid ? QStringLiteral("key codes") : QStringLiteral("characters"))
                     .arg(text.limit)
                     .arg(hid ? QStringLiteral("USB") : QStringLiteral("serial"));
    }
    if (lines.isEmpty())
        return {};
    lines << QStringLiteral("Nothing was written to the reader.");
    return lines.join(QLatin1Char('\n'));
}

QByteArray SettingsWriteSequence::dataBlock(quint8 code, const QString &text,
                                            bool tracePreAmble) const
{
    const bool hid = m_transport == WriteTransport::Hid;
    // Checked untraced first: a frame that does not fit is never built.
    if (!hid && text.size() > WriteLimits::SerialBlockText)
        return {};
    if (hid && encodeKeyCodes(text, KeyCodeTrace::Off).size() > WriteLimits::HidBlockCodes)
        return {};

    const QByteArray codes =
        encodeKeyCodes(text, tracePreAmble ? KeyCodeTrace::PreAmble : KeyCodeTrace::Off);
    QByteArray frame = commandFrame(code).left(3);
    frame.append(char(quint8(codes.size())));
    frame.append(codes);
    // The serial frame runs over the text's length, not the count: a text
    // with bracketed names leaves zero bytes behind its codes.
    if (!hid)
        frame.append(QByteArray(int(text.size()) - int(codes.size()), '\0'));
    return frame;
}

QByteArray SettingsWriteSequence::frame(int step) const
{
    const quint8 code = command(step);
    if (isDataBlock(code))
        return dataBlock(code, blockText(code), code == CmdSetPreAmble);

    QByteArray bare;
    switch (code) {
    case CmdFlags:
        bare = commandFrame(code, WriteValues, m_request.flags);
        break;
    case CmdOutput: {
        const int start = m_request.outputStart.toInt(nullptr, 10);
        qDebug("t1num: %d", start);
        const int length = m_request.outputLength.toInt(nullptr, 10);
        qDebug("t2num: %d", length);
        bare = commandFrame(code, WriteValues, quint8(start), quint8(length));
        if (m_transport == WriteTransport::Serial)
            qDebug("serial_buf: %x %x", unsigned(quint8(start)), unsigned(quint8(length)));
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

#include "readermodel.h"

#include "readerreplies.h"

#include "link/commandframe.h"

#include <algorithm>

namespace {

constexpr int ReportSeqOffset = HidReport::SeqOffset;

quint8 byteAt(const QByteArray &bytes, int i)
{
    return i < bytes.size() ? quint8(bytes[i]) : 0;
}

bool isGuarded(const QByteArray &frame)
{
    return frame.size() >= Frame::Length
        && std::equal(std::begin(Frame::Guard), std::end(Frame::Guard),
                      reinterpret_cast<const quint8 *>(frame.constData()) + 3);
}

bool isBlockRead(quint8 code)
{
    return code == CmdGetPreAmble || code == CmdGetPostAmble || code == CmdGetRemoveData;
}

// A sequence number that an earlier request could have carried, never seq
// itself (0 stands for "no sequence number" and also gets one).
quint8 olderSeq(quint8 seq)
{
    return seq <= 1 ? 255 : quint8(seq - 1);
}

} // namespace

QString ReaderModel::hexLine(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

// Trimmed in halves, so that a long run pays for it rarely.
template <typename List>
static void keepRecent(List &list, int limit)
{
    if (list.size() > 2 * limit)
        list.remove(0, list.size() - limit);
}

void ReaderModel::addLog(const QString &line)
{
    m_log.append(line);
    keepRecent(m_log, HistoryLimit);
    if (m_sink)
        m_sink(line);
}

void ReaderModel::addFrame(const QByteArray &frame)
{
    m_frames.append(frame);
    keepRecent(m_frames, HistoryLimit);
}

bool ReaderModel::apply(const QByteArray &frame, bool serial)
{
    const quint8 code = byteAt(frame, 2);
    const quint8 p1 = byteAt(frame, 3);
    const quint8 p2 = byteAt(frame, 4);
    const quint8 p3 = byteAt(frame, 5);

    auto ignored = [this](const char *why) {
        addLog(QStringLiteral("note ignored: %1").arg(QLatin1String(why)));
        return false;
    };
    auto guarded = [&](int &counter) {
        if (!isGuarded(frame))
            return ignored("no 55 AA 55 AA guard");
        ++counter;
        return true;
    };

    if (code != 0 && code == m_faults.ignoresWriteOf)
        return ignored("lost (fault)");
    switch (code) {
    case CmdGetStatus:
    case CmdGetPreAmble:
    case CmdGetPostAmble:
    case CmdGetRemoveData:
        return true;
    case CmdFlags:
        if (p1 == 0x01)
            m_state.flags = p2;
        else if (p1 != 0x00)
            return ignored("P1 is neither read nor write");
        return true;
    case CmdOutput:
        if (p1 == 0x01) {
            m_state.outputStart = p2;
            m_state.outputLength = p3;
        } else if (p1 != 0x00) {
            return ignored("P1 is neither read nor write");
        }
        return true;
    case CmdKbCountry:
        if (serial)
            return ignored("keyboard country does not exist on the serial side");
        if (p1 != 0x01)
            return ignored("keyboard country is write-only");
        m_state.kbCountry = p2;
        return true;
    case CmdSetPreAmble:
    case CmdSetPostAmble:
    case CmdSetRemoveData:
        *ReaderReplies::blockOf(m_state, code) = frame.mid(4, p1);
        return true;
    case CmdSettingsDone:
        return guarded(m_settingsDone);
    case CmdChangeMode:
        return guarded(m_changeMode);
    case CmdIspMode:
        return guarded(m_ispMode);
    default:
        return ignored("unknown command code");
    }
}

// ---- USB -------------------------------------------------------------

void ReaderModel::usbWrite(const QByteArray &report)
{
    const int frameAt = HidReport::FrameOffset;
    if (report.size() < frameAt + Frame::Length || byteAt(report, frameAt) != Frame::Esc
        || byteAt(report, frameAt + 1) != Frame::B) {
        addLog(QStringLiteral("bad ") + hexLine(report.left(frameAt + Frame::Length)));
        return;
    }
    const quint8 code = byteAt(report, frameAt + 2);
    QByteArray frame;
    if (SerialFrameSplitter::isDataBlock(code)) {
        const int room = int(report.size()) - (frameAt + 4);
        const int n = std::min<int>(byteAt(report, frameAt + 3), room);
        frame = report.mid(frameAt, 4 + n);
    } else {
        frame = report.mid(frameAt, Frame::Length);
    }
    const quint8 seq = byteAt(report, ReportSeqOffset);
    addLog(QStringLiteral("rx ") + hexLine(frame)
           + (seq ? QStringLiteral(" seq ") + hexLine(QByteArray(1, char(seq))) : QString()));
    addFrame(frame);

    if (!SerialFrameSplitter::isDataBlock(code) && byteAt(frame, Frame::Length - 1) != Frame::Cr) {
        addLog(QStringLiteral("note ignored: frame does not end with CR"));
        return;
    }
    const bool understood = apply(frame, false);
    if (m_faults.silent)
        return;

    const quint8 echo = expectedEcho(seq);
    if (code == CmdGetStatus)
        queueUsb(ReaderReplies::usbStatus(m_state, echo), seq);
    else if (isBlockRead(code))
        queueUsb(ReaderReplies::usbBlock(*ReaderReplies::blockOf(m_state, code), echo,
                                         m_faults.badChecksum),
                 seq);
    else if (understood && m_faults.answerOneWay)
        queueUsb(ReaderReplies::usbEmpty(echo), seq);
}

void ReaderModel::queueUsb(const QByteArray &report, quint8 seq)
{
    const int late = std::max(0, m_faults.lateReads);
    const qint64 due = m_clock.elapsed() + m_replyLatencyMs;
    if (m_faults.staleEchoFirst) {
        m_usbQueue.append({ReaderReplies::usbEmpty(expectedEcho(olderSeq(seq))), late, due});
        m_usbQueue.append({report, 0, due});
    } else {
        m_usbQueue.append({report, late, due});
    }
}

void ReaderModel::injectUsb(const QByteArray &report)
{
    m_usbQueue.append({report, 0, m_clock.elapsed()});
}

int ReaderModel::msUntilReadable() const
{
    if (m_usbQueue.isEmpty() || m_usbQueue.first().emptyReadsLeft > 0)
        return -1;
    return int(std::max<qint64>(0, m_usbQueue.first().dueMs - m_clock.elapsed()));
}

QByteArray ReaderModel::usbRead(UsbRead mode)
{
    if (m_usbQueue.isEmpty())
        return {};
    QueuedReport &head = m_usbQueue.first();
    if (mode == UsbRead::Poll && head.emptyReadsLeft > 0) {
        --head.emptyReadsLeft;
        return {};
    }
    if (mode == UsbRead::Poll && head.dueMs > m_clock.elapsed())
        return {};
    QByteArray report = m_usbQueue.takeFirst().bytes;
    addLog(QStringLiteral("tx ") + hexLine(report));
    return report;
}

// ---- Serial ----------------------------------------------------------

QByteArray ReaderModel::serialReplyTo(const QByteArray &frame) const
{
    const quint8 code = byteAt(frame, 2);
    const bool read = byteAt(frame, 3) == 0x00;
    switch (code) {
    case CmdGetStatus:
        return ReaderReplies::serialVersion(m_state);
    case CmdFlags:
        return read ? ReaderReplies::serialFlags(m_state) : QByteArray();
    case CmdOutput:
        return read ? ReaderReplies::serialOutput(m_state) : QByteArray();
    case CmdGetPreAmble:
    case CmdGetPostAmble:
    case CmdGetRemoveData:
        return ReaderReplies::serialBlock(code, *ReaderReplies::blockOf(m_state, code));
    default:
        return {};
    }
}

QByteArrayList ReaderModel::serialReceive(const QByteArray &bytes)
{
    m_splitter.append(bytes);
    QByteArray answer;
    for (;;) {
        const SerialFrameSplitter::Piece piece = m_splitter.next();
        if (piece.kind == SerialFrameSplitter::Kind::None)
            break;
        if (piece.kind == SerialFrameSplitter::Kind::Skipped) {
            m_skipped.append(piece.bytes);
            if (m_skipped.size() > 2 * HistoryLimit)
                m_skipped = m_skipped.right(HistoryLimit);
            addLog(QStringLiteral("skip ") + hexLine(piece.bytes));
            continue;
        }
        if (piece.kind == SerialFrameSplitter::Kind::Malformed) {
            addLog(QStringLiteral("bad ") + hexLine(piece.bytes)
                   + QStringLiteral(" (no CR at byte 7)"));
            continue;
        }
        addLog(QStringLiteral("rx ") + hexLine(piece.bytes));
        addFrame(piece.bytes);
        apply(piece.bytes, true);
        if (m_faults.silent)
            continue;
        const QByteArray reply = serialReplyTo(piece.bytes);
        if (!reply.isEmpty()) {
            addLog(QStringLiteral("tx ") + hexLine(reply));
            answer.append(reply);
        }
    }
    if (answer.isEmpty())
        return {};
    if (m_faults.splitReply && answer.size() > 1) {
        const int at = (m_faults.splitAt > 0 && m_faults.splitAt < answer.size())
            ? m_faults.splitAt
            : int(answer.size() / 2);
        return {answer.left(at), answer.mid(at)};
    }
    return {answer};
}

QByteArray ReaderModel::tokenOutput()
{
    QByteArray line = m_state.tokenId + "\r\n";
    addLog(QStringLiteral("tx ") + hexLine(line));
    return line;
}

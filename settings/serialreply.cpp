#include "serialreply.h"

#include "settings/readersettings.h"

using namespace ReaderSettingsWire;

namespace {

constexpr char Magic[] = "1BT";
constexpr int MagicLength = 3;
constexpr char Cr = 0x0D;

// How long the run starting at start is, from its block counts; 0 while
// bytes it needs to tell have not arrived.
int runLength(const QByteArray &bytes, int start)
{
    int at = start + SerialFirstBlockOffset;
    for (int block = 0; block < 3; ++block) {
        if (at + SerialBlockCountOffset >= bytes.size())
            return 0;
        at += SerialBlockOverhead + quint8(bytes[at + SerialBlockCountOffset]);
    }
    return at - start;
}

} // namespace

void SerialReplyFinder::append(const QByteArray &chunk)
{
    m_pending.append(chunk);
}

std::optional<QByteArray> SerialReplyFinder::take()
{
    // The first run that is whole and ends with CR wins. One still arriving
    // is kept for later, but does not hold back a whole one behind it: a
    // "1BT" in noise may announce far more bytes than ever come.
    int keepFrom = -1;
    for (int start = int(m_pending.indexOf(Magic)); start >= 0; start = int(m_pending.indexOf(Magic, start + 1))) {
        const int length = runLength(m_pending, start);
        if (length == 0 || start + length > m_pending.size()) {
            if (keepFrom < 0)
                keepFrom = start;
            continue;
        }
        if (m_pending.at(start + length - 1) == Cr) {
            const QByteArray reply = m_pending.mid(start, length);
            m_pending.remove(0, start + length);
            return reply;
        }
    }
    if (keepFrom >= 0)
        m_pending.remove(0, keepFrom);
    else // only a "1B" at the very end may still become a reply
        m_pending = m_pending.right(MagicLength - 1);
    return std::nullopt;
}

#pragma once

#include <QByteArray>

#include <optional>

// Finds the reader's serial settings reply in what the port brings: the six
// replies as one run, from its "1BT" to the CR that ends the remove-data
// block, wherever it lies among other output (token IDs before or after it)
// and however the polls cut it. The run's length follows from its three
// block counts, so a CR among the key codes does not end it early.
class SerialReplyFinder
{
public:
    // The longest run there can be: three 8-byte replies and three blocks of
    // at most 255 codes and 5 bytes around them.
    static constexpr int MaxReplyBytes = 24 + 3 * (5 + 255);

    void append(const QByteArray &chunk);
    // The first whole reply that has arrived, taken out with everything
    // before it; nothing while none is complete. A run that is still
    // arriving is kept (with what follows), never more than MaxReplyBytes
    // and what came after its start.
    std::optional<QByteArray> take();
    void clear() { m_pending.clear(); }

    // What is kept for a reply still arriving.
    int pendingBytes() const { return int(m_pending.size()); }

private:
    QByteArray m_pending;
};

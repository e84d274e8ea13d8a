#pragma once

#include "link/commandframe.h"
#include "settings/readersettings.h"

#include <QByteArrayList>

#include <functional>
#include <optional>

class ReaderLink;

// Asking the reader for its settings: the USB read as a chain of four
// exchanges, and the six frames a serial read writes.
namespace SettingsRead {

// The four USB exchanges, in the order they run.
enum class Step { Status, PreAmble, PostAmble, RemoveData };

struct HidResult
{
    // Every field decoded before the read ended; a block that failed its
    // checks is absent while the read goes on.
    ReaderSettings settings;
    // The exchange that returned false; nothing when all four succeeded.
    std::optional<Step> failedAt;

    bool ok() const { return !failedAt; }
};

// Runs right after a step's reply was accepted, with only what that reply
// delivered, before the next request is written.
using StepDecoded = std::function<void(Step step, const ReaderSettings &decoded)>;

// Status, preamble, postamble, remove data, each with a fresh sequence number
// at offset 49 and only after the previous exchange succeeded. Traces
// "PreAmble Len=...", "PostAmble Len=..." and "Revome data Len=..." with the
// first five bytes of each block reply.
HidResult overHid(ReaderLink &link, const StepDecoded &onStep = {});

// The command code of a step.
quint8 commandOf(Step step);

// A read request: the frame with P1..P4 = 0 and seq at offset 49.
HidReport hidRequest(quint8 code, quint8 seq);
// The read-once path's request: seq as P1 (offset 4), offset 49 left zero.
HidReport legacyHidRequest(quint8 code, quint8 seq);

// The six bare frames of a serial read, in the order the reply is parsed:
// status, flags, output, preamble, postamble, remove data; P1..P4 = 0.
QByteArrayList serialRequests();
// The keyboard country does not exist over serial; the window switches it
// off after this many frames.
constexpr int SerialFramesBeforeKbCountry = 3;

} // namespace SettingsRead

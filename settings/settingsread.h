#pragma once

#include "settings/readersettings.h"

#include <QByteArrayList>
#include <QString>

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
    // The first step that failed: its exchange (the read ended there) or
    // its block's count or checksum (the read went on). Nothing when every
    // step delivered its values.
    std::optional<Step> failedAt;
    // Every exchange got its reply, whatever the replies held.
    bool answered = false;

    bool ok() const { return !failedAt; }
};

// The first of the three blocks that a decoded read lacks (a count above 31
// or a wrong checksum), if any.
std::optional<Step> firstMissingBlock(const ReaderSettings &settings);

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

// The older read-once path over USB: the sequence number travels as P1, the
// replies have the read-once layout. A step whose exchange fails is skipped
// and the rest still run; onDecoded gets what each answered step delivered.
// True when every exchange was answered.
bool readOnceOverHid(ReaderLink &link, const std::function<void(const ReaderSettings &decoded)> &onDecoded);

// The six bare frames of a serial read, in the order the reply is parsed:
// status, flags, output, preamble, postamble, remove data; P1..P4 = 0.
QByteArrayList serialRequests();
// The keyboard country does not exist over serial; the window switches it
// off after this many frames.
constexpr int SerialFramesBeforeKbCountry = 3;

// How long a serial read waits for the whole reply.
constexpr int SerialReplyTimeoutMs = 2000;

// Writes the six requests and gathers what comes in (at once) until the whole
// settings reply has come (SerialReplyFinder), the link closes or
// timeoutMs passes. The event loop runs meanwhile (so the output tab keeps
// showing what arrives) but holds user input back. The reply's bytes, from
// "1BT" to its CR. afterFrame runs after each request with the number sent.
std::optional<QByteArray> overSerial(ReaderLink &link, const std::function<void(int sent)> &afterFrame = {},
                                     int timeoutMs = SerialReplyTimeoutMs);

// Every setting of the link's transport, read as that transport reads them,
// with every block intact: what a write starts from and what a backup keeps.
// Nothing, and why in *error (words for a message of one line), when the
// reader did not answer in full.
std::optional<ReaderSettings> everySetting(ReaderLink &link, QString *error = nullptr);

} // namespace SettingsRead

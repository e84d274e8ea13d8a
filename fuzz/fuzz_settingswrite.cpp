// The write path from whatever the form may hold: every frame of both
// transports is built from arbitrary texts, flags and keyboard index, and
// must fit what the transport takes.

#include "fuzzsupport.h"
#include "link/commandframe.h"
#include "settings/keycodes.h"
#include "settings/settingswrite.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QList>

FUZZ_SET_UP()

namespace {

bool isBlock(quint8 code)
{
    return code == CmdSetPreAmble || code == CmdSetPostAmble || code == CmdSetRemoveData;
}

const QString &textFor(const SettingsWriteRequest &r, quint8 code)
{
    return code == CmdSetPreAmble ? r.preAmble : code == CmdSetPostAmble ? r.postAmble : r.removeData;
}

void checkFrame(const SettingsWriteSequence &sequence, const SettingsWriteRequest &r, int step,
                const QByteArray &frame)
{
    const quint8 code = sequence.command(step);
    const bool hid = sequence.transport() == WriteTransport::Hid;
    if (hid)
        FUZZ_CHECK(frame.size() == HidReport::Size);
    else
        FUZZ_CHECK(frame.size() <= HidReport::Size - 1);
    const QByteArray bare = hid ? frame.mid(HidReport::FrameOffset) : frame;
    FUZZ_CHECK(bare.size() >= 4);
    FUZZ_CHECK(quint8(bare[0]) == Frame::Esc && quint8(bare[1]) == Frame::B
               && quint8(bare[2]) == code);
    if (hid)
        FUZZ_CHECK(frame[0] == '\0');

    if (!isBlock(code)) {
        if (!hid)
            FUZZ_CHECK(bare.size() == Frame::Length);
        FUZZ_CHECK(quint8(bare[Frame::Length - 1]) == Frame::Cr);
        return;
    }
    const QString &text = textFor(r, code);
    const QByteArray codes = encodeKeyCodes(text);
    FUZZ_CHECK(quint8(bare[3]) == quint8(codes.size()));
    if (hid) {
        FUZZ_CHECK(bare.mid(4, codes.size()) == codes);
        FUZZ_CHECK(bare.mid(4 + codes.size()).count('\0') == bare.size() - 4 - codes.size());
    } else {
        FUZZ_CHECK(bare.size() == 4 + text.size());
        FUZZ_CHECK(bare.mid(4, codes.size()) == codes);
    }
}

void checkSequence(const SettingsWriteRequest &r, WriteTransport transport)
{
    const SettingsWriteSequence sequence(r, transport);
    FUZZ_CHECK(sequence.count() == (transport == WriteTransport::Hid ? 7 : 6));
    const QList<OverlongText> overlong = sequence.overlongTexts();
    const QString refusal = sequence.refusalText();
    FUZZ_CHECK(overlong.isEmpty() == refusal.isEmpty());
    FuzzSupport::consume(refusal);

    QList<QByteArray> sent;
    const int accepted = sequence.run([&](const QByteArray &frame) {
        sent.append(frame);
        return true;
    });
    if (!overlong.isEmpty()) {
        FUZZ_CHECK(accepted == 0 && sent.isEmpty());
        for (const OverlongText &t : overlong)
            FUZZ_CHECK(t.length > t.limit);
        return;
    }
    FUZZ_CHECK(accepted == sequence.count() && sent.size() == accepted);
    for (int step = 0; step < sequence.count(); ++step) {
        const QByteArray frame = sequence.frame(step);
        FUZZ_CHECK(frame == sent.at(step));
        checkFrame(sequence, r, step, frame);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    SettingsWriteRequest r;
    r.flags = in.ConsumeIntegral<quint8>();
    r.kbCountry = in.ConsumeIntegral<int>();
    const bool utf16 = in.ConsumeBool();
    const auto text = [&] {
        const std::string s = in.ConsumeRandomLengthString(256);
        return FuzzSupport::textFrom(QByteArray(s.data(), qsizetype(s.size())), utf16);
    };
    r.outputStart = text();
    r.outputLength = text();
    r.preAmble = text();
    r.postAmble = text();
    r.removeData = text();

    checkSequence(r, WriteTransport::Hid);
    checkSequence(r, WriteTransport::Serial);
    return 0;
}

// The write path from whatever the form may hold: every frame of both
// transports is built from arbitrary texts, flags and keyboard index, and
// must fit what the transport takes.

#include "fuzzsupport.h"
#include "link/commandframe.h"
#include "settings/keycodes.h"
#include "settings/settingsfile.h"
#include "settings/settingswrite.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QList>

#include <algorithm>

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
    // Bare frames on both transports; the link puts them in a report over USB.
    FUZZ_CHECK(frame.size() >= 4 && frame.size() <= HidReport::Size - 1);
    FUZZ_CHECK(quint8(frame[0]) == Frame::Esc && quint8(frame[1]) == Frame::B && quint8(frame[2]) == code);

    if (!isBlock(code)) {
        FUZZ_CHECK(frame.size() == Frame::Length);
        FUZZ_CHECK(quint8(frame[Frame::Length - 1]) == Frame::Cr);
        return;
    }
    const QString &text = textFor(r, code);
    const QByteArray codes = encodeKeyCodes(text);
    FUZZ_CHECK(quint8(frame[3]) == quint8(codes.size()));
    FUZZ_CHECK(frame.mid(4, codes.size()) == codes);
    FUZZ_CHECK(frame.mid(4 + codes.size()).count('\0') == frame.size() - 4 - codes.size());
    if (hid)
        FUZZ_CHECK(frame.size() == 4 + codes.size());
    else
        FUZZ_CHECK(frame.size() == std::max<qsizetype>(4 + codes.size(), std::min<qsizetype>(4 + text.size(), 64)));
}

void checkSequence(const SettingsWriteRequest &r, WriteTransport transport)
{
    const SettingsWriteSequence sequence(r, transport);
    FUZZ_CHECK(sequence.count() == (transport == WriteTransport::Hid ? 7 : 6));
    const QList<OverlongText> overlong = sequence.overlongTexts();
    const QString refusal = sequence.refusalText();
    FUZZ_CHECK(overlong.isEmpty() == refusal.isEmpty());
    FuzzSupport::consume(refusal);
    // A form the window lets through fits its frames, and a read shows each
    // of its texts as it was typed.
    const QStringList problems = writeRequestProblems(r, transport);
    FuzzSupport::consume(problems.join(QString()));
    if (problems.isEmpty()) {
        FUZZ_CHECK(overlong.isEmpty());
        for (const QString *typed : {&r.preAmble, &r.postAmble, &r.removeData}) {
            const QByteArray codes = encodeKeyCodes(*typed);
            FUZZ_CHECK(*typed == (transport == WriteTransport::Serial ? decodeSerialKeyCodes(codes) : decodeKeyCodes(codes)));
        }
    }

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

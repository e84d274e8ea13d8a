// tavrinctl's settings files: any bytes as the file, merged over a reader's
// settings as tavrinctl would, and the frames that write would send.

#include "fuzzsupport.h"
#include "settings/keycodes.h"
#include "settings/settingsfile.h"

FUZZ_SET_UP()

namespace {

// Settings as the two transports read them, with codes whose text needs care:
// a zero byte, a bracket, a symbol code, an unknown keyboard country.
ReaderSettings current(SettingsSource source)
{
    ReaderSettings s;
    s.source = source;
    s.firmwareVersion = QByteArrayLiteral("1BT V2.0");
    s.flags = 0x35;
    s.outputStart = 0xFD;
    s.outputLength = 16;
    if (source == SettingsSource::Hid)
        s.kbCountry = 7;
    s.preAmble = QByteArray("\x00[CR]\xb0", 6);
    s.postAmble = QByteArrayLiteral("\r\n");
    s.removeData = QByteArray("[\x00\xff", 3);
    return s;
}

void checkNumber(const QString &text, const std::optional<int> &wanted, quint8 now)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    FUZZ_CHECK(ok && value >= MinOutputValue && value <= MaxOutputValue);
    FUZZ_CHECK(value == (wanted ? *wanted : int(now)));
}

// The text is the window's, the codes are sent as they are.
void checkText(const QString &text, const std::optional<QByteArray> &codes, const std::optional<QString> &wanted,
               const QByteArray &now, SettingsSource source)
{
    FUZZ_CHECK(codes.has_value());
    FUZZ_CHECK(*codes == (wanted ? encodeKeyCodes(*wanted) : now)); // what the reader holds goes back unchanged
    FUZZ_CHECK(text == keyCodesText(*codes, source));
}

void checkMerge(const SettingsPatch &patch, SettingsSource source)
{
    const ReaderSettings now = current(source);
    const SettingsWriteRequest r = mergedWriteRequest(now, patch);
    // The bits without a name stay as the reader holds them unless the file
    // names them.
    FUZZ_CHECK((r.flags & UnnamedFlagBits)
               == (patch.unnamedFlags ? *patch.unnamedFlags : (*now.flags & UnnamedFlagBits)));
    if (patch.buzzer)
        FUZZ_CHECK(bool(r.flags & SettingsFlag::BuzzerEnable) == *patch.buzzer);
    if (patch.removeDataEnabled)
        FUZZ_CHECK(bool(r.flags & SettingsFlag::RemoveDataEnable) == *patch.removeDataEnabled);
    checkNumber(r.outputStart, patch.outputStart, *now.outputStart);
    checkNumber(r.outputLength, patch.outputLength, *now.outputLength);
    if (patch.keyboardCountry)
        FUZZ_CHECK(r.kbCountry >= 0 && r.kbCountry <= 255 && r.kbCountry == *patch.keyboardCountry);
    checkText(r.preAmble, r.preAmbleCodes, patch.preamble, *now.preAmble, source);
    checkText(r.postAmble, r.postAmbleCodes, patch.postamble, *now.postAmble, source);
    checkText(r.removeData, r.removeDataCodes, patch.removeData, *now.removeData, source);

    const WriteTransport transport =
        source == SettingsSource::Serial ? WriteTransport::Serial : WriteTransport::Hid;
    const SettingsWriteSequence sequence(r, transport);
    int sent = 0;
    const int accepted = sequence.run([&](const QByteArray &frame) {
        FUZZ_CHECK(frame.size() >= 4 && frame.size() <= 64); // an empty block is 4 bytes
        FuzzSupport::consume(frame);
        ++sent;
        return true;
    });
    FUZZ_CHECK(accepted == sent);
    // A file that passed its checks always fits its frames.
    FUZZ_CHECK(sequence.overlongTexts().isEmpty() && accepted == sequence.count());
    // ... and a text it gave comes back from the reader as it was written.
    const bool serial = transport == WriteTransport::Serial;
    for (const std::optional<QString> &text : {patch.preamble, patch.postamble, patch.removeData}) {
        if (!text)
            continue;
        // An older file's "[NUL]" comes back as the form's "[NULL]".
        const QString written = QString(*text).replace(QStringLiteral("[NUL]"), QStringLiteral("[NULL]"));
        const QByteArray codes = encodeKeyCodes(*text);
        FUZZ_CHECK(written == (serial ? decodeSerialKeyCodes(codes) : decodeKeyCodes(codes))
                   || written == roundTripKeyCodesText(codes, serial));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray json(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const WriteTransport transport : {WriteTransport::Hid, WriteTransport::Serial}) {
        QStringList errors;
        const std::optional<SettingsPatch> patch = parseSettingsPatch(json, transport, &errors);
        if (!patch) {
            FUZZ_CHECK(!errors.isEmpty());
            for (const QString &error : errors)
                FUZZ_CHECK(!error.contains(QLatin1Char('\n')) && error.size() < 400);
            FuzzSupport::consume(errors.join(QString()));
            continue;
        }
        for (const std::optional<int> &n : {patch->outputStart, patch->outputLength})
            FUZZ_CHECK(!n || (*n >= MinOutputValue && *n <= MaxOutputValue));
        checkMerge(*patch, transport == WriteTransport::Hid ? SettingsSource::Hid : SettingsSource::Serial);
    }
    return 0;
}

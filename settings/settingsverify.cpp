#include "settingsverify.h"

#include "link/readerlink.h"
#include "settings/nametables.h"
#include "settings/settingsread.h"

namespace SettingsVerify {

namespace {

struct FlagName
{
    quint8 bit;
    const char *label;
};

const FlagName flagNames[] = {
    {SettingsFlag::PreAmbleEnable, "PreAmble Enable"},
    {SettingsFlag::PostAmbleEnable, "PostAmble Enable"},
    {SettingsFlag::RemoveDataEnable, "Remove Data Enable"},
    {SettingsFlag::IdCodeAutoReport, "ID Code Auto Report"},
    {SettingsFlag::BuzzerEnable, "Buzzer Enable"},
};

QString onOff(quint8 flags, quint8 bit)
{
    return flagSet(flags, bit) ? QStringLiteral("on") : QStringLiteral("off");
}

// The text the form shows, and the codes themselves: two strings of codes
// may look alike on the form.
QString codesText(const QByteArray &codes, SettingsSource source)
{
    const QString hex = codes.isEmpty() ? QStringLiteral("no codes")
                                        : QString::fromLatin1(codes.toHex(' ').toUpper());
    return QStringLiteral("\"%1\" (%2)").arg(keyCodesText(codes, source), hex);
}

QString countryText(quint8 index)
{
    return index < KbCountryNames.size() ? KbCountryNames.at(index) : QString::number(index);
}

} // namespace

QList<Difference> compare(const ReaderSettings &sent, const ReaderSettings &held)
{
    QList<Difference> differences;
    const auto differ = [&differences](const char *field, const QString &a, const QString &b) {
        differences.append({QString::fromLatin1(field), a, b});
    };
    const SettingsSource source = sent.source;

    if (sent.flags) {
        const quint8 heldFlags = held.flags.value_or(0);
        for (const FlagName &f : flagNames) {
            if (flagSet(*sent.flags, f.bit) != flagSet(heldFlags, f.bit))
                differ(f.label, onOff(*sent.flags, f.bit), onOff(heldFlags, f.bit));
        }
    }
    // 0..255 as the command line and settings files give them; the form's
    // signed view stays in the form.
    const auto number = [&](const char *field, const std::optional<quint8> &a, const std::optional<quint8> &b) {
        if (a && a != b)
            differ(field, QString::number(*a), b ? QString::number(*b) : QStringLiteral("nothing"));
    };
    number("Output start", sent.outputStart, held.outputStart);
    number("Output length", sent.outputLength, held.outputLength);
    if (sent.kbCountry && sent.kbCountry != held.kbCountry)
        differ("KB Country", countryText(*sent.kbCountry),
               held.kbCountry ? countryText(*held.kbCountry) : QStringLiteral("nothing"));

    const auto codes = [&](const char *field, const std::optional<QByteArray> &a, const std::optional<QByteArray> &b) {
        if (a && a != b)
            differ(field, codesText(*a, source),
                   b ? codesText(*b, source)
                     : QStringLiteral("codes that cannot be read back (more than 31, or a damaged block)"));
    };
    codes("PreAmble", sent.preAmble, held.preAmble);
    codes("PostAmble", sent.postAmble, held.postAmble);
    codes("Remove Data", sent.removeData, held.removeData);
    return differences;
}

Outcome readBack(ReaderLink &link, const ReaderSettings &sent)
{
    Outcome outcome;
    ReaderSettings held;
    if (link.transport() == ReaderLink::Transport::Serial) {
        const std::optional<QByteArray> reply = SettingsRead::overSerial(link);
        if (!reply)
            return outcome;
        held = decodeSerialReply(*reply).value_or(ReaderSettings());
    } else {
        const SettingsRead::HidResult result = SettingsRead::overHid(link);
        if (!result.answered)
            return outcome;
        held = result.settings;
    }
    outcome.answered = true;
    outcome.differences = compare(sent, held);
    return outcome;
}

QString message(const Outcome &outcome)
{
    if (!outcome.answered)
        return QStringLiteral("The settings were sent, but the reader did not confirm them: it did not "
                              "answer when they were read back.");
    if (outcome.differences.isEmpty())
        return QString();
    QStringList lines{QStringLiteral("The reader does not hold what was sent:")};
    for (const Difference &d : outcome.differences)
        lines << QStringLiteral("%1: sent %2, the reader holds %3").arg(d.field, d.sent, d.held);
    return lines.join(QLatin1Char('\n'));
}

} // namespace SettingsVerify

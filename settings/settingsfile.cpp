#include "settingsfile.h"

#include "settings/keycodes.h"
#include "settings/nametables.h"
#include "settings/textcodec.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <algorithm>
#include <cmath>

namespace {

struct FlagField
{
    const char *name;
    quint8 bit;
    std::optional<bool> SettingsPatch::*member;
};

const FlagField flagFields[] = {
    {"preambleEnabled", SettingsFlag::PreAmbleEnable, &SettingsPatch::preambleEnabled},
    {"postambleEnabled", SettingsFlag::PostAmbleEnable, &SettingsPatch::postambleEnabled},
    {"removeDataEnabled", SettingsFlag::RemoveDataEnable, &SettingsPatch::removeDataEnabled},
    {"autoReport", SettingsFlag::IdCodeAutoReport, &SettingsPatch::autoReport},
    {"buzzer", SettingsFlag::BuzzerEnable, &SettingsPatch::buzzer},
};

struct TextField
{
    const char *name;
    std::optional<QByteArray> ReaderSettings::*codes;
    std::optional<QString> SettingsPatch::*member;
};

const TextField textFields[] = {
    {"preamble", &ReaderSettings::preAmble, &SettingsPatch::preamble},
    {"postamble", &ReaderSettings::postAmble, &SettingsPatch::postamble},
    {"removeData", &ReaderSettings::removeData, &SettingsPatch::removeData},
};

struct ByteField
{
    const char *name;
    std::optional<quint8> ReaderSettings::*value;
    std::optional<int> SettingsPatch::*member;
};

const ByteField byteFields[] = {
    {"outputStart", &ReaderSettings::outputStart, &SettingsPatch::outputStart},
    {"outputLength", &ReaderSettings::outputLength, &SettingsPatch::outputLength},
};

bool serialSource(const ReaderSettings &settings)
{
    return settings.source == SettingsSource::Serial;
}

QString textOf(const ReaderSettings &settings, const std::optional<QByteArray> &codes)
{
    return roundTripKeyCodesText(codes.value_or(QByteArray()), serialSource(settings));
}

} // namespace

QJsonObject settingsToJson(const ReaderSettings &settings)
{
    QJsonObject json;
    if (settings.firmwareVersion)
        json.insert(QStringLiteral("firmware"), TextCodec::cStringToText(*settings.firmwareVersion));
    for (const TextField &f : textFields) {
        if ((settings.*f.codes))
            json.insert(QLatin1String(f.name), textOf(settings, settings.*f.codes));
    }
    if (settings.flags) {
        for (const FlagField &f : flagFields)
            json.insert(QLatin1String(f.name), flagSet(*settings.flags, f.bit));
    }
    for (const ByteField &f : byteFields) {
        if ((settings.*f.value))
            json.insert(QLatin1String(f.name), int(*(settings.*f.value)));
    }
    // Bits and countries this program has no name for are kept as numbers:
    // a backup or an undo gives the reader back the very bytes it held.
    if (settings.flags && (*settings.flags & UnnamedFlagBits))
        json.insert(QStringLiteral("unnamedFlags"), int(*settings.flags & UnnamedFlagBits));
    if (settings.kbCountry) {
        const int index = *settings.kbCountry;
        json.insert(QStringLiteral("keyboardCountry"),
                    index < KbCountryNames.size() ? QJsonValue(KbCountryNames.at(index)) : QJsonValue(index));
    }
    return json;
}

QString settingLabel(const QString &key)
{
    static const QHash<QString, QString> labels = {
        {QStringLiteral("firmware"), QStringLiteral("Firmware")},
        {QStringLiteral("preamble"), QStringLiteral("Preamble")},
        {QStringLiteral("postamble"), QStringLiteral("Postamble")},
        {QStringLiteral("removeData"), QStringLiteral("Remove data")},
        {QStringLiteral("preambleEnabled"), QStringLiteral("PreAmble Enable")},
        {QStringLiteral("postambleEnabled"), QStringLiteral("PostAmble Enable")},
        {QStringLiteral("removeDataEnabled"), QStringLiteral("Remove Data Enable")},
        {QStringLiteral("autoReport"), QStringLiteral("ID Code Auto Report")},
        {QStringLiteral("buzzer"), QStringLiteral("Buzzer Enable")},
        {QStringLiteral("outputStart"), QStringLiteral("Output start")},
        {QStringLiteral("outputLength"), QStringLiteral("Output length")},
        {QStringLiteral("keyboardCountry"), QStringLiteral("KB Country")},
    };
    return labels.value(key, key);
}

namespace {

// The keys of the top-level object, in order, as the text spells them; a
// JSON parser keeps only the last of two equal keys and would hide the first.
QStringList topLevelKeys(const QByteArray &json)
{
    QStringList keys;
    int depth = 0;
    qsizetype stringStart = -1;
    bool escaped = false;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char c = json.at(i);
        if (stringStart >= 0) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                if (depth == 1) {
                    qsizetype next = i + 1;
                    while (next < json.size() && QChar::isSpace(uchar(json.at(next))))
                        ++next;
                    if (next < json.size() && json.at(next) == ':') {
                        const QByteArray literal = '[' + json.mid(stringStart, i - stringStart + 1) + ']';
                        keys << QJsonDocument::fromJson(literal).array().at(0).toString();
                    }
                }
                stringStart = -1;
            }
            continue;
        }
        if (c == '"')
            stringStart = i;
        else if (c == '{' || c == '[')
            ++depth;
        else if (c == '}' || c == ']')
            --depth;
    }
    return keys;
}

} // namespace

QStringList keyCodeTextProblems(const QString &field, const QString &text, WriteTransport transport,
                                TextNotation notation)
{
    QStringList problems;
    const bool serial = transport == WriteTransport::Serial;
    const bool file = notation == TextNotation::File;
    const QList<KeyCodeToken> tokens = keyCodeTokens(text);
    if (tokens.size() > WriteLimits::BlockCodes)
        problems << QStringLiteral("%1 is %2 key codes long; a read shows at most %3")
                        .arg(field)
                        .arg(tokens.size())
                        .arg(WriteLimits::BlockCodes);
    for (const KeyCodeToken &token : tokens) {
        const QString written = text.mid(token.position, token.length);
        if (token.name && !isControlCodeName(written.mid(1, written.size() - 2))
            && !(file && written == QLatin1String("[NUL]")))
            problems << QStringLiteral("%1: %2 at character %3 is not a control-code name")
                            .arg(field, quotedForMessage(written))
                            .arg(token.position + 1);
    }
    if (!problems.isEmpty())
        return problems;

    // A text is taken when its codes come back as the same text over the
    // transport: as the window shows them, or (in a file) in settingsToJson's
    // notation.
    // Older files spell 0x00 "[NUL]"; it stands for the form's "[NULL]".
    QString asShown = text;
    if (file) {
        for (auto token = tokens.crbegin(); token != tokens.crend(); ++token) {
            if (token->name && text.mid(token->position, token->length) == QLatin1String("[NUL]"))
                asShown.replace(token->position, token->length, QStringLiteral("[NULL]"));
        }
    }
    const QByteArray codes = encodeKeyCodes(text);
    if (asShown == (serial ? decodeSerialKeyCodes(codes) : decodeKeyCodes(codes))
        || (file && asShown == roundTripKeyCodesText(codes, serial)))
        return problems;

    // Name the first character that does not come back: one that no form
    // of its code shows, else one standing in where no stand-in is needed.
    const auto shownAs = [serial](quint8 code) {
        const QByteArray one(1, char(code));
        return serial ? decodeSerialKeyCodes(one) : decodeKeyCodes(one);
    };
    const auto isStandIn = [file](const QString &written, quint8 code) {
        return file
            && (written == QChar(char16_t(0x0100 | code)) || (code == 0 && written == QLatin1String("[NUL]")));
    };
    const KeyCodeToken *culprit = nullptr;
    for (const KeyCodeToken &token : tokens) {
        const QString written = text.mid(token.position, token.length);
        if (written != shownAs(token.code) && !isStandIn(written, token.code)) {
            culprit = &token;
            break;
        }
        if (!culprit && written != shownAs(token.code))
            culprit = &token;
    }
    const QString over = serial ? QStringLiteral("over serial") : QStringLiteral("over USB");
    if (!culprit) {
        problems << QStringLiteral("%1 would not come back as written %2").arg(field, over);
        return problems;
    }
    problems << QStringLiteral("%1: %2 at character %3 would be sent as %4 and read back %5 as %6")
                    .arg(field, quotedForMessage(text.mid(culprit->position, culprit->length)))
                    .arg(culprit->position + 1)
                    .arg(QString::fromLatin1(QByteArray(1, char(culprit->code)).toHex().toUpper()), over,
                         quotedForMessage(shownAs(culprit->code)));
    return problems;
}

std::optional<QString> outputNumberProblem(const QString &field, std::optional<double> number)
{
    if (!number || !std::isfinite(*number) || *number != std::floor(*number))
        return QStringLiteral("%1 must be a whole number from %2 to %3").arg(field).arg(MinOutputValue).arg(MaxOutputValue);
    if (*number < MinOutputValue || *number > MaxOutputValue)
        return QStringLiteral("%1 is %2, outside %3 to %4").arg(field).arg(*number).arg(MinOutputValue).arg(MaxOutputValue);
    return std::nullopt;
}

QStringList writeRequestProblems(const SettingsWriteRequest &request, WriteTransport transport)
{
    QStringList problems;
    const auto number = [&problems](const QString &label, const QString &text) {
        bool ok = false;
        const qlonglong value = text.toLongLong(&ok, 10);
        if (const std::optional<QString> why =
                outputNumberProblem(label, ok ? std::optional<double>(double(value)) : std::nullopt))
            problems << *why;
    };
    number(WriteFieldLabels::OutputStart, request.outputStart);
    number(WriteFieldLabels::OutputLength, request.outputLength);

    const auto text = [&](const QString &label, const QString &shown, const std::optional<QByteArray> &codes) {
        // Codes a read showed go back as they are; only their number is checked.
        if (!codes) {
            problems << keyCodeTextProblems(label, shown, transport, TextNotation::Form);
        } else if (codes->size() > WriteLimits::BlockCodes) {
            problems << QStringLiteral("%1 is %2 key codes long; a read shows at most %3")
                            .arg(label)
                            .arg(codes->size())
                            .arg(WriteLimits::BlockCodes);
        }
    };
    text(WriteFieldLabels::PreAmble, request.preAmble, request.preAmbleCodes);
    text(WriteFieldLabels::PostAmble, request.postAmble, request.postAmbleCodes);
    text(WriteFieldLabels::RemoveData, request.removeData, request.removeDataCodes);
    return problems;
}

QString quotedForMessage(const QString &text)
{
    constexpr qsizetype MaxShown = 60;
    QString shown;
    for (qsizetype i = 0; i < text.size() && i < MaxShown; ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            shown += QLatin1Char('\\') + c;
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F || c.category() == QChar::Other_Format
                 || c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph)
            shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    if (text.size() > MaxShown)
        shown += QStringLiteral("...");
    return QLatin1Char('"') + shown + QLatin1Char('"');
}

std::optional<SettingsPatch> parseSettingsPatch(const QByteArray &json, WriteTransport transport,
                                                QStringList *errors, bool strict, const QString &fileName)
{
    QStringList problems;
    const auto fail = [&problems, errors]() {
        if (errors)
            *errors = problems;
        return std::optional<SettingsPatch>();
    };

    if (json.size() > MaxSettingsFileBytes) {
        problems << QStringLiteral("longer than %1 bytes: not a settings file").arg(MaxSettingsFileBytes);
        return fail();
    }
    if (const std::optional<QString> mistake = jsonMistake(json, fileName)) {
        problems << *mistake;
        return fail();
    }
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject()) {
        problems << QStringLiteral("the settings must be one JSON object");
        return fail();
    }

    QStringList seen;
    for (const QString &key : topLevelKeys(json)) {
        if (seen.contains(key) && seen.count(key) == 1)
            problems << QStringLiteral("%1 is given more than once").arg(quotedForMessage(key));
        seen << key;
    }

    SettingsPatch patch;
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QString key = it.key();
        const QJsonValue value = it.value();
        bool known = false;

        if (key == QLatin1String("firmware"))
            continue; // read only: a backup carries it, a write ignores it

        for (const FlagField &f : flagFields) {
            if (key != QLatin1String(f.name))
                continue;
            known = true;
            if (value.isBool())
                patch.*f.member = value.toBool();
            else
                problems << QStringLiteral("\"%1\" must be true or false").arg(key);
        }
        for (const TextField &f : textFields) {
            if (key != QLatin1String(f.name))
                continue;
            known = true;
            if (!value.isString()) {
                problems << QStringLiteral("\"%1\" must be a text").arg(key);
                continue;
            }
            const QStringList wrong =
                keyCodeTextProblems(quotedForMessage(key), value.toString(), transport, TextNotation::File);
            if (wrong.isEmpty())
                patch.*f.member = value.toString();
            problems << wrong;
        }
        for (const ByteField &f : byteFields) {
            if (key != QLatin1String(f.name))
                continue;
            known = true;
            const std::optional<double> number = value.isDouble() ? std::optional(value.toDouble()) : std::nullopt;
            if (const std::optional<QString> why = outputNumberProblem(quotedForMessage(key), number))
                problems << *why;
            else
                patch.*f.member = int(*number);
        }
        if (key == QLatin1String("keyboardCountry")) {
            known = true;
            if (value.isNull())
                continue; // an older read of an unknown country: keep it
            // A number is a country byte without a name, as a read gives it.
            const bool number = value.isDouble() && value.toDouble() == value.toInt() && value.toInt() >= 0
                && value.toInt() <= 255;
            const int index = number ? value.toInt() : int(KbCountryNames.indexOf(value.toString()));
            if (!number && (!value.isString() || index < 0))
                problems << QStringLiteral("\"keyboardCountry\" must be one of %1, or a number from 0 to 255")
                                .arg(KbCountryNames.join(QStringLiteral(", ")));
            else if (strict && transport == WriteTransport::Serial)
                problems << QStringLiteral("\"keyboardCountry\" cannot be written over a serial port; "
                                           "leave it out or write over USB");
            else
                patch.keyboardCountry = index;
        }
        if (key == QLatin1String("unnamedFlags")) {
            known = true;
            const int bits = value.toInt(-1);
            if (!value.isDouble() || value.toDouble() != bits || bits < 0 || (bits & ~UnnamedFlagBits) != 0)
                problems << QStringLiteral("\"unnamedFlags\" must be a number made of the bits 32, 64 and 128");
            else
                patch.unnamedFlags = bits;
        }
        if (!known)
            problems << QStringLiteral("unknown field %1").arg(quotedForMessage(key));
    }
    if (!problems.isEmpty())
        return fail();
    return patch;
}

std::optional<QString> jsonMistake(const QByteArray &json, const QString &fileName)
{
    if (json.trimmed().isEmpty())
        return fileName.isEmpty() ? QStringLiteral("the settings are empty") : QStringLiteral("%1 is empty").arg(fileName);
    QJsonParseError parseError;
    QJsonDocument::fromJson(json, &parseError);
    if (parseError.error == QJsonParseError::NoError)
        return std::nullopt;
    // Lines and columns as an editor counts them: characters, not bytes.
    // The parser stops inside a bad word (nine, tru); the word's start is
    // where the user looks.
    qsizetype offset = std::clamp<qsizetype>(parseError.offset, 0, json.size());
    while (parseError.error == QJsonParseError::IllegalValue && offset > 0
           && (QChar::isLetterOrNumber(uchar(json.at(offset - 1))) || json.at(offset - 1) == '.'
               || json.at(offset - 1) == '-' || json.at(offset - 1) == '+'))
        --offset;
    const QByteArray before = json.left(offset);
    const qsizetype lineStart = before.lastIndexOf('\n') + 1;
    const qsizetype line = before.count('\n') + 1;
    const qsizetype column = QString::fromUtf8(before.mid(lineStart)).size() + 1;
    if (fileName.isEmpty())
        return QStringLiteral("line %1, column %2: %3").arg(line).arg(column).arg(parseError.errorString());
    return QStringLiteral("%1:%2:%3: %4").arg(fileName).arg(line).arg(column).arg(parseError.errorString());
}

QStringList leftOutOver(const SettingsPatch &patch, WriteTransport transport)
{
    QStringList notes;
    if (patch.keyboardCountry && transport == WriteTransport::Serial)
        notes << QStringLiteral("keyboardCountry is not written over a serial port");
    return notes;
}

QStringList takeOutUncarried(SettingsPatch &patch, WriteTransport transport)
{
    QStringList notes = leftOutOver(patch, transport);
    if (transport == WriteTransport::Serial)
        patch.keyboardCountry.reset();
    return notes;
}

SettingsWriteRequest mergedWriteRequest(const ReaderSettings &current, const SettingsPatch &patch)
{
    SettingsWriteRequest request;
    quint8 flags = current.flags.value_or(0);
    for (const FlagField &f : flagFields) {
        if ((patch.*f.member))
            flags = *(patch.*f.member) ? quint8(flags | f.bit) : quint8(flags & ~f.bit);
    }
    if (patch.unnamedFlags)
        flags = quint8((flags & ~UnnamedFlagBits) | *patch.unnamedFlags);
    request.flags = flags;

    const auto number = [](const std::optional<int> &wanted, const std::optional<quint8> &now) {
        return QString::number(wanted ? *wanted : int(now.value_or(0)));
    };
    request.outputStart = number(patch.outputStart, current.outputStart);
    request.outputLength = number(patch.outputLength, current.outputLength);
    request.kbCountry = patch.keyboardCountry ? *patch.keyboardCountry : int(current.kbCountry.value_or(0));

    // The form the window would hold with the file loaded over this read:
    // each text as the read shows its codes, and those codes sent as they
    // are. Over serial a data block is padded to its text's length, so the
    // window's texts ("[NULL]", not a file's "[NUL]") decide the bytes.
    const auto block = [&current](const std::optional<QString> &wanted, const std::optional<QByteArray> &now,
                                  QString &text, std::optional<QByteArray> &codes) {
        codes = wanted ? encodeKeyCodes(*wanted) : now.value_or(QByteArray());
        text = keyCodesText(*codes, current.source);
    };
    block(patch.preamble, current.preAmble, request.preAmble, request.preAmbleCodes);
    block(patch.postamble, current.postAmble, request.postAmble, request.postAmbleCodes);
    block(patch.removeData, current.removeData, request.removeData, request.removeDataCodes);
    return request;
}
